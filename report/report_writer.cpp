#include "report/report_writer.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "report/rtf_fragments.h"

namespace torvek {

ReportWriter::ReportWriter(RichEditChannel& channel) : channel_(channel) {
    printBuffer_[0] = '\0';
}

bool ReportWriter::printArgs(const char* format, std::va_list arguments) {
    if (format == nullptr)
        return false;
    // Room for the blank and the terminator is kept back; vsnprintf cuts anything longer.
    int written = std::vsnprintf(printBuffer_, kPrintBufferSize - 1, format, arguments);
    std::size_t length = written < 0 ? 0 : std::strlen(printBuffer_);
    printBuffer_[length] = ' ';
    printBuffer_[length + 1] = '\0';
    channel_.sendText(printBuffer_, false, true);
    return true;
}

bool ReportWriter::print(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    bool result = printArgs(format, arguments);
    va_end(arguments);
    return result;
}

int ReportWriter::setStyle(const ReportStyle& look) {
    std::string fragment = styleFragment(look);
    return channel_.sendText(fragment.c_str(), true, true);
}

void formatBannerDate(std::time_t when, char (&out)[32]) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    if (::localtime_r(&when, &local) == nullptr)
        local = std::tm{};
    // English names whatever the locale, so the text keeps its 24 characters.
    std::snprintf(out, sizeof out, "%.3s %.3s %02d %02d:%02d:%02d %04d\n",
                  kDays[(local.tm_wday % 7 + 7) % 7], kMonths[(local.tm_mon % 12 + 12) % 12],
                  local.tm_mday % 100, local.tm_hour % 100, local.tm_min % 100, local.tm_sec % 100,
                  (local.tm_year + 1900) % 10000);
}

void ReportWriter::printBanner(std::time_t now) {
    print("\n");
    std::string banner = bannerFragment();
    channel_.sendText(banner.c_str(), true, true);
    char date[32];
    formatBannerDate(now != 0 ? now : std::time(nullptr), date);
    setStyle(style::kBody);
    print("\n");
    // The date is the format itself; it holds no '%'.
    print("%s", date);
}

void ReportWriter::printTrailer() {
    setStyle(style::kBody);
    print("\n");
    setStyle(style::kClosed);
}

}  // namespace torvek
