#include "front/import/survey_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "front/files/file_output.h"
#include "front/files/run_files.h"
#include "front/import/dynaml.h"
#include "front/import/gama_xml.h"
#include "front/import/gps_vector_text.h"
#include "front/import/survey_merge.h"
#include "front/import/survey_network.h"
#include "front/import/xml_reading.h"

namespace torvek::front {
namespace {

// How much of a file recognition reads: the XML declaration, comments and the root element of
// every format fit well within it.
constexpr std::size_t kRecognitionBytes = 16384;
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool endsWithJson(const std::string& path) {
    if (path.size() < 5) {
        return false;
    }
    std::string tail = path.substr(path.size() - 5);
    for (char& c : tail) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return tail == ".json";
}

std::string_view withoutByteOrderMark(std::string_view text) {
    return text.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark
               ? text.substr(kUtf8ByteOrderMark.size())
               : text;
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Up to `limit` bytes from the start of a regular file; empty when it cannot be read.
std::string readHead(const std::string& path, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return {};
    }
    std::string head(limit, '\0');
    std::size_t got = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd, head.data() + got, limit - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    head.resize(got);
    return head;
}

void survey(InputFormat format, std::string_view text, const SurveyOptions& options,
            SurveyNetwork& network) {
    switch (format) {
        case InputFormat::kGpsVectorText:
            readGpsVectorText(text, options.covarianceUnit, network);
            return;
        case InputFormat::kGamaLocal:
            readGamaLocal(text, options.covarianceUnit, network);
            return;
        case InputFormat::kGamaG3:
            readGamaG3(text, options.covarianceUnit, network);
            return;
        default:
            surveyFail("", "is not a survey file");
    }
}

std::string surveyMessage(const std::string& source, const SurveyError& e) {
    return source + ": " + (e.where.empty() ? "" : e.where + ": ") + e.what;
}

void print(const char* prefix, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        std::fprintf(stderr, "%s%s\n", prefix, line.c_str());
    }
}

}  // namespace

InputFormat recogniseInput(std::string_view head, const std::string& path) {
    if (endsWithJson(path)) {
        return InputFormat::kProject;
    }
    if (head.empty() || head.find('\0') != std::string_view::npos) {
        return InputFormat::kDataSet;
    }
    std::string_view text = withoutByteOrderMark(head);
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return InputFormat::kUnrecognised;
    }
    text = text.substr(first);
    if (text[0] == '<') {
        const std::string root = xml::rootName(text);
        if (root == "gama-local") {
            return InputFormat::kGamaLocal;
        }
        if (root == "gnu-gama-data") {
            return InputFormat::kGamaG3;
        }
        switch (dynaFileKind(text)) {
            case DynaFileKind::kStations:
                return InputFormat::kDynaStations;
            case DynaFileKind::kMeasurements:
                return InputFormat::kDynaMeasurements;
            case DynaFileKind::kNone:
                return InputFormat::kUnrecognised;
        }
    }
    if (text[0] == '{' || text.substr(0, 2) == "//" || text.substr(0, 2) == "/*") {
        return InputFormat::kProject;
    }
    return looksLikeGpsVectorText(text) ? InputFormat::kGpsVectorText : InputFormat::kUnrecognised;
}

InputFormat recogniseFile(const std::string& path) {
    if (!isRegularFile(path)) {
        return endsWithJson(path) ? InputFormat::kProject : InputFormat::kDataSet;
    }
    return recogniseInput(readHead(path, kRecognitionBytes), path);
}

const char* formatDescription(InputFormat format) {
    switch (format) {
        case InputFormat::kDataSet:
            return "a data set";
        case InputFormat::kProject:
            return "a project";
        case InputFormat::kGpsVectorText:
            return "a GPS vector text file";
        case InputFormat::kGamaLocal:
            return "a gama-local XML file";
        case InputFormat::kGamaG3:
            return "a gama-g3 XML file";
        case InputFormat::kDynaStations:
            return "a DynaML station file";
        case InputFormat::kDynaMeasurements:
            return "a DynaML measurement file";
        case InputFormat::kUnrecognised:
            break;
    }
    return "of no format read here";
}

