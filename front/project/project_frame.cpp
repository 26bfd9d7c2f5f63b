#include "front/project/project_frame.h"

namespace torvek::front {

ProjectFrame projectFrame(const Json& project) {
    ProjectFrame frame;
    if (!project.is_object()) {
        return frame;
    }
    const auto settings = project.find("settings");
    if (settings == project.end() || !settings->is_object()) {
        return frame;
    }
    const auto crs = settings->find("frame");
    if (crs != settings->end() && crs->is_string()) {
        frame.crs = crs->get<std::string>();
    }
    const auto epoch = settings->find("epoch");
    if (epoch != settings->end() && epoch->is_number()) {
        frame.epoch = epoch->get<double>();
    }
    return frame;
}

}  // namespace torvek::front
