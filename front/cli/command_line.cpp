#include "front/cli/command_line.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "front/cli/adjust_command.h"
#include "front/cli/convert_commands.h"
#include "front/documents/grid_coordinates.h"
#include "front/documents/results_document.h"
#include "front/run/run_service.h"
#include "front/text/messages.h"
#include "link/stages.h"

#ifndef TORVEK_SPARSE_FACTORISATION
#define TORVEK_SPARSE_FACTORISATION ""
#endif

namespace torvek::front {
namespace {

constexpr const char* kExitCodes =
    "Exit codes: 0 adjusted; 1 bad command line or input; 2 not adjusted (failed, aborted or\n"
    "cancelled); 3 torvek could not be started, crashed or exited before finishing its run;\n"
    "4 adjusted, but an output could not be written; 5 another run is writing the same output;\n"
    "6 not enough memory. Only a run that reaches its end (adjusted or failed) replaces the\n"
    "outputs of an earlier one, all of them at once.\n"
    "Ctrl-C during a run asks torvek to stop at its next progress poll; a second Ctrl-C (or\n"
    "SIGTERM or SIGHUP) kills it.\n";

// Beyond any plot: a centimetre drawn a thousand kilometres long.
constexpr double kLargestEnlargement = 1e11;

// Takes one of the names of `choices` (a name, never its number), turning it into the number of
// its value for CLI11 to convert; any other text is refused, listing the names.
template <typename Choice>
CLI::Validator oneOf(std::vector<std::pair<std::string, Choice>> choices) {
    std::string names;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        names += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i].first;
    }
    return CLI::Validator(
        [choices, names](std::string& text) {
            for (const auto& [name, value] : choices) {
                if (text == name) {
                    text = std::to_string(static_cast<int>(value));
                    return std::string();
                }
            }
            return "takes " + names;
        },
        "");
}

const std::vector<std::pair<std::string, CovarianceUnit>> kCovarianceUnits = {
    {"m2", CovarianceUnit::kSquareMetres}, {"mm2", CovarianceUnit::kSquareMillimetres}};

// --covariance-unit m2|mm2: the unit of a survey file's covariances, over its format's own.
void addCovarianceUnit(CLI::App& command, SurveyOptions& survey) {
    command
        .add_option_function<CovarianceUnit>(
            "--covariance-unit",
            [&survey](const CovarianceUnit& unit) { survey.covarianceUnit = unit; },
            "the unit of a survey file's covariances, over the format's own (m2 for GPS text and "
            "DynaML, mm2 for gama)")
        ->transform(oneOf(kCovarianceUnits))
        ->type_name("m2|mm2");
}

void addNames(CLI::App& command, std::vector<std::string>& names) {
    command
        .add_option("--names", names,
                    "name the sites in full as the project or survey file FILE (that the data set "
                    "was built from) does; twice for a DynaML station and measurement file")
        ->allow_extra_args(false)
        ->type_name("FILE");
}

void addCrs(CLI::App& command, std::string& crs, const char* what) {
    command.add_option("--crs", crs, what)->type_name("SYSTEM");
}

// --frame CRS and --epoch YEAR: the frame the data set's coordinates are in and their epoch, for
// grid coordinates; each refused at once, with the reason, when it cannot serve. `defaults` says
// what holds when they are not given.
void addFrame(CLI::App& command, CoordinateFrame& frame, const std::string& defaults) {
    command
        .add_option("--frame", frame.crs,
                    "the geographic frame of the coordinates (EPSG:4979, EPSG:7912, ...), from "
                    "which PROJ transforms them to the --crs system (default: " +
                        defaults + "WGS 84)")
        ->check(CLI::Validator([](std::string& text) { return frameProblem(text); }, ""))
        ->type_name("CRS");
    command
        .add_option(
            "--epoch", frame.epoch,
            "the epoch of the coordinates as a decimal year (e.g. 2020.0), the time of a "
            "time-dependent transformation" +
                (defaults.empty() ? std::string() : " (default: the project's settings.epoch)"))
        ->check(CLI::Validator(
            [](std::string& text) {
                char* end = nullptr;
                const double year = std::strtod(text.c_str(), &end);
                return end == text.c_str() || *end != '\0' ? "needs a decimal year, not " + text
                                                           : epochProblem(year);
            },
            ""))
        ->type_name("YEAR");
}