namespace {

// Recognises one input file and reads its text. False, with `error` set, when it cannot be read
// or holds nothing an import reads (a data set included: export turns that into a project).
bool readInputFile(const std::string& path, InputFormat& format, std::string& text,
                   std::string& error) {
    if (::access(path.c_str(), R_OK) != 0) {
        error = path + ": cannot be opened (" + std::strerror(errno) + ")";
        return false;
    }
    if (!isRegularFile(path) && !endsWithJson(path)) {
        error = path + ": is not a regular file";
        return false;
    }
    format = recogniseFile(path);
    if (format == InputFormat::kUnrecognised) {
        error = path +
                ": is not a format read here (a project, a data set, GPS vector text, "
                "gama-local or gama-g3 XML, or DynaML station and measurement files)";
        return false;
    }
    if (format == InputFormat::kDataSet) {
        error = path +
                ": is a data set, not a project or a survey file (export turns it "
                "into a project)";
        return false;
    }
    return readWholeFile(path, kMaximumProjectSize, text, error);
}

bool isDynaFile(InputFormat format) {
    return format == InputFormat::kDynaStations || format == InputFormat::kDynaMeasurements;
}

// Checks how the inputs go together: a project comes alone, a file is given once, and DynaML
// files come as at most one station file with at most one measurement file, the latter never
// without the former, the former alone only beside other survey files (its control). False, with
// `error` set, otherwise.
bool checkInputPairing(const std::vector<std::string>& paths,
                       const std::vector<InputFormat>& formats, std::string& error) {
    std::size_t dyna[2] = {paths.size(), paths.size()};  // station, measurement file
    for (std::size_t i = 0; i < paths.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (samePath(paths[i], paths[j])) {
                error = paths[i] + ": is given twice";
                return false;
            }
        }
        if (formats[i] == InputFormat::kProject && paths.size() > 1) {
            error = paths[i] +
                    ": is a project, which is read alone (survey files can be read "
                    "together)";
            return false;
        }
        if (isDynaFile(formats[i])) {
            std::size_t& seen = dyna[formats[i] == InputFormat::kDynaStations ? 0 : 1];
            if (seen != paths.size()) {
                error = paths[seen] + " and " + paths[i] + " are both " +
                        formatDescription(formats[i]) +
                        ": DynaML files come as one station file and its measurement file";
                return false;
            }
            seen = i;
        }
    }
    if (dyna[1] != paths.size() && dyna[0] == paths.size()) {
        error = paths[dyna[1]] + ": is " + formatDescription(formats[dyna[1]]) +
                "; give the station file and the measurement file together";
        return false;
    }
    if (paths.size() == 1 && isDynaFile(formats[0])) {
        error = paths[0] + ": is " + formatDescription(formats[0]) +
                "; give the station file and the measurement file together";
        return false;
    }
    return true;
}

// A measurement file without measurements, for a station file read as the control of vectors
// from other files.
constexpr std::string_view kNoDynaMeasurements =
    "<DnaXmlFormat type=\"Measurement File\"></DnaXmlFormat>";

// Reads each survey file (a DynaML pair as one) into its own network. Throws SurveyError with
// the file's name in front of the place.
std::vector<SurveySource> readSurveySources(const std::vector<std::string>& paths,
                                            const std::vector<InputFormat>& formats,
                                            const std::vector<std::string>& texts,
                                            const SurveyOptions& options) {
    std::vector<SurveySource> sources;
    const auto at = [&](InputFormat format) {
        for (std::size_t i = 0; i < formats.size(); ++i) {
            if (formats[i] == format) {
                return i;
            }
        }
        return formats.size();
    };
    const std::size_t stations = at(InputFormat::kDynaStations);
    const std::size_t measurements = at(InputFormat::kDynaMeasurements);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i == measurements) {
            continue;  // read with its station file
        }
        SurveySource source{paths[i], {}};
        try {
            if (i == stations) {
                const bool pair = measurements < paths.size();
                source.name = pair ? paths[i] + " and " + paths[measurements] : paths[i];
                readDynaml(withoutByteOrderMark(texts[i]),
                           pair ? withoutByteOrderMark(texts[measurements]) : kNoDynaMeasurements,
                           options.covarianceUnit, source.network);
            } else {
                survey(formats[i], withoutByteOrderMark(texts[i]), options, source.network);
            }
        } catch (const SurveyError& e) {
            surveyFail("", surveyMessage(source.name, e));
        }
        sources.push_back(std::move(source));
    }
    return sources;
}

