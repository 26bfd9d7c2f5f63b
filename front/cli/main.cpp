// torvek-front: the command-line front end. `torvek-front help` lists the commands.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "front/cli/adjust_command.h"
#include "front/cli/convert_commands.h"
#include "front/serve/serve_command.h"

namespace {

using namespace torvek::front;

const char* const kUsage =
    "usage:\n"
    "  torvek-front adjust INPUT [-o OUTPUT.dat] [options]\n"
    "      INPUT: a data set, a project, GPS vector text, gama-local or gama-g3 XML, or a DynaML\n"
    "      station file and its measurement file (recognised by their content).\n"
    "      Runs the adjustment: builds the input data set from a project, starts torvek, shows\n"
    "      progress, the report and a results summary, and writes OUTPUT.dat, the report with the\n"
    "      results as OUTPUT.rtf and OUTPUT.html, and the results for a GIS as OUTPUT.geojson and\n"
    "      OUTPUT.kml (default OUTPUT: the input's name with -adjusted.dat).\n"
    "      --crs SYSTEM                 grid coordinates too, in a projected system PROJ knows\n"
    "                                   (EPSG:25832, ...), or utm for the network's UTM zone\n"
    "      --ellipse-scale FACTOR       draw the plot's confidence ellipses FACTOR times larger\n"
    "                                   than the map (default: chosen from 1, 2, 5 x 10^k by the\n"
    "                                   network's size, the same for every run of a network)\n"
    "      --warning-answer ok|cancel   answer the connectivity warning without asking\n"
    "      --no-report                  do not print the report (the files still hold it)\n"
    "      --colour auto|always|never   colours on the terminal (default: when it is one)\n"
    "      --program PATH               the adjustment program (default: $TORVEK_BINARY, or\n"
    "                                   torvek next to torvek-front)\n"
    "      --engine auto|standard|large  torvek, or torvek-large (sparse, no site limit);\n"
    "                                   auto (default): torvek-large above 500 sites in use\n"
    "      --abort-at-stage N           abort at the first progress poll of stage N, as Ctrl-C\n"
    "                                   does (for tests and demonstrations)\n"
    "      --covariance-unit m2|mm2     the unit of a survey file's covariances, over the\n"
    "                                   format's own (m2 for GPS text and DynaML, mm2 for gama)\n"
    "      --names FILE                 for a data set input: name its sites in full as the\n"
    "                                   project or survey file FILE does (twice for DynaML)\n"
    "  torvek-front import INPUT... -o OUTPUT [--covariance-unit m2|mm2] [--with-results]\n"
    "      Converts a project or survey files (as for adjust) into a project (OUTPUT ending in\n"
    "      .json) or a data set; --with-results also reads the results sections of an exported\n"
    "      project.\n"
    "  torvek-front import PROJECT.json DATA-SET [--with-results]\n"
    "      Builds a data set from a project.\n"
    "  torvek-front export DATA-SET [--json|--csv] [-o FILE] [--names FILE...]\n"
    "                     [--geojson FILE] [--kml FILE] [--crs SYSTEM]\n"
    "      Writes every field of a data set, results included (default JSON, to standard output);\n"
    "      --geojson and --kml write the results for a GIS instead (or as well, with --json,\n"
    "      --csv or -o), with grid coordinates in SYSTEM when --crs is given.\n"
    "      --names FILE names the sites in full as the project or survey file FILE (that the\n"
    "      data set was built from) does; give it twice for a DynaML station and measurement\n"
    "      file, and --covariance-unit as for import.\n"
    "  torvek-front serve [INPUT...] [--port N] [--program PATH] [--covariance-unit m2|mm2]\n"
    "      The browser workspace: serves a page on this machine's loopback address (port N, or\n"
    "      a free one) and prints its address with an access token; open it in a browser.\n"
    "      INPUT, as for adjust, is opened at start. Ctrl-C stops the server; runs still going\n"
    "      are aborted first.\n"
    "\n"
    "Exit codes: 0 adjusted; 1 bad command line or input; 2 not adjusted (failed, aborted or\n"
    "cancelled); 3 torvek could not be started, crashed or exited before finishing its run;\n"
    "4 adjusted, but an output could not be written. Only a run that reaches its end (adjusted\n"
    "or failed) replaces the outputs of an earlier one.\n"
    "Ctrl-C during a run asks torvek to stop at its next progress poll; a second Ctrl-C kills "
    "it.\n";

int usageError(const std::string& what) {
    std::fprintf(stderr, "torvek-front: %s\n%s", what.c_str(), kUsage);
    return kExitBadInput;
}

bool endsWithJson(const std::string& path) {
    return path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0;
}

// A positive factor of the plot's ellipses, at most kLargestEnlargement.
bool parseFactor(const std::string& text, double& value) {
    // Beyond any plot: a centimetre drawn a thousand kilometres long.
    constexpr double kLargestEnlargement = 1e11;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(parsed > 0.0) || !(parsed <= kLargestEnlargement)) {
        return false;
    }
    value = parsed;
    return true;
}