// The options of `adjust` that choose how the run is shown and answered.
void addRunChoices(CLI::App& adjust, AdjustOptions& o) {
    adjust
        .add_option("--warning-answer", o.warningAnswer,
                    "answer the connectivity warning without asking")
        ->transform(
            oneOf<WarningAnswer>({{"ok", WarningAnswer::kOk}, {"cancel", WarningAnswer::kCancel}}))
        ->type_name("ok|cancel");
    adjust.add_flag_function(
        "--no-report", [&o](std::int64_t) { o.showReport = false; },
        "do not print the report (the files still hold it)");
    adjust.add_flag("--timings", o.timings,
                    "print each phase's wall-clock time and the peak memory of the front end and "
                    "the program on standard error");
    adjust
        .add_option("--colour,--color", o.colour,
                    "colours on the terminal (default: when it is one)")
        ->transform(oneOf<ColourChoice>({{"auto", ColourChoice::kAuto},
                                         {"always", ColourChoice::kAlways},
                                         {"never", ColourChoice::kNever}}))
        ->type_name("auto|always|never");
    adjust
        .add_option("--abort-at-stage", o.abortAtStage,
                    "abort at the first progress poll of stage N, as Ctrl-C does (for tests and "
                    "demonstrations)")
        ->check(CLI::Range(stage::kStart, stage::kFinished).description(""))
        ->type_name("N");
}

// The adjustment model and the rigorous model's options.
void addModelChoices(CLI::App& adjust, AdjustOptions& o) {
    adjust
        .add_option_function<std::string>(
            "--model", [&o](const std::string& name) { o.model = adjustmentModelNamed(name); },
            "rigorous: full covariances, redundancy numbers, studentized residuals, minimal "
            "detectable biases, ellipses and relative precisions (torvek-large); classic: the "
            "program's north/east/up model. Default: the project's settings.model, else rigorous")
        ->check(CLI::IsMember({"rigorous", "classic"}))
        ->type_name("rigorous|classic");
    adjust
        .add_option("--snoop", o.snoopRounds,
                    "data snooping: take out the vector with the largest studentized residual "
                    "beyond the critical value and adjust again, at most ROUNDS times (rigorous)")
        ->check(CLI::Range(1, kMaximumSnoopRounds).description(""))
        ->type_name("ROUNDS");
    adjust
        .add_option_function<std::string>(
            "--scale-by",
            [&o](const std::string& which) { o.scaleByAposteriori = which == "aposteriori"; },
            "which sigma0 scales the ellipses and relative precisions (rigorous; default "
            "apriori)")
        ->check(CLI::IsMember({"apriori", "aposteriori"}))
        ->type_name("apriori|aposteriori");
    adjust
        .add_option("--relative-tolerance", o.relativeTolerance,
                    "check every pair's relative precision at 95 % against A mm + B ppm of the "
                    "distance (rigorous), e.g. \"20mm+50ppm\"")
        ->type_name("TOLERANCE");
    adjust.add_flag("--preanalysis", o.preanalysis,
                    "pre-analysis (rigorous): every vector in use and the project's planned "
                    "vectors are taken as planned, their observed values ignored; precisions, "
                    "redundancy numbers and MDBs at the a-priori sigma0");
    adjust
        .add_option("--sigma-model", o.sigmaModel,
                    "sigmas of planned vectors without a covariance, horizontal,vertical as "
                    "A mm + B ppm of the length (default \"5mm+1ppm,10mm+2ppm\")")
        ->type_name("H,V");
}

