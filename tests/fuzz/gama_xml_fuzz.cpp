// Fuzz target: both XML importers of the open adjustment package on arbitrary bytes, then the
// project import of what they accept.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "front/import/gama_xml.h"
#include "front/import/xml_reading.h"
#include "fuzz/fuzz_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvek::front;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    xml::rootName(text);
    for (int form = 0; form < 2; ++form) {
        SurveyNetwork network;
        try {
            if (form == 0) {
                readGamaLocal(text, std::nullopt, network);
            } else {
                readGamaG3(text, std::nullopt, network);
            }
        } catch (const SurveyError&) {
            continue;
        }
        checkSurveyNetwork(network);
    }
    return 0;
}
