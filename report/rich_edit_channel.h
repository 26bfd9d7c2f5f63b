#pragma once
#include <cstdint>
#include <string_view>

#include "link/messages.h"

namespace torvek {

/// The front end's report window: every report piece goes to its endpoint as a copy-data message.
/// The endpoint is checked once, at construction, to be a rich-edit control; any other class (or
/// no endpoint) makes the channel silent for the rest of the run.
class RichEditChannel {
  public:
    /// `endpoint`: the report endpoint from the command line, 0 when absent. Sends the class query.
    explicit RichEditChannel(std::int32_t endpoint);
    virtual ~RichEditChannel() = default;
    RichEditChannel(const RichEditChannel&) = delete;
    RichEditChannel& operator=(const RichEditChannel&) = delete;

    /// The endpoint in use: 0 when absent or not a rich-edit control.
    std::int32_t endpoint() const { return endpoint_; }

    /// Sends one message with its payload; 0 without sending when the endpoint is 0, otherwise the
    /// front end's answer (0 when the send failed).
    std::int32_t sendMessage(link::Message message, std::uint32_t wParam, std::string_view payload);

    /// Sends `text` (zero-terminated) as one report piece: RTF or plain text, at the selection or
    /// not. Returns the text's length when the front end accepted it, else 0.
    int sendText(const char* text, bool rtf, bool atSelection);

  private:
    std::int32_t endpoint_;
};

}  // namespace torvek
