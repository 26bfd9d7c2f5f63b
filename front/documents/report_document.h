#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvek::front {

// The look of a run of report text, as the program's style fragments set it.
struct TextFormat {
    int halfPoints = 20;  // font size in half-points (RTF \fs); 20 is 10 points
    int colour = 0;       // index into the report's sixteen-colour table, [0, 15]
    bool bold = false;
    bool italic = false;
    bool underline = false;

    bool operator==(const TextFormat&) const = default;
};

struct TextRun {
    TextFormat format;
    std::string text;  // no line feeds; tabs kept
};

struct ReportLine {
    std::vector<TextRun> runs;
    bool centred = false;

    // The text of the line without formats.
    std::string plainText() const;
};

// The report as the program sends it, rebuilt the way a rich-edit window shows it: lines of
// formatted runs.
//
// Plain pieces are inserted with the format of the last character that the previous RTF piece
// put in, which is how a rich-edit control continues typing: the style fragments end with a
// "\plain" that governs no character, so the chosen look stays in force for the text that
// follows. RTF pieces are read by a small interpreter that knows what the program's fragments use
// (font size, colour, bold, italic, underline, centring, tabs, paragraphs, the escapes) and skips
// the font and colour tables and any other group it does not know.
//
// A report beyond 64 MiB of pieces or 200,000 lines ends with a notice on a line of its own; the
// pieces after it are dropped.
class ReportDocument {
  public:
    // One report piece: `dataWord` bit 0 set for RTF, bit 1 set to insert at the selection (the
    // end); without bit 1 the piece replaces everything shown so far, as a rich-edit stream-in
    // does. `text` is the piece without its terminating zero.
    void addPiece(std::uint32_t dataWord, std::string_view text);

    const std::vector<ReportLine>& lines() const { return lines_; }
    // The lines, for rewriting text within its runs (full site names in place of codes).
    std::vector<ReportLine>& editableLines() { return lines_; }
    // Every character of the report without formats, lines joined by line feeds.
    std::string plainText() const;
    // Number of pieces taken.
    std::size_t pieceCount() const { return pieceCount_; }

  private:
    void insertText(std::string_view text, const TextFormat& format);
    // Ends the report with `notice` on a line of its own; later pieces are not taken.
    void stopTaking(const std::string& notice);
    void addRtf(std::string_view rtf);
    void clear();

    std::vector<ReportLine> lines_{ReportLine{}};
    TextFormat insertionFormat_;  // for plain text
    bool paragraphCentred_ = false;
    std::size_t pieceCount_ = 0;
    std::size_t total_ = 0;  // bytes of all pieces taken
    bool truncated_ = false;
};

// The sixteen colours of the report's colour table as 0xRRGGBB, by index.
std::uint32_t reportColour(int index);

}  // namespace torvek::front
