#include "front/run/run_programs.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>

namespace torvek::front {

namespace {

// `explicitProgram` when given, else the environment variable `variable` when set, else `name`
// beside the running executable.
std::string locateNamedProgram(const std::string& explicitProgram, const char* variable,
                               const std::string& name) {
    if (!explicitProgram.empty()) {
        return explicitProgram;
    }
    if (const char* fromEnvironment = std::getenv(variable)) {
        if (*fromEnvironment != '\0') {
            return fromEnvironment;
        }
    }
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string path(self, static_cast<std::size_t>(length));
        const std::size_t slash = path.find_last_of('/');
        if (slash != std::string::npos) {
            return path.substr(0, slash + 1) + name;
        }
    }
    return name;
}

}  // namespace

int sitesInUse(const AdjustedDataSet& input) {
    int count = 0;
    for (const SiteRecord& site : input.sites()) {
        count += site.inUse != 0 ? 1 : 0;
    }
    return count;
}

std::string locateProgram(const std::string& explicitProgram) {
    return locateNamedProgram(explicitProgram, "TORVEK_BINARY", "torvek");
}

std::string locateLargeProgram(const std::string& explicitProgram) {
    return locateNamedProgram(explicitProgram, "TORVEK_LARGE_BINARY", "torvek-large");
}

std::string locateServeProgram() {
    return locateNamedProgram({}, "TORVEK_FRONT_SERVE_BINARY", "torvek-front-serve");
}

EngineChoice chooseEngine(EngineChoice choice, int sitesInUse) {
    if (choice != EngineChoice::kAuto) {
        return choice;
    }
    return sitesInUse > kStandardEngineSiteLimit ? EngineChoice::kLarge : EngineChoice::kStandard;
}

}  // namespace torvek::front
