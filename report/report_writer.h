#pragma once
#include <cstdarg>
#include <ctime>

#include "report/report_styles.h"
#include "report/rich_edit_channel.h"

namespace torvek {

/// The report of a run: a stream of pieces sent one after another to the front end's report
/// window. Reporting code calls setStyle for the look of what follows, then print for the text.
class ReportWriter {
  public:
    /// Size of the print buffer: a formatted text, the appended blank and the terminator must fit,
    /// so one print produces at most 4094 characters (longer texts are cut there).
    static constexpr int kPrintBufferSize = 4096;

    explicit ReportWriter(RichEditChannel& channel);
    virtual ~ReportWriter() = default;
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    /// Formats like printf, appends one blank and sends the text as a plain piece at the selection.
    /// False, sending nothing, when `format` is null; true otherwise, whatever the front end said.
    bool print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool printArgs(const char* format, std::va_list arguments);

    /// Sets the look of what follows, one of the named styles (report_styles.h). Returns the
    /// channel's answer: the fragment's length, or 0 when nothing was delivered.
    int setStyle(const ReportStyle& look);

    /// Opens the report: banner, then the local date and time of `now` (the current time when 0).
    void printBanner(std::time_t now = 0);

    /// Closes the report.
    void printTrailer();

  private:
    RichEditChannel& channel_;
    char printBuffer_[kPrintBufferSize];
};

/// The date text of the banner: day name, month name, two-digit day of month, 24-hour time and
/// four-digit year in English (24 characters) and a line end, e.g. "Mon Dec 07 08:10:22 2026\n".
void formatBannerDate(std::time_t when, char (&out)[32]);

}  // namespace torvek
