#pragma once

#include <string>
#include <vector>

#include "front/documents/grid_coordinates.h"
#include "front/import/survey_input.h"

namespace torvek::front {

// `import PROJECT.json DATA-SET [--with-results]`: builds the data set file from the project.
// Notes go to the standard error stream; on any error nothing is written. Returns an exit code
// (0, or kExitBadInput).
int runImport(const std::string& projectPath, const std::string& dataSetPath, bool withResults);

// `import FILE... -o OUTPUT`: converts a project or survey files (a DynaML pair as its two files)
// into a project document (`projectOutput`) or a data set. Nothing is written over an input; a
// project that converts but cannot become a data set yet (say, two names that read alike in four
// characters) is still written, with a warning saying why. Returns 0 or kExitBadInput.
struct ImportRequest {
    std::vector<std::string> inputs;
    std::string output;
    bool projectOutput = false;
    bool withResults = false;
    SurveyOptions survey;
};
int runImportRequest(const ImportRequest& request);

enum class ExportFormat { kJson, kCsv };

// `export DATA-SET [--json|--csv] [-o FILE] [--names FILE...] [--geojson FILE] [--kml FILE]
// [--geojson-vectors FILE] [--crs SYSTEM] [--frame CRS] [--epoch YEAR]`: writes every field of the
// data set, results included, to FILE or, when `output` is empty, to the standard output (unless
// only GIS files are asked for), and the results as GeoJSON and KML (gis_export.h), with grid
// coordinates in SYSTEM when given; with a file for the vectors' GeoJSON, the other one holds the
// sites alone. With `names` (the project or survey files the data set was built from) the sites are
// named in full, with their codes beside the names. Nothing is written over an input, and two
// outputs may not name one file. Returns 0, or kExitBadInput after saying what is wrong.
struct ExportRequest {
    std::string dataSet;
    ExportFormat format = ExportFormat::kJson;
    std::string output;
    std::vector<std::string> names;
    SurveyOptions survey;        // how survey files among `names` are read
    bool writeProject = true;    // the JSON or CSV export, to `output` or the standard output
    std::string geoJson;         // empty: none
    std::string geoJsonVectors;  // the vectors' GeoJSON apart from the sites'; empty: none
    std::string kml;             // empty: none
    std::string crs;             // empty: no grid coordinates
    CoordinateFrame frame;       // the frame of the data set's coordinates (--frame, --epoch)
};
int runExport(const ExportRequest& request);

}  // namespace torvek::front
