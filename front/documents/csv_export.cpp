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

}  // namespace

std::string exportCsv(const AdjustedDataSet& dataSet, const SiteNameTable* names) {
    // With full names, the codes the data set keeps follow them in columns of their own.
    const SiteNameTable noNames;
    const SiteNameTable& shown = names != nullptr ? *names : noNames;
    const auto nameCells = [&](std::vector<std::string>& cells, const SiteName& code) {
        cells.push_back(csvText(shown.nameOf(code.data())));
        if (names != nullptr) {
            cells.push_back(csvText(projectSiteName(code.data())));
        }
    };
    std::string out = "# sites\n";
    std::vector<std::string> siteHeader = {"record", "name"};
    if (names != nullptr) {
        siteHeader.push_back("code");
    }
    for (const char* column : {"latitude",
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
                               "normalizedConstraintResidualElevation"}) {
        siteHeader.push_back(column);
    }
    row(out, siteHeader);
    for (const SiteRecord& s : dataSet.sites()) {
        std::vector<std::string> cells = {std::to_string(s.recordNumber)};
        nameCells(cells, s.name);
        appendNumbers(cells, {s.latitude, s.longitude, s.elevation, s.geoidHeight, s.latitudeSigma,
                              s.longitudeSigma, s.elevationSigma});
        for (std::uint8_t flag : {s.latitudeFixed, s.longitudeFixed, s.elevationFixed, s.inUse}) {
            cells.push_back(flag ? "1" : "0");
        }
        appendNumbers(
            cells,
            {s.adjustedLatitude, s.adjustedLongitude, s.adjustedElevation, s.adjustedLatitudeSigma,
             s.adjustedLongitudeSigma, s.adjustedElevationSigma, s.lastCorrection[0],
             s.lastCorrection[1], s.lastCorrection[2], s.constraintResidual[0],
             s.constraintResidual[1], s.constraintResidual[2], s.normalizedConstraintResidual[0],
             s.normalizedConstraintResidual[1], s.normalizedConstraintResidual[2]});
        row(out, cells);
    }

    out += "\n# vectors\n";
    std::vector<std::string> vectorHeader = {"record", "from"};
    if (names != nullptr) {
        vectorHeader.push_back("fromCode");
    }
    vectorHeader.push_back("to");
    if (names != nullptr) {
        vectorHeader.push_back("toCode");
    }
    for (const char* column : {"dX",
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
                               "adjustedCorrelationYZ"}) {
        vectorHeader.push_back(column);
    }
    row(out, vectorHeader);
    for (const VectorRecord& v : dataSet.vectors()) {
        std::vector<std::string> cells = {std::to_string(v.recordNumber)};
        nameCells(cells, v.fromSite);
        nameCells(cells, v.toSite);
        appendNumbers(cells, {v.deltaX, v.deltaY, v.deltaZ, v.sigmaX, v.sigmaY, v.sigmaZ,
                              v.correlationXY, v.correlationXZ, v.correlationYZ});
        cells.push_back(std::to_string(v.weightDivisor));
        cells.push_back(v.inUse ? "1" : "0");
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

    out += "\n# adjustment\n";
    row(out, {"field", "value"});
    const DataSetHeader& h = dataSet.headerRecord();
    row(out, {"title", csvText(dataSet.headerText())});
    row(out, {"semiMajorAxis", csvNumber(h.semiMajorAxis)});
    row(out, {"inverseFlattening", csvNumber(h.inverseFlattening)});
    row(out, {"referenceLatitude", csvNumber(h.referenceLatitude)});
    row(out, {"referenceLongitude", csvNumber(h.referenceLongitude)});
    row(out, {"confidenceLevel", csvNumber(h.confidenceLevel)});
    row(out, {"vectorSigmaScale", csvNumber(h.vectorSigmaScale)});
    if (!dataSet.adjustmentRecords().empty()) {
        const AdjustmentRecord& r = dataSet.adjustmentRecords().back();
        row(out, {"minimallyConstrained", r.minimallyConstrained ? "1" : "0"});
        static const char* const kApriori[8] = {"aprioriRotationNorth", "aprioriRotationNorthSigma",
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
    return out;
}

}  // namespace torvek::front
