#include "front/import/survey_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dataset/data_set_file.h"
#include "dataset/vector_record.h"
#include "front/files/file_output.h"
#include "front/files/run_files.h"
#include "front/import/dynaml.h"
#include "front/import/gama_xml.h"
#include "front/import/gps_vector_text.h"
#include "front/import/survey_merge.h"
#include "front/import/survey_network.h"
#include "front/import/xml_reading.h"
#include "front/text/messages.h"

namespace torvek::front {
namespace {

// How much of a file recognition reads: the XML declaration, comments and the root element of
// every format fit well within it.
constexpr std::size_t kRecognitionBytes = 16384;
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
// Bytes looked at for UTF-16 without a byte order mark: four characters at least.
constexpr std::size_t kUtf16ProbeBytes = 8;
// Bytes of text without a line break before a NUL that make a file text with a NUL rather than
// binary: a data set's first count holds a NUL within its four bytes.
constexpr std::size_t kTextBytesBeforeNul = 4;

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

std::uint64_t fileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// True for UTF-16 text: a byte order mark, or a NUL in every other byte of the first ones while
// the bytes between are not (a data set's counts hold NULs too, but not in this pattern).
bool isUtf16Text(std::string_view head) {
    if (head.substr(0, 2) == "\xFF\xFE" || head.substr(0, 2) == "\xFE\xFF") {
        return true;
    }
    const std::size_t checked = std::min<std::size_t>(head.size() & ~std::size_t{1}, 64);
    if (checked < kUtf16ProbeBytes) {
        return false;
    }
    for (std::size_t zeroAt = 0; zeroAt < 2; ++zeroAt) {
        bool pattern = true;
        for (std::size_t i = 0; i < checked && pattern; ++i) {
            const bool zero = head[i] == '\0';
            pattern = (i % 2 == zeroAt) ? zero : !zero;
        }
        if (pattern) {
            return true;
        }
    }
    return false;
}

// True when the bytes before the NUL at `nul` are text: no control bytes, and a line break among
// them or at least kTextBytesBeforeNul bytes.
bool textBefore(std::string_view head, std::size_t nul) {
    const std::string_view before = head.substr(0, nul);
    for (const char c : before) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\n' && c != '\r' && c != '\t') {
            return false;
        }
    }
    return before.find('\n') != std::string_view::npos || before.size() >= kTextBytesBeforeNul;
}

// The counts at the start of a data set as little-endian int32, 0 where the head ends.
std::array<std::int32_t, 3> dataSetCounts(std::string_view head) {
    std::array<std::int32_t, 3> counts{};
    for (std::size_t i = 0; i < counts.size() && head.size() >= 4 * (i + 1); ++i) {
        std::uint32_t value = 0;
        for (std::size_t b = 0; b < 4; ++b) {
            value |= static_cast<std::uint32_t>(static_cast<unsigned char>(head[4 * i + b]))
                     << (8 * b);
        }
        counts[i] = static_cast<std::int32_t>(value);
    }
    return counts;
}

// Empty when the counts of `head` and the file's size agree with the data set layout: whole, or
// short by no more than the reader's allowance of blank records (kMissingRecordAllowance of the
// largest kind, the vector record); else why they do not.
std::string layoutMismatch(std::string_view head, std::uint64_t size) {
    if (size < kEmptyDataSetFileSize) {
        return "it holds " + std::to_string(size) + " bytes, fewer than the " +
               std::to_string(kEmptyDataSetFileSize) + " of a data set's counts and header";
    }
    const std::array<std::int32_t, 3> counts = dataSetCounts(head);
    const std::uint64_t announced = dataSetFileSize(counts[0], counts[1], counts[2]);
    const bool agrees =
        size <= announced && announced - size <= kMissingRecordAllowance * kVectorRecordSize;
    if (agrees) {
        return {};
    }
    return "its counts (" + std::to_string(counts[0]) + " sites, " + std::to_string(counts[1]) +
           " vectors, " + std::to_string(counts[2]) + " adjustment records) announce " +
           std::to_string(announced) + " bytes, and it holds " + std::to_string(size);
}

}  // namespace