// Reads the survey files into one project document, naming them in `sourceName`. Throws
// SurveyError whose text names the file.
Json readSurveyDocument(const std::vector<std::string>& paths,
                        const std::vector<InputFormat>& formats,
                        const std::vector<std::string>& texts, const SurveyOptions& options,
                        std::string& sourceName, SurveyNetwork& network) {
    std::vector<SurveySource> sources = readSurveySources(paths, formats, texts, options);
    sourceName.clear();
    for (std::size_t i = 0; i < sources.size(); ++i) {
        sourceName += (i == 0 ? "" : i + 1 == sources.size() ? " and " : ", ") + sources[i].name;
    }
    network = mergeSurveys(std::move(sources));
    try {
        return surveyProject(network);
    } catch (const SurveyError& e) {
        surveyFail("", surveyMessage(sourceName, e));
    }
}

}  // namespace

bool readInputDocument(const std::vector<std::string>& paths, const SurveyOptions& options,
                       Json& document, std::string& sourceName, ImportReport& report) {
    report = ImportReport{};
    std::string& error = report.error;
    if (paths.empty()) {
        error = "give an input file";
        return false;
    }
    std::vector<InputFormat> formats(paths.size(), InputFormat::kUnrecognised);
    std::vector<std::string> texts(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!readInputFile(paths[i], formats[i], texts[i], error)) {
            return false;
        }
    }
    if (!checkInputPairing(paths, formats, error)) {
        return false;
    }
    if (formats[0] == InputFormat::kProject) {
        if (options.covarianceUnit) {
            error = paths[0] +
                    ": a project states the unit of each covariance; --covariance-unit is for "
                    "survey files";
            return false;
        }
        sourceName = paths[0];
        return parseProjectText(texts[0], sourceName, document, error);
    }
    SurveyNetwork network;
    try {
        document = readSurveyDocument(paths, formats, texts, options, sourceName, network);
    } catch (const SurveyError& e) {
        error = e.what;
        return false;
    }
    report.notes = network.notes;
    report.warnings = network.warnings;
    return true;
}

bool isDataSetInput(const std::vector<std::string>& paths) {
    return paths.size() == 1 && recogniseFile(paths[0]) == InputFormat::kDataSet;
}

bool buildInputDataSet(const std::vector<std::string>& paths, const SurveyOptions& options,
                       const ImportOptions& importOptions, AdjustedDataSet& dataSet,
                       SiteNameTable& names, Json* built) {
    Json document;
    std::string sourceName;
    ImportReport report;
    if (!readInputDocument(paths, options, document, sourceName, report)) {
        std::fprintf(stderr, "torvek-front: %s\n", report.error.c_str());
        return false;
    }
    print("note: ", report.notes);
    print("warning: ", report.warnings);
    if (!importProjectDocument(document, sourceName, importOptions, dataSet, report)) {
        std::fprintf(stderr, "torvek-front: %s\n", report.error.c_str());
        return false;
    }
    print("note: ", report.notes);
    print("warning: ", report.warnings);
    names = report.siteNames;
    if (built != nullptr) {
        *built = std::move(document);
    }
    return true;
}

bool readSiteNames(const std::vector<std::string>& paths, const SurveyOptions& options,
                   SiteNameTable& names, std::string& error) {
    Json document;
    std::string sourceName;
    ImportReport report;
    AdjustedDataSet dataSet;
    if (!readInputDocument(paths, options, document, sourceName, report) ||
        !importProjectDocument(document, sourceName, ImportOptions{}, dataSet, report)) {
        error = report.error;
        return false;
    }
    names = report.siteNames;
    return true;
}

bool holdsInputData(const std::string& path) {
    if (!isRegularFile(path)) {
        return false;
    }
    const InputFormat format = recogniseFile(path);
    return format != InputFormat::kDataSet && format != InputFormat::kUnrecognised;
}

std::string outputNamingAnInput(const std::vector<std::string>& outputs,
                                const std::vector<std::string>& inputs) {
    for (const std::string& output : outputs) {
        for (const std::string& input : inputs) {
            if (samePath(output, input)) {
                return output;
            }
        }
    }
    return {};
}

}  // namespace torvek::front