CLI::App* addAdjust(CLI::App& app, AdjustOptions& o, std::vector<std::string>& inputs) {
    CLI::App* adjust = app.add_subcommand("adjust", "adjusts a project, data set or survey files");
    adjust
        ->add_option("input", inputs,
                     "a data set, a project, or survey files read together: GPS vector text, "
                     "gama-local or gama-g3 XML, a DynaML station file and its measurement file "
                     "(recognised by their content)")
        ->type_name("INPUT");
    adjust
        ->add_option("-o,--output", o.output,
                     "the output data set (default: the input's name with -adjusted.dat)")
        ->type_name("OUTPUT.dat");
    addCrs(*adjust, o.crs,
           "grid coordinates too, in a projected system PROJ knows (EPSG:25832, ...), or utm for "
           "the network's UTM zone");
    addFrame(*adjust, o.frame, "the project's settings.frame, else ");
    adjust
        ->add_option("--ellipse-scale", o.plot.ellipseEnlargement,
                     "draw the plot's confidence ellipses FACTOR times larger than the map "
                     "(default: chosen from 1, 2, 5 x 10^k by the network's size)")
        ->check(CLI::Validator(
            [](std::string& text) {
                const double factor = std::strtod(text.c_str(), nullptr);
                return factor > 0.0 && factor <= kLargestEnlargement
                           ? std::string()
                           : std::string("needs a positive factor (at most 1e11)");
            },
            ""))
        ->type_name("FACTOR");
    addRunChoices(*adjust, o);
    addModelChoices(*adjust, o);
    adjust
        ->add_option("--program", o.program,
                     "the adjustment program (default: $TORVEK_BINARY, or torvek next to "
                     "torvek-front)")
        ->type_name("PATH");
    adjust
        ->add_option("--engine", o.engine,
                     "torvek, or torvek-large (sparse, no site limit); auto (default): "
                     "torvek-large above " +
                         std::to_string(kStandardEngineSiteLimit) + " sites in use")
        ->transform(oneOf<EngineChoice>({{"auto", EngineChoice::kAuto},
                                         {"standard", EngineChoice::kStandard},
                                         {"large", EngineChoice::kLarge}}))
        ->type_name("auto|standard|large");
    addCovarianceUnit(*adjust, o.survey);
    addNames(*adjust, o.names);
    adjust->footer(
        "Builds the input data set from a project or survey files, starts torvek (torvek-large\n"
        "for the rigorous model), shows progress, the report and a results summary, and writes\n"
        "OUTPUT.dat, the report with the results as OUTPUT.rtf and OUTPUT.html, the results for\n"
        "a GIS as OUTPUT.geojson and OUTPUT.kml, and with the rigorous model its statistics as\n"
        "OUTPUT.statistics.json.\n\nExamples:\n  torvek-front adjust "
        "examples/example-network.json -o out/example-network.dat --crs utm\n"
        "  torvek-front adjust network.gkf --model rigorous --snoop 5 --relative-tolerance "
        "\"20mm+50ppm\" -o out/net.dat\n");
    return adjust;
}

// `import`'s options; its files come as `files`, checked after parsing.
CLI::App* addImport(CLI::App& app, ImportRequest& r, std::vector<std::string>& files) {
    CLI::App* import =
        app.add_subcommand("import", "converts a project or survey files to a project or data set");
    import->add_option("files", files, "INPUT... with -o OUTPUT, or INPUT... DATA-SET")
        ->type_name("FILE");
    import->add_option("-o,--output", r.output, "the project or data set to write")
        ->type_name("OUTPUT");
    import->add_flag("--with-results", r.withResults,
                     "also read the results sections of an exported project");
    addCovarianceUnit(*import, r.survey);
    import->footer(
        "Converts a project or survey files (as for adjust) into a project (OUTPUT ending in\n"
        ".json) or a data set; or, without -o, builds DATA-SET from the inputs before it.\n\n"
        "Examples:\n  torvek-front import examples/example-network.json net.dat\n"
        "  torvek-front import survey.xml -o project.json\n"
        "  torvek-front import vectors.gps control.xml -o project.json\n");
    return import;
}

