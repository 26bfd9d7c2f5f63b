#pragma once

// The inputs of `import` and `adjust`: a data set, a project, or a survey file of one of the
// formats the importers read, recognised from its content. Every input becomes the same project
// document, and the project import builds the data set from it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "front/project/project_json.h"
#include "front/project/vector_covariance.h"

namespace torvek::front {

enum class InputFormat {
    kDataSet,           // the binary data set of the program
    kProject,           // the JSON project document
    kGpsVectorText,     // plain-text GPS vector records
    kGamaLocal,         // the local XML form of the open adjustment package
    kGamaG3,            // its geodetic XML form
    kDynaStations,      // a DnaXmlFormat station file
    kDynaMeasurements,  // a DnaXmlFormat measurement file
    kUnrecognised,
};

// The format of a file from its first bytes. Files whose name ends in ".json" are projects
// whatever they hold (their parse errors say what is wrong); bytes with a NUL among them, and an
// empty file, are a data set; text is recognised by its first element or record.
InputFormat recogniseInput(std::string_view head, const std::string& path);

// The format of the file at `path`, from up to its first 16 KiB. A file that is not a regular
// file (a pipe, say) is a project when its name ends in ".json", else a data set, without reading.
InputFormat recogniseFile(const std::string& path);

// A phrase for messages: "a GPS vector text file", ...
const char* formatDescription(InputFormat format);

struct SurveyOptions {
    // Overrides the covariance unit of the survey formats; refused for projects and data sets,
    // which state their units.
    std::optional<CovarianceUnit> covarianceUnit;
};

// The project document of `paths`: one project, or survey files read together (vectors from
// some, control and coordinates from others; a DynaML station file with its measurement file, in
// either order, or alone as the control of other files), joined by mergeSurveys. `sourceName`
// names the files in later messages. False with `report.error` set ("<file>: <place>: <what>",
// or both files for a site they place apart); report.notes and report.warnings receive what the
// importer assumed, left out or found doubtful.
bool readInputDocument(const std::vector<std::string>& paths, const SurveyOptions& options,
                       Json& document, std::string& sourceName, ImportReport& report);

// True when the inputs are one data set file (adjust runs it as it is).
bool isDataSetInput(const std::vector<std::string>& paths);

// Builds the data set of project or survey inputs and the full names of its sites, printing
// notes and warnings to the standard error stream ("note: ...", "warning: ..."), and errors as
// "torvek-front: ...". False on error. `document`, when given, receives the project document the
// data set was built from.
bool buildInputDataSet(const std::vector<std::string>& paths, const SurveyOptions& options,
                       const ImportOptions& importOptions, AdjustedDataSet& dataSet,
                       SiteNameTable& names, Json* document = nullptr);

// The full names of the sites of a data set built from `paths` (a project or survey files, as
// for buildInputDataSet), without printing its notes. False with `error` set when they cannot be
// read or their names cannot be given codes.
bool readSiteNames(const std::vector<std::string>& paths, const SurveyOptions& options,
                   SiteNameTable& names, std::string& error);

// True when `path` is an existing regular file of a project or survey format: something a person
// keeps, which an output named by mistake must not replace.
bool holdsInputData(const std::string& path);

// The first of `outputs` that names one of `inputs` (the same path, or the same existing file),
// or an empty text. Outputs never overwrite an input.
std::string outputNamingAnInput(const std::vector<std::string>& outputs,
                                const std::vector<std::string>& inputs);

}  // namespace torvek::front
