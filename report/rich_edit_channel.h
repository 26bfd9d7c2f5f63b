#pragma once
#include <cstdint>

namespace torvek {

/// The front end's report window: every report piece goes to it as a copy-data message. The window
/// is checked once, at construction, to be a rich-edit control; any other window (or none) makes
/// the channel silent for the rest of the run.
class RichEditChannel {
  public:
    /// The only class name the channel accepts, compared exactly (case-sensitive, whole name).
    static constexpr const char* kRichEditClass = "RICHEDIT";

    /// Data word bits of a report piece.
    static constexpr std::uint32_t kDataWordRtf = 1;
    static constexpr std::uint32_t kDataWordAtSelection = 2;

    /// `window`: the report endpoint from the command line, 0 when absent. Sends the class query.
    explicit RichEditChannel(std::int32_t window);
    virtual ~RichEditChannel() = default;
    RichEditChannel(const RichEditChannel&) = delete;
    RichEditChannel& operator=(const RichEditChannel&) = delete;

    /// The window in use: 0 when absent or not a rich-edit control.
    std::int32_t window() const { return window_; }

    /// Sends one message with its payload; 0 without sending when the window is 0, otherwise the
    /// front end's answer (0 when the send failed).
    std::int32_t sendMessage(std::uint32_t message, std::uint32_t wParam, const void* payload,
                             std::uint32_t payloadLength);

    /// Sends `text` (zero-terminated) as one report piece: RTF or plain text, at the selection or
    /// not. Returns the text's length when the front end accepted it, else 0.
    int sendText(const char* text, bool rtf, bool atSelection);

  private:
    std::int32_t window_;
};

}  // namespace torvek
