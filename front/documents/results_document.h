#pragma once
// The results of a run as a document for a client, independent of its file format: a header
// saying what the document is about, then tables (statistics with a reading of the chi-square
// test, coordinates in every form, precisions, residuals, vectors left out). The HTML page and
// the RTF document render the same tables, so they never disagree.

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "front/documents/grid_coordinates.h"
#include "front/documents/network_plot.h"
#include "front/documents/site_coordinates.h"
#include "front/project/project_json.h"
#include "front/results/network_results.h"
#include "front/results/rigorous_statistics.h"

namespace torvek::front {

// Who a results document is for and what it refers to, as the project states it; empty texts
// were not given.
struct DocumentHeader {
    std::string project;   // the project's title
    std::string client;    // for whom the survey was made
    std::string surveyor;  // who made it
    std::string datum;  // the datum (reference frame) of the coordinates, as the project names it
    std::string epoch;  // the epoch of the coordinates, as the project gives it
};

// The header fields a project document gives ("title", "client", "surveyor", "datum", "epoch");
// fields it lacks, or that are not texts, stay empty.
DocumentHeader readDocumentHeader(const Json& project);

// Everything the documents of one run show.
struct ResultsView {
    NetworkResults results;
    DocumentHeader header;
    std::vector<SiteCoordinates> coordinates;  // one per results.sites
    bool hasGrid = false;                      // grid coordinates were asked for and computed
    GridSystemDescription grid;
    PlotOptions plot;
    // The rigorous model's statistics, when the run computed them (see attachRigorousStatistics
    // in rigorous_tables.h): their tables follow the classic ones.
    std::optional<RigorousStatistics> rigorous;
};

// The view of a run: the coordinates of every site, in the grid system when `grid` is open.
ResultsView makeResultsView(NetworkResults results, DocumentHeader header, const GridSystem* grid,
                            PlotOptions plot = {});

enum class CellAlignment { kLeft, kRight };

struct TableColumn {
    std::string heading;
    CellAlignment alignment = CellAlignment::kRight;
};

// A column headed `heading`, its cells aligned left (names, words) or right (numbers).
TableColumn leftColumn(const std::string& heading);
TableColumn rightColumn(const std::string& heading);

// The text of a cell with no value: a number that is not finite, a quantity not given.
inline constexpr const char* kMissingCell = "-";

// The columns a site's precision begins with in every table of them: the site, its standard
// deviations north, east and up and the semi-axes of its ellipse (mm).
std::vector<TableColumn> sitePrecisionColumns();

// `value` in the printf `format` of one double, or kMissingCell when it is not finite.
std::string numberCell(const char* format, double value);
// `metres` as millimetres to 0.1 mm ("%.1f"), or kMissingCell when it is not finite.
std::string millimetresCell(double metres);

enum class RowStyle {
    kNormal,
    kFlagged,  // a vector above the tau critical value
    kMuted,    // a site or vector without results
    kPassed,   // a test passed
    kFailed,   // a test failed
};

// A row holds one text per column; a row with fewer cells lets its last cell span the rest.
struct TableRow {
    std::vector<std::string> cells;
    RowStyle style = RowStyle::kNormal;
};

struct ResultTable {
    std::string id;            // a short name: "statistics", "geodetic", "residuals", ...
    std::string title;         // the heading above the table
    std::string introduction;  // a paragraph before it (may be empty)
    std::vector<TableColumn> columns;
    std::vector<TableRow> rows;
    std::vector<std::string> notes;  // paragraphs after it
};

// The value of a header field the project leaves empty.
inline constexpr const char* kNotStated = "not stated";

struct ResultsDocument {
    std::string title;                                        // the document's heading
    std::vector<std::pair<std::string, std::string>> header;  // label, value; the project first
    std::vector<ResultTable> tables;
};

// How much of a network the documents show. A network of up to kWholeDocumentSites sites and
// kWholeDocumentVectors vectors gets every table whole. A larger one gets a document a person can
// open and read: the statistics, the coordinates, the flagged observations and the largest
// residuals and tests (at least kWorstRowsShown, every flagged one up to kMostFlaggedRowsShown);
// the full tables are in the CSV, GIS and statistics files. (At 30,000 sites the whole tables
// made an RTF of 230 MB that no word processor opens; the national network's 5,589 vectors made
// one of 23 MB, over a thousand pages. 2,000 vector rows are about 40 pages.)
inline constexpr std::size_t kWholeDocumentSites = 1000;
inline constexpr std::size_t kWholeDocumentVectors = 2000;
inline constexpr std::size_t kWorstRowsShown = 200;
inline constexpr std::size_t kMostFlaggedRowsShown = 1000;

struct DocumentScope {
    bool whole = true;
    std::size_t sites = 0;    // of the network
    std::size_t vectors = 0;  // of the network
    // Rows of a table of observations sorted worst first whose first `flagged` rows are flagged.
    std::size_t rowsShown(std::size_t flagged) const;
};

// The scope of the documents of `results`.
DocumentScope documentScope(const NetworkResults& results);

// Cuts `table` (rows worst first) to `shown` rows of its `total`, saying so in a note that names
// the rows kept (`kept`, e.g. "largest") and where every row is.
void keepWorstRows(ResultTable& table, std::size_t shown, std::size_t total,
                   const char* kept = "largest");

// The document of a view. The statistics table always comes; the coordinate and vector tables
// only after an adjustment that succeeded; the grid table only with grid coordinates; the tables
// of the rigorous model only with its statistics.
ResultsDocument buildResultsDocument(const std::string& title, const ResultsView& view);

// This front end's name and version: "torvek-front 0.1.0".
std::string softwareVersion();

// An angle in degrees as signed sexagesimal text with `decimals` decimals of the seconds:
// "-0 22 56.87". "-" when it is not finite.
std::string formatSignedAngle(double degrees, int decimals);

}  // namespace torvek::front