// `export`'s options; `formatAsked` is set when --json, --csv or -o asks for the JSON or CSV.
CLI::App* addExport(CLI::App& app, ExportRequest& r, std::vector<std::string>& dataSets,
                    bool& formatAsked) {
    CLI::App* exporting =
        app.add_subcommand("export", "writes a data set as JSON or CSV, or its results for a GIS");
    exporting->add_option("data-set", dataSets, "the data set to export")->type_name("DATA-SET");
    CLI::Option* json = exporting->add_flag_function(
        "--json", [&](std::int64_t) { r.format = ExportFormat::kJson, formatAsked = true; },
        "every field as a JSON project (the default)");
    exporting
        ->add_flag_function(
            "--csv", [&](std::int64_t) { r.format = ExportFormat::kCsv, formatAsked = true; },
            "every field as CSV tables")
        ->excludes(json);
    exporting
        ->add_option_function<std::string>(
            "-o,--output", [&](const std::string& path) { r.output = path, formatAsked = true; },
            "the JSON or CSV file (default: the standard output)")
        ->type_name("FILE");
    exporting->add_option("--geojson", r.geoJson, "the results as GeoJSON")->type_name("FILE");
    exporting
        ->add_option("--geojson-vectors", r.geoJsonVectors,
                     "the vectors as GeoJSON LineStrings apart from the sites (--geojson then "
                     "holds the sites' Points alone)")
        ->type_name("FILE");
    exporting->add_option("--kml", r.kml, "the results as KML")->type_name("FILE");
    addNames(*exporting, r.names);
    addCovarianceUnit(*exporting, r.survey);
    addCrs(*exporting, r.crs, "grid coordinates in SYSTEM in the GeoJSON and KML files");
    addFrame(*exporting, r.frame, "");
    exporting->footer(
        "Writes every field of a data set, results included (default JSON, to standard\n"
        "output); --geojson and --kml write the results for a GIS instead (or as well, with\n"
        "--json, --csv or -o).\n\n"
        "Examples:\n  torvek-front export out/example-network.dat --csv -o net.csv\n"
        "  torvek-front export out/example-network.dat --geojson net.geojson "
        "--crs utm\n"
        "  torvek-front export net.dat --geojson sites.geojson --geojson-vectors vectors.geojson "
        "--frame EPSG:7912 --epoch 2020.0 --crs EPSG:3071\n");
    return exporting;
}

CLI::App* addServe(CLI::App& app, ServeOptions& o) {
    CLI::App* serve = app.add_subcommand("serve", "the browser workspace");
    serve->add_option("input", o.inputs, "a project, data set or survey files to open at start")
        ->type_name("INPUT");
    serve->add_option("--port", o.port, "the port (default 0: a free one)")
        ->check(CLI::Range(0, 65535).description(""))
        ->type_name("N");
    serve->add_option("--program", o.program, "the adjustment program, as for adjust")
        ->type_name("PATH");
    addCovarianceUnit(*serve, o.survey);
    serve->footer(
        "Serves a page on this machine's loopback address and prints its address with an\n"
        "access token; open it in a browser. INPUT, as for adjust, is opened at start. Ctrl-C\n"
        "stops the server; runs still going are aborted first.\n\n"
        "Example:\n  torvek-front serve examples/example-network.json\n");
    return serve;
}

int usageError(const std::string& what, const std::string& command) {
    printMessage("torvek-front: " + what + "\n(torvek-front " +
                 (command.empty() ? "" : command + " ") + "--help lists the options)\n");
    return kExitBadInput;
}

bool endsWithJson(const std::string& path) {
    return path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0;
}

int runImportCommand(ImportRequest request, const std::vector<std::string>& files) {
    if (!request.output.empty()) {
        if (files.empty()) {
            return usageError("import needs an input file", "import");
        }
        request.inputs = files;
        request.projectOutput = endsWithJson(request.output);
        return runImportRequest(request);
    }
    if (files.size() < 2) {
        return usageError(
            "import needs its input files and -o OUTPUT (or the inputs and a data set file)",
            "import");
    }
    // The short form names the data set last; a project or survey file there was meant as an
    // input (a DynaML pair without -o, say) and is not replaced.
    if (holdsInputData(files.back())) {
        printMessage("torvek-front: " + files.back() +
                     " holds survey data, not a data set: it is not replaced (name the output "
                     "with -o)\n");
        return kExitBadInput;
    }
    request.inputs.assign(files.begin(), files.end() - 1);
    request.output = files.back();
    return runImportRequest(request);
}

int runExportCommand(ExportRequest request, const std::vector<std::string>& dataSets,
                     bool formatAsked) {
    if (dataSets.empty()) {
        return usageError("export needs a data set file", "export");
    }
    if (dataSets.size() > 1) {
        return usageError("export takes one data set", "export");
    }
    request.dataSet = dataSets[0];
    const bool gis =
        !request.geoJson.empty() || !request.geoJsonVectors.empty() || !request.kml.empty();
    if (!request.crs.empty() && !gis) {
        return usageError("--crs gives grid coordinates to --geojson and --kml", "export");
    }
    if ((!request.frame.crs.empty() || !std::isnan(request.frame.epoch)) && request.crs.empty()) {
        return usageError("--frame and --epoch are for grid coordinates: give --crs too", "export");
    }
    request.writeProject = formatAsked || !gis;
    return runExport(request);
}

