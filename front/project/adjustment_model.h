#pragma once

#include <optional>
#include <string>

#include "front/project/project_json.h"

namespace torvek::front {

// The model an adjustment runs with. The rigorous model weights every vector by its full
// covariance and gives redundancy numbers, studentized residuals, minimal detectable biases and
// relative precisions (the sparse engine); the classic model keeps north/east/up sigmas and the
// program's own tests (either engine).
enum class AdjustmentModel { kRigorous, kClassic };

// The model a project or the command line names: "rigorous" or "classic"; nullopt for any other
// text.
std::optional<AdjustmentModel> adjustmentModelNamed(const std::string& name);

// The model's name as the project and the command line write it.
const char* adjustmentModelName(AdjustmentModel model);

// The model of a run when neither the command line nor the project names one.
inline constexpr AdjustmentModel kDefaultAdjustmentModel = AdjustmentModel::kRigorous;

// The model a run takes: the one `asked` for (the command line, the workspace's choice), else the
// one the project names, else kDefaultAdjustmentModel.
AdjustmentModel modelForRun(std::optional<AdjustmentModel> asked,
                            std::optional<AdjustmentModel> projectModel);

// The model a project document names in settings.model; nullopt when it names none (or is not a
// project document). The project reader has already refused any other value.
std::optional<AdjustmentModel> projectAdjustmentModel(const Json& project);

}  // namespace torvek::front