InputFormat recogniseInput(std::string_view head, const std::string& path) {
    if (head.empty()) {
        return InputFormat::kEmptyFile;
    }
    if (isUtf16Text(head)) {
        return InputFormat::kUtf16Text;
    }
    if (endsWithJson(path)) {
        return InputFormat::kProject;
    }
    if (const std::size_t nul = head.find('\0'); nul != std::string_view::npos) {
        return textBefore(head, nul) ? InputFormat::kTextWithNul : InputFormat::kDataSet;
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
    const std::string head = readHead(path, kRecognitionBytes);
    const InputFormat format = recogniseInput(head, path);
    if (format == InputFormat::kDataSet && !layoutMismatch(head, fileSize(path)).empty()) {
        return InputFormat::kNotADataSet;
    }
    return format;
}

std::string nulByteProblem(const std::string& path, std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul == std::string_view::npos) {
        return {};
    }
    const auto line = 1 + std::count(text.begin(), text.begin() + static_cast<long>(nul), '\n');
    return path + ": line " + std::to_string(line) +
           " holds a NUL byte, which no text file holds (is it damaged, or not text?)";
}

std::string inputProblem(const std::string& path, InputFormat format) {
    switch (format) {
        case InputFormat::kEmptyFile:
            return path + ": is an empty file";
        case InputFormat::kUtf16Text:
            return path + ": is UTF-16 text; save it as UTF-8 text and give it again";
        case InputFormat::kTextWithNul:
            return nulByteProblem(path, readHead(path, kRecognitionBytes));
        case InputFormat::kNotADataSet:
            return path + ": is not a data set: " +
                   layoutMismatch(readHead(path, kDataSetCountsSize), fileSize(path));
        default:
            return {};
    }
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
        case InputFormat::kEmptyFile:
            return "an empty file";
        case InputFormat::kUtf16Text:
            return "UTF-16 text";
        case InputFormat::kTextWithNul:
            return "text with a NUL byte";
        case InputFormat::kNotADataSet:
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
    if (const std::string problem = inputProblem(path, format); !problem.empty()) {
        error = problem;
        return false;
    }
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
    if (!readWholeFile(path, kMaximumProjectSize, text, error)) {
        return false;
    }
    // A NUL beyond the bytes recognition looked at.
    error = nulByteProblem(path, text);
    return error.empty();
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
    for (const SurveyVector& vector : network.vectors) {
        report.vectorPlaces.push_back(vector.where);
    }
    return true;
}

std::string withVectorPlace(const std::string& error, const std::vector<std::string>& places) {
    static constexpr std::string_view kVectors = "vectors[";
    const std::size_t at = error.find(kVectors);
    if (at == std::string::npos) {
        return error;
    }
    std::size_t index = 0;
    const char* first = error.data() + at + kVectors.size();
    const auto [end, failed] = std::from_chars(first, error.data() + error.size(), index);
    if (failed != std::errc() || *end != ']' || index >= places.size() || places[index].empty()) {
        return error;
    }
    return error.substr(0, at) + places[index] + ": " + error.substr(at);
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
        printMessage("torvek-front: " + report.error + "\n");
        return false;
    }
    printMessages("note: ", report.notes);
    printMessages("warning: ", report.warnings);
    const std::vector<std::string> places = std::move(report.vectorPlaces);
    if (!importProjectDocument(document, sourceName, importOptions, dataSet, report)) {
        printMessage("torvek-front: " + withVectorPlace(report.error, places) + "\n");
        return false;
    }
    printMessages("note: ", report.notes);
    printMessages("warning: ", report.warnings);
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
    if (!readInputDocument(paths, options, document, sourceName, report)) {
        error = report.error;
        return false;
    }
    const std::vector<std::string> places = std::move(report.vectorPlaces);
    if (!importProjectDocument(document, sourceName, ImportOptions{}, dataSet, report)) {
        error = withVectorPlace(report.error, places);
        return false;
    }
    names = report.siteNames;
    return true;
}

bool holdsInputData(const std::string& path) {
    if (!isRegularFile(path)) {
        return false;
    }
    switch (recogniseFile(path)) {
        case InputFormat::kProject:
        case InputFormat::kGpsVectorText:
        case InputFormat::kGamaLocal:
        case InputFormat::kGamaG3:
        case InputFormat::kDynaStations:
        case InputFormat::kDynaMeasurements:
            return true;
        default:
            return false;
    }
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