int runAdjustCommand(AdjustOptions options, const std::vector<std::string>& inputs) {
    if (inputs.empty()) {
        return usageError("adjust needs a project or a data set", "adjust");
    }
    if ((!options.frame.crs.empty() || !std::isnan(options.frame.epoch)) && options.crs.empty()) {
        return usageError("--frame and --epoch are for grid coordinates: give --crs too", "adjust");
    }
    options.input = inputs[0];
    options.moreInputs.assign(inputs.begin() + 1, inputs.end());
    return runAdjust(options);
}

// The parsed command line: every command's options, filled by CLI11 as it parses.
struct CommandLine {
    CLI::App app{
        "torvek-front: the front end of torvek, least-squares adjustment of GPS "
        "baseline networks.",
        "torvek-front"};
    AdjustOptions adjust;
    std::vector<std::string> adjustInputs;
    ImportRequest import;
    std::vector<std::string> importFiles;
    ExportRequest exporting;
    std::vector<std::string> exportDataSets;
    bool exportFormatAsked = false;
    ServeOptions serve;
    CLI::App* adjustCommand = nullptr;
    CLI::App* importCommand = nullptr;
    CLI::App* exportCommand = nullptr;
    CLI::App* serveCommand = nullptr;
    CLI::App* helpCommand = nullptr;

    CommandLine() {
        // Made only when asked for: the text names PROJ's version, and loading PROJ for every
        // command would cost more than a whole adjustment of the national network.
        app.set_version_flag("--version", std::function<std::string()>(versionText));
        app.require_subcommand(1);
        app.footer(kExitCodes);
        adjustCommand = addAdjust(app, adjust, adjustInputs);
        importCommand = addImport(app, import, importFiles);
        exportCommand = addExport(app, exporting, exportDataSets, exportFormatAsked);
        serveCommand = addServe(app, serve);
        helpCommand = app.add_subcommand("help", "lists the commands");
    }

    int run(ServeCommand runServe, int argc, const char* const* argv) {
        if (adjustCommand->parsed()) {
            return runAdjustCommand(adjust, adjustInputs);
        }
        if (importCommand->parsed()) {
            return runImportCommand(import, importFiles);
        }
        if (exportCommand->parsed()) {
            return runExportCommand(exporting, exportDataSets, exportFormatAsked);
        }
        if (serveCommand->parsed()) {
            return serve.inputs.size() > 2
                       ? usageError(
                             "serve opens one input, or a DynaML station file and its "
                             "measurement file",
                             "serve")
                       : runServe(serve, argc, argv);
        }
        const std::string help =
            app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal);
        std::fputs(help.c_str(), stdout);
        return 0;
    }

    // The command being parsed when an error came, for the hint to its --help.
    std::string commandName() const {
        for (const CLI::App* c : {adjustCommand, importCommand, exportCommand, serveCommand}) {
            if (c->parsed()) {
                return c->get_name();
            }
        }
        return {};
    }
};

}  // namespace

std::string versionText() {
    std::string text = softwareVersion() + "\n" + gridLibrary() + " for grid coordinates\n";
    const std::string sparse = TORVEK_SPARSE_FACTORISATION;
    text += sparse.empty() ? "torvek-large: not built (no sparse factorisation)"
                           : "torvek-large factorises with " + sparse;
    return text;
}

int runCommandLine(int argc, const char* const* argv, ServeCommand serve) {
    CommandLine line;
    if (argc < 2) {
        return usageError("a command is needed", "");
    }
    if (argc >= 2 && argv[1][0] != '-' &&
        line.app.get_subcommands([&](const CLI::App* c) { return c->get_name() == argv[1]; })
            .empty()) {
        return usageError(std::string("unknown command ") + argv[1], "");
    }
    try {
        line.app.parse(argc, argv);
    } catch (const CLI::Success& shown) {  // --help or --version
        return line.app.exit(shown);
    } catch (const CLI::ParseError& e) {
        return usageError(e.what(), line.commandName());
    }
    return line.run(serve, argc, argv);
}

}  // namespace torvek::front
