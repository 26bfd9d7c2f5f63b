// Fuzz target: the DynaML importer on arbitrary bytes, split after the first document's closing
// tag into the station file and the measurement file (the seeds are the two files joined).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "front/import/dynaml.h"
#include "fuzz/fuzz_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvek::front;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    constexpr std::string_view kClose = "</DnaXmlFormat>";
    const std::size_t end = text.find(kClose);
    const std::size_t split = end == std::string_view::npos ? size / 2 : end + kClose.size();
    dynaFileKind(text);
    SurveyNetwork network;
    try {
        readDynaml(text.substr(0, split), text.substr(split), std::nullopt, network);
    } catch (const SurveyError&) {
        return 0;
    }
    checkSurveyNetwork(network);
    return 0;
}
