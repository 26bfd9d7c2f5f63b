# Writes a C++ source that holds the page's files (front/web) as byte arrays, for webAssets().
# Called as: cmake -DOUTPUT=file.cpp -DINPUTS="a|b|c" -P embed_web_files.cmake
string(REPLACE "|" ";" INPUTS "${INPUTS}")
set(body "")
set(table "")
set(index 0)
foreach(input IN LISTS INPUTS)
    get_filename_component(name ${input} NAME)
    file(READ ${input} hex HEX)
    string(LENGTH "${hex}" hex_length)
    math(EXPR size "${hex_length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f])" "\\1\n" bytes "${bytes}")
    string(APPEND body "const unsigned char kFile${index}[] = {\n${bytes}0};\n")
    string(APPEND table "        {\"${name}\", {reinterpret_cast<const char*>(kFile${index}), ${size}}},\n")
    math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Generated from front/web by embed_web_files.cmake; do not edit.\n"
    "#include \"front/serve/web_assets.h\"\n\nnamespace torvek::front::serve {\nnamespace {\n"
    "${body}}  // namespace\n\nconst std::vector<WebAsset>& webAssets() {\n"
    "    static const std::vector<WebAsset> assets{\n${table}    };\n    return assets;\n}\n\n"
    "}  // namespace torvek::front::serve\n")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
