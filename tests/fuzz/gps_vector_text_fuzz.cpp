// Fuzz target: the GPS vector text importer on arbitrary bytes, then the project import of what
// it accepts.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "front/import/gps_vector_text.h"
#include "fuzz/fuzz_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvek::front;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    SurveyNetwork network;
    try {
        looksLikeGpsVectorText(text);
        readGpsVectorText(text, std::nullopt, network);
    } catch (const SurveyError&) {
        return 0;
    }
    checkSurveyNetwork(network);
    return 0;
}
