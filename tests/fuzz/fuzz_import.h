#pragma once

// What every importer fuzz target checks after its reader: an accepted survey network becomes a
// project document that the project import reads without throwing (it may refuse it), whose data
// set the checks before a run take without failing, and that document's text parses again.

#include <cstdlib>
#include <string>

#include "front/checks/network_checks.h"
#include "front/import/survey_network.h"
#include "front/project/project_json.h"

namespace torvek::front {

inline void checkSurveyNetwork(SurveyNetwork& network) {
    Json document;
    try {
        document = surveyProject(network);
    } catch (const SurveyError&) {
        return;  // a site with no start position: refused, as it should be
    }
    AdjustedDataSet dataSet;
    ImportReport report;
    if (!importProjectDocument(document, "fuzz", ImportOptions{}, dataSet, report) &&
        report.error.empty()) {
        std::abort();  // a refusal always says why
    }
    if (report.error.empty()) {
        checkNetwork(dataSet, report.siteNames);
    }
    Json again;
    std::string error;
    if (!parseProjectText(projectText(document), "fuzz", again, error)) {
        std::abort();  // the written project must read back
    }
}

}  // namespace torvek::front
