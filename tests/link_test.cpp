// The link's bytes held against a decoder written from the link's document alone (the oracle),
// on the program's side and the front end's, and the link's rules for broken peers.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "link/endpoint_io.h"
#include "link/frame_codec.h"
#include "link/messages.h"
#include "platform/class_name.h"
#include "platform/message_box.h"
#include "platform/send_message.h"
#include "report/rich_edit_channel.h"
#include "support/link_oracle.h"

namespace torvek {
namespace {

// One socket pair. Answers are written to the front end's end before the program's call, so
// that the call needs no serving thread; what the program sent is read back after it.
class Pair {
  public:
    Pair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
    ~Pair() {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    int program() const { return fds_[0]; }
    int frontEnd() const { return fds_[1]; }
    void write(int fd, const std::string& bytes) {
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    }
    // Everything the program's end sent so far; it sends nothing more.
    std::string sentByProgram() {
        ::shutdown(fds_[0], SHUT_WR);
        std::string all;
        char buffer[4096];
        for (ssize_t got; (got = ::read(fds_[1], buffer, sizeof buffer)) > 0;)
            all.append(buffer, std::size_t(got));
        return all;
    }

  private:
    int fds_[2] = {-1, -1};
};

TEST(LinkBytes, ProgramSideCallsSendTheDocumentsFrames) {
    const std::string text = "Only one part will be adjusted.";
    const std::string caption = "The network connectivity test";
    struct Case {
        const char* kind;
        std::uint32_t wParam;
        std::int32_t answer, result;
        std::function<int(int)> call;
    } cases[] = {
        {"abort poll", 29, 0, 0,
         [](int fd) { return platform::sendMessage(fd, link::Message::kAbortPoll, 29); }},
        {"abort poll", 100, 7, 7,
         [](int fd) { return platform::sendMessage(fd, link::Message::kAbortPoll, 100); }},
        {"exit notice", 0, 0, 0,
         [](int fd) { return platform::sendMessage(fd, link::Message::kExitNotice, 0); }},
        {"warning box", 0x31, 1, 1,
         [&](int fd) {
             return platform::messageBox(fd, text.c_str(), caption.c_str(), link::kWarningBoxStyle);
         }},
        {"warning box", 0x31, 3, 2,  // any answer but OK is Cancel
         [&](int fd) {
             return platform::messageBox(fd, text.c_str(), caption.c_str(), link::kWarningBoxStyle);
         }},
    };
    for (const Case& c : cases) {
        Pair pair;
        pair.write(pair.frontEnd(), testing::oracle::answerBytes(c.answer));
        EXPECT_EQ(c.call(pair.program()), c.result) << c.kind;
        std::vector<testing::oracle::Frame> frames;
        EXPECT_EQ(testing::oracle::decodeStream(pair.sentByProgram(), frames), "");
        ASSERT_EQ(frames.size(), 1u) << c.kind;
        EXPECT_EQ(frames[0].kind, c.kind);
        EXPECT_EQ(frames[0].wParam, c.wParam) << c.kind;
        if (frames[0].kind == "warning box") {
            EXPECT_EQ(frames[0].boxText, text);
            EXPECT_EQ(frames[0].boxCaption, caption);
        } else {
            EXPECT_EQ(frames[0].payload, "") << c.kind;
        }
    }
}

TEST(LinkBytes, ReportChannelQueriesTheClassThenSendsPieces) {
    Pair pair;
    pair.write(pair.frontEnd(), testing::oracle::classAnswerBytes("RICHEDIT") +
                                    testing::oracle::answerBytes(1) +
                                    testing::oracle::answerBytes(0));
    RichEditChannel channel(pair.program());
    EXPECT_EQ(channel.sendText("Number of sites: 12\n ", false, true), 21);
    EXPECT_EQ(channel.sendText("{\\rtf1 x}", true, true), 0);  // answered 0: not delivered
    std::vector<testing::oracle::Frame> frames;
    ASSERT_EQ(testing::oracle::decodeStream(pair.sentByProgram(), frames), "");
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].kind, "class query");
    EXPECT_EQ(frames[1].kind, "report piece");
    EXPECT_EQ(frames[1].dataWord, 2u);  // plain text at the selection
    EXPECT_EQ(frames[1].byteCount, 22u);
    EXPECT_EQ(frames[1].text, "Number of sites: 12\n ");
    EXPECT_EQ(frames[2].dataWord, 3u);  // RTF at the selection
    EXPECT_EQ(frames[2].text, "{\\rtf1 x}");
}

TEST(LinkBytes, FrontEndSideReadsTheDocumentsFramesAndAnswers) {
    const std::pair<link::Message, const char*> names[] = {
        {link::Message::kAbortPoll, "abort poll"},     {link::Message::kExitNotice, "exit notice"},
        {link::Message::kReportPiece, "report piece"}, {link::Message::kClassQuery, "class query"},
        {link::Message::kWarningBox, "warning box"},
    };
    for (const auto& [message, kind] : names)
        EXPECT_EQ(static_cast<std::uint32_t>(message), testing::oracle::numberOf(kind)) << kind;

    Pair pair;
    const std::string piece("\x02\0\0\0\x04\0\0\0ab \0", 12);
    const std::string box("Text\0Caption\0", 13);
    pair.write(pair.program(), testing::oracle::frameBytes("abort poll", 58, "") +
                                   testing::oracle::frameBytes("report piece", 0, piece) +
                                   testing::oracle::frameBytes("warning box", 0x31, box));
    ::shutdown(pair.program(), SHUT_WR);
    link::Frame frame;
    ASSERT_EQ(link::readFrame(pair.frontEnd(), 64, frame), link::ReadResult::kFrame);
    EXPECT_EQ(frame.head.message, link::Message::kAbortPoll);
    EXPECT_EQ(frame.head.wParam, 58u);
    ASSERT_EQ(link::readFrame(pair.frontEnd(), 64, frame), link::ReadResult::kFrame);
    link::ReportPiece decoded;
    ASSERT_TRUE(link::decodeReportPiece(frame.payload, decoded));
    EXPECT_EQ(decoded.dataWord, 2u);
    EXPECT_EQ(decoded.text, "ab ");
    ASSERT_EQ(link::readFrame(pair.frontEnd(), 64, frame), link::ReadResult::kFrame);
    EXPECT_EQ(frame.head.wParam, link::kWarningBoxStyle);
    EXPECT_EQ(link::decodeWarningBox(frame.payload).caption, "Caption");
    EXPECT_EQ(link::readFrame(pair.frontEnd(), 64, frame), link::ReadResult::kClosed);

    EXPECT_EQ(link::encodeAnswer(-5), testing::oracle::answerBytes(-5));
    EXPECT_EQ(link::encodeClassAnswer(8, "RICHEDIT"),
              testing::oracle::classAnswerBytes("RICHEDIT"));
}

TEST(LinkRules, BrokenFramesAreRefusedWithoutAllocatingOrHanging) {
    struct Case {
        const char* name;
        std::string bytes;  // what the peer sent before closing
        link::ReadResult result;
    } reads[] = {
        {"2 GiB announced",
         testing::oracle::frameBytes("report piece", 0, "").substr(0, 12) +
             std::string("\0\0\0\x80", 4),
         link::ReadResult::kTooLong},
        {"head cut short", std::string(15, '\0'), link::ReadResult::kClosed},
        {"payload cut short", testing::oracle::frameBytes("warning box", 0, "abc").substr(0, 18),
         link::ReadResult::kClosed},
    };
    for (const Case& c : reads) {
        Pair pair;
        pair.write(pair.program(), c.bytes);
        ::shutdown(pair.program(), SHUT_WR);
        link::Frame frame;
        EXPECT_EQ(link::readFrame(pair.frontEnd(), 1u << 20, frame), c.result) << c.name;
    }

    // A class name is taken only when all its bytes arrive; 63 is the longest (whole runs check
    // the lengths beyond).
    const std::pair<std::string, int> names[] = {
        {testing::oracle::classAnswerBytes(std::string(63, 'x')), 63},
        {testing::oracle::answerBytes(8) + "RICH", 0}};
    for (const auto& [answer, length] : names) {
        Pair pair;
        pair.write(pair.frontEnd(), answer);
        ::shutdown(pair.frontEnd(), SHUT_WR);
        char name[64];
        EXPECT_EQ(platform::getClassName(pair.program(), name, sizeof name), length);
    }

    // Pieces: too short for the two words, or announcing more than they hold.
    // The piece's text points into the payload, so the payload must outlive it.
    link::ReportPiece piece;
    EXPECT_FALSE(link::decodeReportPiece(std::string(7, '\0'), piece));
    const std::string overlong("\x02\0\0\0\xff\0\0\0abc", 11);
    ASSERT_TRUE(link::decodeReportPiece(overlong, piece));
    EXPECT_TRUE(piece.countExceedsPayload);
    EXPECT_EQ(piece.text, "abc");
}

TEST(LinkRules, OverLongClassNameIsReadSoThatClosingStaysClean) {
    // A name of 64 bytes or more is refused, but its bytes are taken off the socket: closing an
    // end with unread bytes resets the connection, which the front end takes for a crash.
    for (int length : {64, 100, 5000}) {
        SCOPED_TRACE(length);
        Pair pair;
        pair.write(pair.frontEnd(),
                   testing::oracle::classAnswerBytes(std::string(std::size_t(length), 'x')));
        std::string name;
        EXPECT_FALSE(link::queryClassName(pair.program(), name));
        EXPECT_TRUE(name.empty());
        ::shutdown(pair.program(), SHUT_RDWR);
        char buffer[64];
        ssize_t got = 0;
        while ((got = ::read(pair.frontEnd(), buffer, sizeof buffer)) > 0) {
        }
        EXPECT_EQ(got, 0) << std::strerror(errno);  // end of input, not a reset
    }
}

}  // namespace
}  // namespace torvek
