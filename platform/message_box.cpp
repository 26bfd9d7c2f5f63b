#include "platform/message_box.h"

#include <cctype>
#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "platform/send_message.h"

namespace torvek::platform {
namespace {

// A console answer longer than this is not one of the accepted words anyway.
constexpr std::size_t kMaxAnswerLength = 64;

bool isOkAnswer(std::string word) {
    for (char& c : word)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word.empty() || word == "ok" || word == "o" || word == "y" || word == "yes";
}

int askOnConsole(const char* text, const char* caption, std::FILE* answers, std::FILE* prompt) {
    std::fprintf(prompt, "%s\n%s\n[OK/Cancel] (Enter = OK): ", caption, text);
    std::fflush(prompt);
    std::string line;
    bool gotLine = false;
    for (int c; (c = std::fgetc(answers)) != EOF;) {
        gotLine = true;
        if (c == '\n')
            break;
        if (line.size() < kMaxAnswerLength)
            line.push_back(static_cast<char>(c));
    }
    if (!gotLine)
        return link::kButtonCancel;  // end of input: nobody answered
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front())))
        line.erase(line.begin());
    return isOkAnswer(line) ? link::kButtonOk : link::kButtonCancel;
}

}  // namespace

int messageBox(std::int32_t owner, const char* text, const char* caption, std::uint32_t style,
               std::FILE* answers, std::FILE* prompt) {
    if (text == nullptr)
        text = "";
    if (caption == nullptr)
        caption = "";
    if (owner == 0)
        return askOnConsole(text, caption, answers, prompt);
    const std::int32_t button = sendMessage(owner, link::Message::kWarningBox, style,
                                            link::encodeWarningBox(text, caption));
    return button == link::kButtonOk ? link::kButtonOk : link::kButtonCancel;
}

}  // namespace torvek::platform
