// The bytes of the report: style fragments, banner, plain pieces and the channel's class check,
// served in-process by a small socket peer.
#include "report/report_writer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <thread>
#include <vector>

#include "link/endpoint_io.h"
#include "report/rich_edit_channel.h"
#include "report/rtf_fragments.h"

namespace torvek {
namespace {

struct Piece {
    std::uint32_t dataWord = 0, byteCount = 0;
    std::string text;
};

// Far beyond the longest piece the writer sends.
constexpr std::uint32_t kMaximumPiece = 1u << 20;

// Plays the report endpoint on one end of a socket pair: answers the class query with `className`
// and every piece with `pieceAnswer`, recording the pieces.
class ReportPeer {
  public:
    explicit ReportPeer(std::string className, std::int32_t pieceAnswer = 1)
        : className_(std::move(className)), pieceAnswer_(pieceAnswer) {
        ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_);
        thread_ = std::thread([this] { serve(); });
    }
    ~ReportPeer() {
        ::shutdown(fds_[0], SHUT_RDWR);
        ::close(fds_[0]);
        thread_.join();
        ::close(fds_[1]);
    }
    int programEnd() const { return fds_[0]; }
    std::vector<Piece> pieces() {
        ::shutdown(fds_[0], SHUT_WR);
        thread_.join();
        thread_ = std::thread([] {});
        return pieces_;
    }

