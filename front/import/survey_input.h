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
    // Refused whatever the name says (inputProblem names them):
    kEmptyFile,    // no bytes at all
    kUtf16Text,    // text in UTF-16: a byte order mark FF FE or FE FF, or every other byte NUL
    kTextWithNul,  // text with a NUL byte in it
    kNotADataSet,  // binary bytes whose counts and size do not agree with the data set layout
};

// The format of a file from its first bytes. An empty head is an empty file and UTF-16 text is
// named as such, whatever the name; files whose name ends in ".json" are projects whatever else
// they hold (their parse errors say what is wrong); text whose first line break or four bytes come
// before a NUL is text with a NUL; other bytes with a NUL among them are a data set (recogniseFile
// then checks them against the layout); text is recognised by its first element or record.
InputFormat recogniseInput(std::string_view head, const std::string& path);

// The format of the file at `path`, from up to its first 16 KiB and its size: a data set only
// when its counts and size agree with the layout (whole, or short by at most the records the
// reader takes as blank, kMissingRecordAllowance), else kNotADataSet. A file that is not a regular
// file (a pipe, say) is a project when its name ends in ".json", else a data set, without reading.
InputFormat recogniseFile(const std::string& path);

// Why the file at `path`, recognised as `format`, cannot be read: "PATH: is an empty file", "PATH:
// line 3 holds a NUL byte ...", "PATH: is UTF-16 text ...", "PATH: is not a data set ..."; empty
// for the other formats.
std::string inputProblem(const std::string& path, InputFormat format);

// "PATH: line L holds a NUL byte ..." for the first NUL of `text`, the whole text of the file at
// `path`; empty when there is none.
std::string nulByteProblem(const std::string& path, std::string_view text);

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

// `error` of importing a survey file's project document with the place in the file of the vector
// it names ("...: line 12: vectors[0] (...).dX: ..."), from `places` (ImportReport::
// vectorPlaces); unchanged when it names no vector or the place is unknown.
std::string withVectorPlace(const std::string& error, const std::vector<std::string>& places);

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