bool parseInt(const std::string& text, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < 0 || parsed > 1000) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

int adjustCommand(const std::vector<std::string>& args) {
    AdjustOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "-o" || a == "--output") {
            if (!hasValue)
                return usageError(a + " needs a file name");
            options.output = args[++i];
        } else if (a == "--program") {
            if (!hasValue)
                return usageError(a + " needs a path");
            options.program = args[++i];
        } else if (a == "--engine") {
            const std::string value = hasValue ? args[++i] : "";
            if (value == "auto") {
                options.engine = EngineChoice::kAuto;
            } else if (value == "standard") {
                options.engine = EngineChoice::kStandard;
            } else if (value == "large") {
                options.engine = EngineChoice::kLarge;
            } else {
                return usageError("--engine takes auto, standard or large");
            }
        } else if (a == "--abort-at-stage") {
            if (!hasValue || !parseInt(args[i + 1], options.abortAtStage)) {
                return usageError(a + " needs a stage code (0 to 100)");
            }
            ++i;
        } else if (a == "--warning-answer") {
            const std::string value = hasValue ? args[++i] : "";
            if (value == "ok") {
                options.warningAnswer = WarningAnswer::kOk;
            } else if (value == "cancel") {
                options.warningAnswer = WarningAnswer::kCancel;
            } else {
                return usageError("--warning-answer takes ok or cancel");
            }
        } else if (a == "--colour" || a == "--color") {
            const std::string value = hasValue ? args[++i] : "";
            if (value == "auto") {
                options.colour = ColourChoice::kAuto;
            } else if (value == "always") {
                options.colour = ColourChoice::kAlways;
            } else if (value == "never") {
                options.colour = ColourChoice::kNever;
            } else {
                return usageError(a + " takes auto, always or never");
            }
        } else if (a == "--no-report") {
            options.showReport = false;
        } else if (a == "--names") {
            if (!hasValue)
                return usageError(a + " needs the project or survey file the data set came from");
            options.names.push_back(args[++i]);
        } else if (a == "--crs") {
            if (!hasValue)
                return usageError(a + " needs a coordinate system (EPSG:25832, utm, ...)");
            options.crs = args[++i];
        } else if (a == "--ellipse-scale") {
            if (!hasValue || !parseFactor(args[i + 1], options.plot.ellipseEnlargement)) {
                return usageError(a + " needs a positive factor (at most 1e11)");
            }
            ++i;
        } else if (a == "--covariance-unit") {
            options.survey.covarianceUnit = parseCovarianceUnit(hasValue ? args[++i] : "");
            if (!options.survey.covarianceUnit) {
                return usageError("--covariance-unit takes m2 or mm2");
            }
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return usageError("unknown option " + a);
        } else if (options.input.empty()) {
            options.input = a;
        } else if (options.secondInput.empty()) {
            options.secondInput = a;  // a DynaML pair; checked with the files
        } else {
            return usageError("one input, or a DynaML station file and its measurement file");
        }
    }
    if (options.input.empty()) {
        return usageError("adjust needs a project or a data set");
    }
    return runAdjust(options);
}

