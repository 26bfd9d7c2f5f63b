#pragma once

// The full site names of a data set, kept in a small JSON file beside it: the data set holds only
// four-character codes, so the front end writes the names it built the data set with
// (`import ... DATA.dat`, `adjust ... -o OUT.dat`) as DATA.names.json, and `export` and `adjust`
// of that data set read them back. docs/project-format.md describes the file.

#include <string>

#include "dataset/adjusted_data_set.h"
#include "front/project/site_name_mapping.h"

namespace torvek::front {

// The names file of the data set at `dataSetPath`: its extension replaced by ".names.json".
std::string siteNamesPath(const std::string& dataSetPath);

// The names file's text for `names`.
std::string siteNamesText(const SiteNameTable& names);

// What reading the names file beside a data set found.
enum class SiteNamesFound {
    kNames,     // read, and it names every site of the data set
    kNone,      // there is no such file
    kUnusable,  // it cannot be read, is damaged or does not name every site: `error` says why
};

// Reads the names file at `path` for `dataSet` into `names`. Files above 64 MiB are refused.
SiteNamesFound readSiteNamesFile(const std::string& path, const AdjustedDataSet& dataSet,
                                 SiteNameTable& names, std::string& error);

}  // namespace torvek::front