  private:
    void serve() {
        link::Frame frame;
        while (link::readFrame(fds_[1], kMaximumPiece, frame) == link::ReadResult::kFrame) {
            Piece piece;
            if (frame.head.message == link::Message::kClassQuery) {
                link::writeFully(
                    fds_[1], link::encodeClassAnswer(std::int32_t(className_.size()), className_));
            } else {
                link::ReportPiece decoded;
                link::decodeReportPiece(frame.payload, decoded);
                piece = {decoded.dataWord, decoded.byteCount, std::string(decoded.text)};
                link::writeAnswer(fds_[1], pieceAnswer_);
            }
            pieces_.push_back(piece);
        }
    }
    int fds_[2];
    std::string className_;
    std::int32_t pieceAnswer_;
    std::thread thread_;
    std::vector<Piece> pieces_;
};

const std::string kTemplateTail = "\\plain\\f2\\fs20\\cf0 }";

TEST(RtfFragments, HeaderAndStyleTemplateHaveTheirFixedLengths) {
    EXPECT_EQ(std::strlen(kRtfHeader), 528u);
    std::string plain = styleFragment(style::kBody);
    EXPECT_EQ(plain.substr(528), "\\pard\\plain\\f2\\fs18\\cf3  " + kTemplateTail);
    EXPECT_NE(std::string(kRtfHeader).find("\\red255\\green0\\blue255;"), std::string::npos);
}

TEST(RtfFragments, HeaderColourTableIsTheNamedColourTable) {
    // Front ends draw colours from report_colour::kRgb; the header is what the program sends.
    const std::string header = kRtfHeader;
    const std::size_t table = header.find("{\\colortbl");
    ASSERT_NE(table, std::string::npos);
    const std::string entries = header.substr(table, header.find('}', table) - table);
    const std::regex entry("\\\\red(\\d+)\\\\green(\\d+)\\\\blue(\\d+);");
    std::vector<std::uint32_t> colours;
    for (std::sregex_iterator m(entries.begin(), entries.end(), entry), end; m != end; ++m)
        colours.push_back(std::stoul((*m)[1]) << 16 | std::stoul((*m)[2]) << 8 |
                          std::stoul((*m)[3]));
    ASSERT_EQ(colours.size(), std::size_t(report_colour::kCount));
    for (int k = 0; k < report_colour::kCount; ++k)
        EXPECT_EQ(colours[k], report_colour::kRgb[k]) << "colour " << k;
    // The names say what the report's looks are drawn in.
    EXPECT_EQ(colours[report_colour::kBlack], 0x000000u);
    EXPECT_EQ(colours[report_colour::kDarkRed], 0x800000u);
    EXPECT_EQ(colours[report_colour::kDarkBlue], 0x000080u);
    EXPECT_EQ(colours[report_colour::kGreen], 0x008000u);
    EXPECT_EQ(colours[report_colour::kRed], 0xff0000u);
}

TEST(RtfFragments, StyleFragmentsAreByteExactForEveryStyleInUse) {
    struct Case {
        ReportStyle look;
        const char* tail;
    } cases[] = {
        {style::kBody, "\\pard\\plain\\f2\\fs18\\cf3  "},
        {style::kHeading, "\\pard\\plain\\f2\\fs18\\cf3\\b  "},
        {style::kIndented, "\\pard\\plain\\f2\\fs18\\cf3 \\tab  "},
        {style::kDoublyIndented, "\\pard\\plain\\f2\\fs18\\cf3 \\tab \\tab  "},
        {style::kSubheading, "\\pard\\plain\\f2\\fs18\\cf3\\i \\tab  "},
        {style::kError, "\\pard\\plain\\f2\\fs18\\cf1  "},
        {style::kErrorHeading, "\\pard\\plain\\f2\\fs18\\cf1\\b  "},
        {style::kPassed, "\\pard\\plain\\f2\\fs18\\cf5 \\tab  "},
        {style::kFailed, "\\pard\\plain\\f2\\fs18\\cf8 \\tab  "},
        {style::kAbortNotice, "\\pard\\plain\\f2\\fs20\\cf1  "},
        {style::kClosed, "\\pard\\plain\\f2\\fs18\\cf0  "},
        // Looks no report uses: two-digit colours, underline, an unknown attribute.
        {{9, report_colour::kCyan, report_attribute::kUnderline, 0},
         "\\pard\\plain\\f2\\fs18\\cf15\\ul  "},
        {{12, report_colour::kYellow, 7, 0}, "\\pard\\plain\\f2\\fs24\\cf10  "},
    };
    for (const Case& c : cases) {
        std::string fragment = styleFragment(c.look);
        EXPECT_EQ(fragment.substr(0, 528), kRtfHeader);
        EXPECT_EQ(fragment.substr(528), std::string(c.tail) + kTemplateTail)
            << c.look.size << "," << c.look.colour << "," << c.look.attribute << "," << c.look.tabs;
    }
    // The 580-character template with "18", "3" and two empty texts in its four fields.
    EXPECT_EQ(styleFragment(style::kBody).size(), 580u - 10u + 3u);
}

TEST(RtfFragments, BannerIsCentredTitleSubtitleAndEmptyLine) {
    std::string banner = bannerFragment();
    EXPECT_EQ(banner.substr(0, 528), kRtfHeader);
    std::string body = banner.substr(528);
    const std::string opening =
        "\\pard\\qc\\plain\\f2\\fs20\\cf3\\b\\ul TORVEK - Brenlow Network Adjustment Package\\par "
        "\\plain\\f2\\fs16\\cf3 ";
    const std::string closing = " \\par \\pard\\plain\\f2\\fs18\\cf3  \\plain\\f2\\fs16 \\par }";
    EXPECT_EQ(body.rfind(opening, 0), 0u);
    ASSERT_GE(body.size(), opening.size() + closing.size());
    EXPECT_EQ(body.substr(body.size() - closing.size()), closing);
}

TEST(BannerDate, HasTwentyFourCharactersWithZeroPaddedDay) {
    char text[32];
    // 2026-03-01 04:05:06 UTC; the local zone may shift it, so check the shape and the padding.
    setenv("TZ", "UTC", 1);
    tzset();
    formatBannerDate(1772337906, text);
    EXPECT_STREQ(text, "Sun Mar 01 04:05:06 2026\n");
    EXPECT_EQ(std::strlen(text), 25u);
}

TEST(ReportWriter, PrintAppendsABlankAndSendsPlainPieces) {
    ReportPeer peer("RICHEDIT");
    RichEditChannel channel(peer.programEnd());
    ASSERT_EQ(channel.endpoint(), peer.programEnd());
    ReportWriter writer(channel);
    EXPECT_TRUE(writer.print("Number of sites: %d\n", 12));
    EXPECT_TRUE(writer.print("%s", ""));
    EXPECT_FALSE(writer.print(nullptr));
    EXPECT_GT(writer.setStyle(style::kSubheading), 0);
    std::string longText(5000, 'x');
    EXPECT_TRUE(writer.print("%s", longText.c_str()));
    std::vector<Piece> pieces = peer.pieces();
    ASSERT_EQ(pieces.size(), 5u);  // the class query, three texts and one fragment
    EXPECT_EQ(pieces[1].text, "Number of sites: 12\n ");
    EXPECT_EQ(pieces[1].dataWord, 2u);
    EXPECT_EQ(pieces[1].byteCount, pieces[1].text.size() + 1);
    EXPECT_EQ(pieces[2].text, " ");
    EXPECT_EQ(pieces[2].byteCount, 2u);
    EXPECT_EQ(pieces[3].dataWord, 3u);
    EXPECT_EQ(pieces[3].text.substr(528),
              "\\pard\\plain\\f2\\fs18\\cf3\\i \\tab  " + kTemplateTail);
    EXPECT_EQ(pieces[4].text.size(), 4095u);  // 4094 characters and the blank
}

TEST(ReportWriter, BannerIsOnePieceBetweenTheFixedPlainPieces) {
    ReportPeer peer("RICHEDIT");
    RichEditChannel channel(peer.programEnd());
    ReportWriter writer(channel);
    writer.printBanner(1772337906);
    writer.printTrailer();
    std::vector<Piece> pieces = peer.pieces();
    ASSERT_EQ(pieces.size(), 1u + 5u + 3u);
    EXPECT_EQ(pieces[1].text, "\n ");
    EXPECT_EQ(pieces[2].dataWord, 3u);
    EXPECT_EQ(pieces[2].text, bannerFragment());
    EXPECT_EQ(pieces[3].text, styleFragment(style::kBody));
    EXPECT_EQ(pieces[4].text, "\n ");
    EXPECT_EQ(pieces[5].text.size(), 26u);  // 24 characters, the line end and the blank
    EXPECT_EQ(pieces[6].text, styleFragment(style::kBody));
    EXPECT_EQ(pieces[7].text, "\n ");
    EXPECT_EQ(pieces[8].text, styleFragment(style::kClosed));
}

TEST(RichEditChannel, OnlyTheExactClassNameOpensTheChannel) {
    for (const char* name : {"richedit", "RICHEDIT20W", "RichEdit", ""}) {
        ReportPeer peer(name);
        RichEditChannel channel(peer.programEnd());
        EXPECT_EQ(channel.endpoint(), 0) << name;
        EXPECT_EQ(channel.sendText("x", false, true), 0);
        EXPECT_EQ(peer.pieces().size(), 1u);  // the query only
    }
    RichEditChannel none(0);
    EXPECT_EQ(none.sendText("", false, true), 0);
}

TEST(RichEditChannel, RefusedPieceAnswersZeroAndEmptyTextHasByteCountOne) {
    ReportPeer refusing("RICHEDIT", 0);
    RichEditChannel channel(refusing.programEnd());
    EXPECT_EQ(channel.sendText("abc", false, true), 0);
    EXPECT_EQ(channel.sendText("", true, false), 0);
    std::vector<Piece> pieces = refusing.pieces();
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[2].byteCount, 1u);
    EXPECT_EQ(pieces[2].dataWord, 1u);
}

}  // namespace
}  // namespace torvek
