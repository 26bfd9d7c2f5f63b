#include "front/project/adjustment_model.h"

namespace torvek::front {

std::optional<AdjustmentModel> adjustmentModelNamed(const std::string& name) {
    if (name == "rigorous") {
        return AdjustmentModel::kRigorous;
    }
    if (name == "classic") {
        return AdjustmentModel::kClassic;
    }
    return std::nullopt;
}

const char* adjustmentModelName(AdjustmentModel model) {
    return model == AdjustmentModel::kRigorous ? "rigorous" : "classic";
}

AdjustmentModel modelForRun(std::optional<AdjustmentModel> asked,
                            std::optional<AdjustmentModel> projectModel) {
    return asked ? *asked : projectModel ? *projectModel : kDefaultAdjustmentModel;
}

std::optional<AdjustmentModel> projectAdjustmentModel(const Json& project) {
    if (!project.is_object()) {
        return std::nullopt;
    }
    const auto settings = project.find("settings");
    if (settings == project.end() || !settings->is_object()) {
        return std::nullopt;
    }
    const auto model = settings->find("model");
    if (model == settings->end() || !model->is_string()) {
        return std::nullopt;
    }
    return adjustmentModelNamed(model->get<std::string>());
}

}  // namespace torvek::front
