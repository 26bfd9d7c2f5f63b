// The POSIX stand-ins: endpoint numbers, paths, file copy, console message box, dead sockets.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "app/command_line.h"
#include "link/messages.h"
#include "platform/file_copy.h"
#include "platform/full_path.h"
#include "platform/message_box.h"
#include "platform/send_message.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

namespace torvek {
namespace {

TEST(CommandLine, EndpointNumbersFollowDecimalConversion) {
    EXPECT_EQ(parseEndpointNumber("17"), 17);
    EXPECT_EQ(parseEndpointNumber("  +8x"), 8);
    EXPECT_EQ(parseEndpointNumber("-3"), -3);
    EXPECT_EQ(parseEndpointNumber("abc"), 0);
    EXPECT_EQ(parseEndpointNumber(""), 0);
    EXPECT_EQ(parseEndpointNumber("99999999999999999999"), 2147483647);
    EXPECT_EQ(parseEndpointNumber("-99999999999999999999"), -2147483647 - 1);
}

TEST(CommandLine, EndpointsOnlyWithExactlyTwoNumbers) {
    const char* five[] = {"torvek", "a", "b", "5", "6"};
    CommandLine line = parseCommandLine(5, five);
    EXPECT_TRUE(line.valid);
    EXPECT_EQ(line.progressEndpoint, 5);
    EXPECT_EQ(line.reportEndpoint, 6);
    const char* six[] = {"torvek", "a", "b", "5", "6", "7"};
    line = parseCommandLine(6, six);
    EXPECT_TRUE(line.valid);
    EXPECT_EQ(line.progressEndpoint, 0);
    EXPECT_EQ(line.reportEndpoint, 0);
    EXPECT_FALSE(parseCommandLine(2, five).valid);
}

TEST(FullPath, ResolvesRelativePathsAndDotComponents) {
    char out[platform::kMaxPath];
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_GT(platform::fullPath("a/./b/../c.dat", out, sizeof out), 0u);
    EXPECT_EQ(std::string(out), std::string(cwd) + "/a/c.dat");
    EXPECT_GT(platform::fullPath("/x//y/../z", out, sizeof out), 0u);
    EXPECT_STREQ(out, "/x/z");
    std::string tooLong = "/" + std::string(300, 'p');
    EXPECT_EQ(platform::fullPath(tooLong.c_str(), out, sizeof out), 0u);
    EXPECT_STREQ(out, "");
    std::string fits = "/" + std::string(258, 'p');  // 259 characters and the terminator
    EXPECT_EQ(platform::fullPath(fits.c_str(), out, sizeof out), 259u);
}

TEST(FileCopy, ReplacesTargetAndRefusesACopyOntoItself) {
    const testing::TempDirectory folder;
    const std::string& dir = folder.path();
    std::string a = dir + "/a", b = dir + "/b";
    testing::writeFileBytes(a, std::string("\0\1\2data", 7));
    testing::writeFileBytes(b, "old content that is longer");
    EXPECT_TRUE(platform::copyFile(a.c_str(), b.c_str()));
    EXPECT_EQ(testing::readFileBytes(b), std::string("\0\1\2data", 7));
    EXPECT_FALSE(platform::copyFile(a.c_str(), (dir + "/./a").c_str()));
    EXPECT_EQ(testing::readFileBytes(a), std::string("\0\1\2data", 7));
    EXPECT_FALSE(platform::copyFile((dir + "/missing").c_str(), b.c_str()));
    EXPECT_FALSE(platform::copyFile(a.c_str(), (dir + "/no/such/dir/x").c_str()));
    ASSERT_EQ(::link(a.c_str(), (dir + "/hard").c_str()), 0);
    EXPECT_TRUE(platform::sameExistingFile(a.c_str(), (dir + "/hard").c_str()));
    EXPECT_FALSE(platform::copyFile(a.c_str(), (dir + "/hard").c_str()));
}

TEST(MessageBox, ConsoleAnswersWithoutOwner) {
    struct Case {
        const char* input;
        int button;
    } cases[] = {{"\n", 1},   {"ok\n", 1},     {"O\n", 1}, {"Yes\n", 1}, {" y \n", 1},
                 {"no\n", 2}, {"cancel\n", 2}, {"", 2},    {"okay\n", 2}};
    for (const Case& c : cases) {
        std::string in = c.input;
        FILE* answers = fmemopen(in.empty() ? nullptr : in.data(), in.empty() ? 1 : in.size(), "r");
        if (in.empty())
            std::fgetc(answers);  // an input that is already at its end
        char* shown = nullptr;
        std::size_t shownSize = 0;
        FILE* prompt = open_memstream(&shown, &shownSize);
        EXPECT_EQ(
            platform::messageBox(0, "Text", "Caption", link::kWarningBoxStyle, answers, prompt),
            c.button)
            << c.input;
        std::fclose(prompt);
        EXPECT_NE(std::string(shown).find("Text"), std::string::npos);
        EXPECT_NE(std::string(shown).find("Caption"), std::string::npos);
        std::free(shown);
        std::fclose(answers);
    }
}

TEST(SendMessage, SendsToDeadOrForeignDescriptorsAnswerZero) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ::close(pair[1]);
    // Peer gone: no SIGPIPE, answer 0.
    EXPECT_EQ(platform::sendMessage(pair[0], link::Message::kAbortPoll, 5), 0);
    ::close(pair[0]);
    EXPECT_EQ(platform::sendMessage(pair[0], link::Message::kAbortPoll, 5), 0);  // closed
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    // Not a socket: nothing written.
    EXPECT_EQ(platform::sendMessage(pipeFds[1], link::Message::kAbortPoll, 5), 0);
    ::close(pipeFds[1]);
    char byte;
    EXPECT_EQ(::read(pipeFds[0], &byte, 1), 0);
    ::close(pipeFds[0]);
    EXPECT_EQ(platform::messageBox(-4, "t", "c", link::kWarningBoxStyle), link::kButtonCancel);
}

}  // namespace
}  // namespace torvek