int importCommand(const std::vector<std::string>& args) {
    ImportRequest request;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--with-results") {
            request.withResults = true;
        } else if (a == "-o" || a == "--output") {
            if (!hasValue)
                return usageError(a + " needs a file name");
            request.output = args[++i];
        } else if (a == "--covariance-unit") {
            request.survey.covarianceUnit = parseCovarianceUnit(hasValue ? args[++i] : "");
            if (!request.survey.covarianceUnit) {
                return usageError("--covariance-unit takes m2 or mm2");
            }
        } else if (!a.empty() && a[0] == '-') {
            return usageError("unknown option " + a);
        } else {
            files.push_back(a);
        }
    }
    if (!request.output.empty()) {
        if (files.empty()) {
            return usageError("import needs an input file");
        }
        request.inputs = files;
        request.projectOutput = endsWithJson(request.output);
        return runImportRequest(request);
    }
    if (files.size() != 2) {
        return usageError(
            "import needs its input files and -o OUTPUT (or a project and a data "
            "set file)");
    }
    // The short form names the data set second; a project or survey file there was meant as an
    // input (a DynaML pair without -o, say) and is not replaced.
    if (holdsInputData(files[1])) {
        std::fprintf(stderr,
                     "torvek-front: %s holds survey data, not a data set: it is not replaced "
                     "(name the output with -o)\n",
                     files[1].c_str());
        return kExitBadInput;
    }
    request.inputs = {files[0]};
    request.output = files[1];
    return runImportRequest(request);
}

int exportCommand(const std::vector<std::string>& args) {
    ExportRequest request;
    bool projectAsked = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--json") {
            request.format = ExportFormat::kJson;
            projectAsked = true;
        } else if (a == "--csv") {
            request.format = ExportFormat::kCsv;
            projectAsked = true;
        } else if (a == "-o" || a == "--output" || a == "--geojson" || a == "--kml") {
            if (!hasValue)
                return usageError(a + " needs a file name");
            std::string& target = a == "--geojson" ? request.geoJson
                                  : a == "--kml"   ? request.kml
                                                   : request.output;
            target = args[++i];
            projectAsked = projectAsked || &target == &request.output;
        } else if (a == "--names") {
            if (!hasValue)
                return usageError(a + " needs the project or survey file the data set came from");
            request.names.push_back(args[++i]);
        } else if (a == "--covariance-unit") {
            request.survey.covarianceUnit = parseCovarianceUnit(hasValue ? args[++i] : "");
            if (!request.survey.covarianceUnit) {
                return usageError("--covariance-unit takes m2 or mm2");
            }
        } else if (a == "--crs") {
            if (!hasValue)
                return usageError(a + " needs a coordinate system (EPSG:25832, utm, ...)");
            request.crs = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            return usageError("unknown option " + a);
        } else if (request.dataSet.empty()) {
            request.dataSet = a;
        } else {
            return usageError("export takes one data set");
        }
    }
    if (request.dataSet.empty()) {
        return usageError("export needs a data set file");
    }
    const bool gis = !request.geoJson.empty() || !request.kml.empty();
    if (!request.crs.empty() && !gis) {
        return usageError("--crs gives grid coordinates to --geojson and --kml");
    }
    request.writeProject = projectAsked || !gis;
    return runExport(request);
}

int runCommand(int argc, char** argv) {
    if (argc < 2) {
        return usageError("a command is needed");
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "adjust") {
        return adjustCommand(args);
    }
    if (command == "import") {
        return importCommand(args);
    }
    if (command == "export") {
        return exportCommand(args);
    }
    if (command == "serve") {
        return runServeCommand(args);
    }
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return usageError("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
    // Under a file size limit (ulimit -f) a write then fails and is reported, and the partial
    // temporary is removed, instead of the process being killed in the middle of it.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return runCommand(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("torvek-front: not enough memory\n", stderr);
        return kExitBadInput;
    }
}
