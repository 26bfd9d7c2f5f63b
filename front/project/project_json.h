#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "dataset/adjusted_data_set.h"
#include "front/project/planned_vectors.h"
#include "front/project/site_name_mapping.h"

namespace torvek::front {

// The readable project format (docs/project-format.md): settings, sites and vectors as JSON, and,
// in exported files, every result a run stores. JSON objects keep their key order so that an
// exported file reads in the order of the documentation.
using Json = nlohmann::ordered_json;

struct ImportOptions {
    // Read the "results" sections too (they come from a run). Off for preparing a run, so that
    // stale results of an edited export never reach the program; on to turn an exported file back
    // into the data set it came from.
    bool withResults = false;
    // Add the planned vectors to the data set, for a pre-analysis (else they are only checked);
    // those without a precision take it from `sigmaModel`.
    bool withPlanned = false;
    SigmaModel sigmaModel = kDefaultSigmaModel;
};

// What an import says besides its result.
struct ImportReport {
    // Things the import changed or assumed (padded or cut names, a reference point computed from
    // the sites, sigmas the program will hold within its limits). One line each.
    std::vector<std::string> notes;
    // Things that look wrong but may be right (sigmas of an implausible size). One line each.
    std::vector<std::string> warnings;
    // The first error: "<source>: <line:column or field path>: <what is wrong>". Empty on success.
    std::string error;
    // Survey files only (readInputDocument): the place in its file of each vector of the project
    // document ("line 12"), by its index, so that an error about vectors[i] can name it.
    std::vector<std::string> vectorPlaces;
    // The sites' full names by their codes in the data set (filled on success).
    SiteNameTable siteNames;
};

// Builds a data set from the project text. `sourceName` names the file in messages. On success
// `dataSet` is replaced (its file name is kept) and true is returned; on any error `dataSet` is
// left as it was and `report.error` says what is wrong and where. Comments (// and /* */) are
// allowed in the text. Texts longer than kMaximumProjectSize bytes are refused.
bool importProject(const std::string& text, const std::string& sourceName,
                   const ImportOptions& options, AdjustedDataSet& dataSet, ImportReport& report);

// The deepest nesting of arrays and objects taken; a project needs four levels.
inline constexpr std::size_t kMaximumNesting = 64;

// Parses a project text (comments allowed) into `document`. False with `error` set to
// "<source>: line L, column C: <what>" when it is not JSON, is larger than kMaximumProjectSize,
// nests arrays and objects deeper than kMaximumNesting, or holds anything else the parser refuses
// (a number beyond the range of a double among them).
bool parseProjectText(const std::string& text, const std::string& sourceName, Json& document,
                      std::string& error);

// importProject for a document already parsed (the importers of survey files build one).
bool importProjectDocument(const Json& document, const std::string& sourceName,
                           const ImportOptions& options, AdjustedDataSet& dataSet,
                           ImportReport& report);

// The largest network a project is read for: the largest the sparse engine has been measured to
// adjust on a development machine (100,000 sites in 1.25 GB, docs/large-engine.md).
inline constexpr std::size_t kLargestProjectSites = 100000;
// The most vectors a project or survey file may hold: eight for each of kLargestProjectSites (the
// 100,000-site network measured had 596,840). A file with more is refused as soon as its count
// shows, before it has taken more memory than a few times its size.
inline constexpr std::size_t kLargestProjectVectors = 8 * kLargestProjectSites;
// Bytes a project may take per site: an export takes about 7 KB for a site with its six vectors,
// their covariances and results; twice that leaves room for comments, indentation and long names.
inline constexpr std::size_t kProjectBytesPerSite = 16384;
// The largest project text read, in bytes: whatever an export or a save of a network the engines
// adjust writes (kLargestProjectSites of kProjectBytesPerSite each, about 1.5 GiB) reads back;
// a file beyond it is refused before it is read.
inline constexpr std::size_t kMaximumProjectSize = kLargestProjectSites * kProjectBytesPerSite;

// Every field of the data set that the program reads or writes, as a project document: settings,
// sites and vectors with their results, the adjustment statistics and, when they are not the
// values an import writes, the bytes the program preserves without reading them. Numbers that are
// not finite are written as the strings "NaN", "Infinity" and "-Infinity". Sites are named by
// `names` (with their "code" where it differs from the name), else by their codes.
Json exportProject(const AdjustedDataSet& dataSet, const SiteNameTable& names = {});

// Any project document as text, laid out as exportProjectText lays out an export.
std::string projectText(const Json& document);

// exportProject as text, indented by two blanks, with a final line feed. Bytes of names and texts
// that are not UTF-8 are replaced by U+FFFD.
std::string exportProjectText(const AdjustedDataSet& dataSet, const SiteNameTable& names = {});

// Known ellipsoids by name: WGS84 and GRS80 (semi-major axis in metres, reciprocal flattening).
struct NamedEllipsoid {
    const char* name;
    double semiMajorAxis;
    double inverseFlattening;
};
const std::vector<NamedEllipsoid>& namedEllipsoids();

}  // namespace torvek::front
