#include "front/documents/csv_export.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "front/project/site_name_mapping.h"

namespace torvek::front {
namespace {

std::string csvNumber(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// True when a spreadsheet would take a cell starting with `c` for a formula (=, +, -, @) or
// would handle it unlike text (a control byte, a tab or a carriage return among them).
bool startsLikeFormula(char c) {
    const auto u = static_cast<unsigned char>(c);
    return c == '=' || c == '+' || c == '-' || c == '@' || u < 0x20 || u == 0x7f;
}

// A text cell (a name, a title; never a number, whose minus sign must stay): a leading quote
// makes a spreadsheet show one that would start a formula as the text it is, then the cell is
// quoted where it holds a comma, a quote or a line end.
std::string csvText(const std::string& original) {
    const std::string text =
        !original.empty() && startsLikeFormula(original[0]) ? "'" + original : original;
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

void row(std::string& out, const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        out += (i ? "," : "") + cells[i];
    }
    out += "\n";
}

void appendNumbers(std::vector<std::string>& cells, std::initializer_list<double> values) {
    for (double v : values) {
        cells.push_back(csvNumber(v));
    }
}

// The name cells of a site: its full name, then, when full names are given, the code the data
// set keeps in a column of its own.
class NameCells {
  public:
    explicit NameCells(const SiteNameTable* names) : names_(names) {}

    bool withCodes() const { return names_ != nullptr; }

    void append(std::vector<std::string>& cells, const SiteName& code) const {
        cells.push_back(csvText(names_ != nullptr ? names_->nameOf(code.data())
                                                  : noNames_.nameOf(code.data())));
        if (names_ != nullptr) {
            cells.push_back(csvText(projectSiteName(code.data())));
        }
    }

  private:
    const SiteNameTable* names_;
    const SiteNameTable noNames_;
};

void appendColumns(std::vector<std::string>& header, std::initializer_list<const char*> columns) {
    for (const char* column : columns) {
        header.push_back(column);
    }
}

void appendFlags(std::vector<std::string>& cells, std::initializer_list<std::uint8_t> flags) {
    for (std::uint8_t flag : flags) {
        cells.push_back(flag ? "1" : "0");
    }
}

void appendSites(std::string& out, const AdjustedDataSet& dataSet, const NameCells& names) {
    out += "# sites\n";
    std::vector<std::string> header = {"record", "name"};
    if (names.withCodes()) {
        header.push_back("code");
    }
    appendColumns(header, {"latitude",
                           "longitude",
                           "elevation",
                           "geoidHeight",
                           "latitudeSigma",
                           "longitudeSigma",
                           "elevationSigma",
                           "latitudeFixed",
                           "longitudeFixed",
                           "elevationFixed",
                           "inUse",
                           "adjustedLatitude",
                           "adjustedLongitude",
                           "adjustedElevation",
                           "adjustedLatitudeSigma",
                           "adjustedLongitudeSigma",
                           "adjustedElevationSigma",
                           "lastCorrectionLatitude",
                           "lastCorrectionLongitude",
                           "lastCorrectionElevation",
                           "constraintResidualLatitude",
                           "constraintResidualLongitude",
                           "constraintResidualElevation",
                           "normalizedConstraintResidualLatitude",
                           "normalizedConstraintResidualLongitude",
                           "normalizedConstraintResidualElevation"});
    row(out, header);
    for (const SiteRecord& s : dataSet.sites()) {
        std::vector<std::string> cells = {std::to_string(s.recordNumber)};
        names.append(cells, s.name);
        appendNumbers(cells, {s.latitude, s.longitude, s.elevation, s.geoidHeight, s.latitudeSigma,
                              s.longitudeSigma, s.elevationSigma});
        appendFlags(cells, {s.latitudeFixed, s.longitudeFixed, s.elevationFixed, s.inUse});
        appendNumbers(
            cells,
            {s.adjustedLatitude, s.adjustedLongitude, s.adjustedElevation, s.adjustedLatitudeSigma,
             s.adjustedLongitudeSigma, s.adjustedElevationSigma, s.lastCorrection[0],
             s.lastCorrection[1], s.lastCorrection[2], s.constraintResidual[0],
             s.constraintResidual[1], s.constraintResidual[2], s.normalizedConstraintResidual[0],
             s.normalizedConstraintResidual[1], s.normalizedConstraintResidual[2]});
        row(out, cells);
    }
}

std::vector<std::string> vectorHeader(const NameCells& names) {
    std::vector<std::string> header = {"record", "from"};
    if (names.withCodes()) {
        header.push_back("fromCode");
    }
    header.push_back("to");
    if (names.withCodes()) {
        header.push_back("toCode");
    }
    appendColumns(header, {"dX",
                           "dY",
                           "dZ",
                           "sigmaX",
                           "sigmaY",
                           "sigmaZ",
                           "correlationXY",
                           "correlationXZ",
                           "correlationYZ",
                           "weightDivisor",
                           "inUse",
                           "localSigmaNorth",
                           "localSigmaEast",
                           "localSigmaUp",
                           "localCorrelation1",
                           "localCorrelation2",
                           "localCorrelation3",
                           "adjustedDX",
                           "adjustedDY",
                           "adjustedDZ",
                           "adjustedNorth",
                           "adjustedEast",
                           "adjustedUp",
                           "residualX",
                           "residualY",
                           "residualZ",
                           "normalizedResidualX",
                           "normalizedResidualY",
                           "normalizedResidualZ",
                           "residualNorth",
                           "residualEast",
                           "residualUp",
                           "normalizedResidualNorth",
                           "normalizedResidualEast",
                           "normalizedResidualUp",
                           "adjustedLocalSigmaNorth",
                           "adjustedLocalSigmaEast",
                           "adjustedLocalSigmaUp",
                           "adjustedLocalCorrelation1",
                           "adjustedLocalCorrelation2",
                           "adjustedLocalCorrelation3",
                           "adjustedSigmaX",
                           "adjustedSigmaY",
                           "adjustedSigmaZ",
                           "adjustedCorrelationXY",
                           "adjustedCorrelationXZ",
                           "adjustedCorrelationYZ"});
    return header;
}

void appendVectors(std::string& out, const AdjustedDataSet& dataSet, const NameCells& names) {
    out += "\n# vectors\n";
    row(out, vectorHeader(names));
    for (const VectorRecord& v : dataSet.vectors()) {
        std::vector<std::string> cells = {std::to_string(v.recordNumber)};
        names.append(cells, v.fromSite);
        names.append(cells, v.toSite);
        appendNumbers(cells, {v.deltaX, v.deltaY, v.deltaZ, v.sigmaX, v.sigmaY, v.sigmaZ,
                              v.correlationXY, v.correlationXZ, v.correlationYZ});
        cells.push_back(std::to_string(v.weightDivisor));
        appendFlags(cells, {v.inUse});
        appendNumbers(cells, {v.localSigmaNorth, v.localSigmaEast, v.localSigmaUp,
                              v.localCorrelation[0], v.localCorrelation[1], v.localCorrelation[2],
                              v.adjustedDeltaX, v.adjustedDeltaY, v.adjustedDeltaZ, v.adjustedNorth,
                              v.adjustedEast, v.adjustedUp});
        for (double t : v.vectorTestResults) {
            cells.push_back(csvNumber(t));
        }
        appendNumbers(
            cells,
            {v.adjustedLocalSigmaNorth, v.adjustedLocalSigmaEast, v.adjustedLocalSigmaUp,
             v.adjustedLocalCorrelation[0], v.adjustedLocalCorrelation[1],
             v.adjustedLocalCorrelation[2], v.adjustedSigmaX, v.adjustedSigmaY, v.adjustedSigmaZ,
             v.adjustedCorrelationXY, v.adjustedCorrelationXZ, v.adjustedCorrelationYZ});
        row(out, cells);
    }
}

void appendHeaderFields(std::string& out, const AdjustedDataSet& dataSet) {
    const DataSetHeader& h = dataSet.headerRecord();
    row(out, {"title", csvText(dataSet.headerText())});
    row(out, {"semiMajorAxis", csvNumber(h.semiMajorAxis)});
    row(out, {"inverseFlattening", csvNumber(h.inverseFlattening)});
    row(out, {"referenceLatitude", csvNumber(h.referenceLatitude)});
    row(out, {"referenceLongitude", csvNumber(h.referenceLongitude)});
    row(out, {"confidenceLevel", csvNumber(h.confidenceLevel)});
    row(out, {"vectorSigmaScale", csvNumber(h.vectorSigmaScale)});
}

void appendRecordFields(std::string& out, const AdjustmentRecord& r) {
    row(out, {"minimallyConstrained", r.minimallyConstrained ? "1" : "0"});
    static const char* const kApriori[kBiasAprioriCount] = {
        "aprioriRotationNorth", "aprioriRotationNorthSigma",
        "aprioriRotationEast",  "aprioriRotationEastSigma",
        "aprioriRotationUp",    "aprioriRotationUpSigma",
        "aprioriScale",         "aprioriScaleSigma"};
    for (std::size_t i = 0; i < kBiasAprioriCount; ++i) {
        row(out, {kApriori[i], csvNumber(r.aprioriBias[i])});
    }
    row(out, {"succeeded", r.adjustmentSucceeded ? "1" : "0"});
    row(out, {"observations", std::to_string(r.observationCount)});
    row(out, {"unknowns", std::to_string(r.unknownCount)});
    row(out, {"degreesOfFreedom", std::to_string(r.degreesOfFreedom)});
    row(out, {"iterations", std::to_string(r.iterationCount)});
    row(out, {"chiSquare", csvNumber(r.chiSquare)});
    row(out, {"chiSquareLower", csvNumber(r.chiSquareLower)});
    row(out, {"chiSquareUpper", csvNumber(r.chiSquareUpper)});
    row(out, {"tauCriticalValue", csvNumber(r.tauCriticalValue)});
    row(out, {"unitWeightStandardError", csvNumber(r.unitWeightStandardError)});
    static const char* const kResults[kBiasResultCount] = {
        "rotationNorth", "rotationNorthSigma", "rotationEast", "rotationEastSigma",
        "rotationUp",    "rotationUpSigma",    "scale",        "scaleSigma",
        "rotationX",     "rotationXSigma",     "rotationY",    "rotationYSigma",
        "rotationZ",     "rotationZSigma"};
    for (std::size_t i = 0; i < kBiasResultCount; ++i) {
        row(out, {kResults[i], csvNumber(r.biasResults[i])});
    }
}

}  // namespace

std::string exportCsv(const AdjustedDataSet& dataSet, const SiteNameTable* names) {
    const NameCells nameCells(names);
    std::string out;
    appendSites(out, dataSet, nameCells);
    appendVectors(out, dataSet, nameCells);
    out += "\n# adjustment\n";
    row(out, {"field", "value"});
    appendHeaderFields(out, dataSet);
    if (!dataSet.adjustmentRecords().empty()) {
        appendRecordFields(out, dataSet.adjustmentRecords().back());
    }
    return out;
}

}  // namespace torvek::front
