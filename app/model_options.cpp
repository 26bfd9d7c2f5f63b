#include "app/model_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace torvek {
namespace {

bool fail(std::string& error, const char* text, const char* value) {
    error = std::string("Error: ") + text + (value != nullptr ? value : "") + "\n";
    return false;
}

bool parseRounds(const char* text, int& rounds) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 1 || value > kMaxSnoopRounds)
        return false;
    rounds = static_cast<int>(value);
    return true;
}

}  // namespace

bool parseModelOptions(int argc, const char* const* argv, ModelOptions& options, int& next,
                       std::string& error) {
    bool modelNamed = false, needsRigorous = false;
    for (next = 1; next < argc && argv[next] != nullptr && std::strncmp(argv[next], "--", 2) == 0;
         next += 2) {
        const char* option = argv[next];
        if (std::strcmp(option, "--preanalysis") == 0) {
            options.preanalysis = true;
            --next;  // a flag without a value
            continue;
        }
        const char* value = next + 1 < argc ? argv[next + 1] : nullptr;
        if (value == nullptr)
            return fail(error, "The option needs a value: ", option);
        if (std::strcmp(option, "--model") == 0) {
            if (std::strcmp(value, "classic") != 0 && std::strcmp(value, "rigorous") != 0)
                return fail(error, "Unknown model (classic or rigorous): ", value);
            options.rigorous = std::strcmp(value, "rigorous") == 0;
            modelNamed = true;
        } else if (std::strcmp(option, "--snoop") == 0) {
            if (!parseRounds(value, options.snoopRounds))
                return fail(
                    error,
                    ("The rounds of --snoop must be 1 to " + std::to_string(kMaxSnoopRounds) + ": ")
                        .c_str(),
                    value);
            needsRigorous = true;
        } else if (std::strcmp(option, "--scale-by") == 0) {
            if (std::strcmp(value, "apriori") != 0 && std::strcmp(value, "aposteriori") != 0)
                return fail(error, "--scale-by takes apriori or aposteriori: ", value);
            options.scaleByPosterior = std::strcmp(value, "aposteriori") == 0;
            needsRigorous = true;
        } else if (std::strcmp(option, "--statistics") == 0) {
            if (value[0] == '\0')
                return fail(error, "--statistics needs a file name", nullptr);
            options.statisticsPath = value;
            needsRigorous = true;
        } else {
            return fail(error, "Unknown option: ", option);
        }
    }
    if (options.preanalysis && !(modelNamed && options.rigorous))
        return fail(error,
                    "--preanalysis needs --model rigorous: the classic model has no "
                    "pre-analysis",
                    nullptr);
    if (options.preanalysis && (options.snoopRounds > 0 || options.scaleByPosterior))
        return fail(error,
                    "--preanalysis takes neither --snoop nor --scale-by aposteriori: "
                    "planned vectors have no residuals",
                    nullptr);
    if (needsRigorous && !(modelNamed && options.rigorous))
        return fail(error, "--snoop, --scale-by and --statistics need --model rigorous", nullptr);
    return true;
}

}  // namespace torvek
