#include "protocol/command_frame.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "pty_peer.h"

namespace {

using namespace zb;
using zbtest::PortMapDir;
using zbtest::PtyPeer;

const ComHandle any_link = ComHandle::from_native(1);

std::string frame_of(std::uint8_t cls, std::int32_t cmd, std::int32_t addr, const char* data) {
    std::uint8_t frame[FRAME_BUF_SIZE] = {};
    std::int32_t len = -5;
    const auto data_len = static_cast<std::int32_t>(data != nullptr ? std::strlen(data) : 0);
    if (cmd_build_frame(any_link, cls, cmd, addr, data, data_len, frame, sizeof frame, &len) != 0)
        return "refused";
    return std::string(reinterpret_cast<const char*>(frame), static_cast<std::size_t>(len));
}

struct FrameCase {
    std::uint8_t cls;
    std::int32_t cmd;
    std::int32_t addr;
    const char* data;
    const char* bytes;
};

class WorkedFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(WorkedFrames, AreBuiltByteForByte) {
    const FrameCase& c = GetParam();
    EXPECT_EQ(frame_of(c.cls, c.cmd, c.addr, c.data), std::string(c.bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, WorkedFrames,
    ::testing::Values(FrameCase{CLS_GET, CMD_SB, 0, nullptr, "\x10\x01\x01?GSB00001\n"},
                      FrameCase{CLS_SET, CMD_SB, 0, "12", "\x10\x01\x01?SSB00001;12\n"},
                      FrameCase{CLS_GET, CMD_ZC, 0, nullptr, "\x10\x01\x01?GZC0000\n"},
                      FrameCase{CLS_SET, CMD_ZC, 0, "15", "\x10\x01\x01?SZC000015\n"},
                      FrameCase{CLS_CONTROL, CMD_SR, 0x1A2B, "1", "\x10\x01\x01?CSR1A2B1\n"},
                      FrameCase{CLS_GET, CMD_SS, 0x00AB, nullptr, "\x10\x01\x01?GSS00AB1\n"},
                      FrameCase{CLS_VERIFY, CMD_SM, 0, nullptr, "\x10\x01\x01?VSM00001\n"},
                      FrameCase{CLS_SET, CMD_SD, 0, "", "\x10\x01\x01?SSD00001;\n"},
                      FrameCase{CLS_VERIFY, CMD_XT, 0xFFFF, "0", "\x10\x01\x01?VXTFFFF0\n"},
                      FrameCase{CLS_REVISION, CMD_AV, 0, "0", "\x10\x01\x01?R@V00000\n"},
                      // Refusals: unknown command, a class the command does not allow, several
                      // class bits, an address out of range.
                      FrameCase{CLS_GET, 37, 0, nullptr, "refused"},
                      FrameCase{CLS_GET | CLS_SET, CMD_SB, 0, nullptr, "refused"},
                      FrameCase{CLS_GET, CMD_ZA, 0, nullptr, "refused"},
                      FrameCase{0x20, CMD_ZA, 0, nullptr, "refused"},
                      FrameCase{CLS_GET, CMD_SB, 0x10000, nullptr, "refused"},
                      FrameCase{CLS_GET, CMD_SB, -1, nullptr, "refused"}));

TEST(FrameBuilder, RefusesNullLinkAndDataThatDoesNotFit) {
    std::uint8_t frame[FRAME_BUF_SIZE];
    std::int32_t len = -5;
    EXPECT_EQ(
        cmd_build_frame(ComHandle(), CLS_GET, CMD_SB, 0, nullptr, 0, frame, sizeof frame, &len),
        ST_BAD_ARG);
    const std::string longest(114, 'x');
    EXPECT_EQ(cmd_build_frame(any_link, CLS_SET, CMD_SB, 0, longest.data(), 114, frame,
                              sizeof frame, &len),
              ST_OK);
    EXPECT_EQ(len, 128);
    EXPECT_EQ(cmd_build_frame(any_link, CLS_SET, CMD_SB, 0, longest.data(), 115, frame,
                              sizeof frame, &len),
              ST_BAD_ARG);
    EXPECT_EQ(len, 128);
    const std::string plain(117, 'x');
    EXPECT_EQ(
        cmd_build_frame(any_link, CLS_SET, CMD_BN, 0, plain.data(), 117, frame, sizeof frame, &len),
        ST_BAD_ARG);
}

TEST(CheckReply, LoaderAnswerOnlyWhenTheOwnCodeIsMissing) {
    EXPECT_EQ(cmd_check_reply(CMD_XT, nullptr), ST_BAD_ARG);
    EXPECT_EQ(cmd_check_reply(CMD_XT, "!VXT00000OK"), ST_OK);
    EXPECT_EQ(cmd_check_reply(CMD_XT, "!VDS00000"), ST_LOADER);
    EXPECT_EQ(cmd_check_reply(CMD_SR, "!CDS0000"), ST_LOADER);
    EXPECT_EQ(cmd_check_reply(CMD_XF, "!CXF0DS00"), ST_OK);
    EXPECT_EQ(cmd_check_reply(CMD_DS, "!VDS00000000000000101"), ST_OK);
    // "DS" in the payload does not count.
    EXPECT_EQ(cmd_check_reply(CMD_XT, "!VXT00000DS"), ST_OK);
    EXPECT_EQ(cmd_check_reply(CMD_XT, "!"), ST_OK);
}

// Replies scripted byte by byte on a pseudo-terminal.
class ReplyTest : public zbtest::PtyLinkTest {
protected:
    ReplyTest() : PtyLinkTest(7) {}

    std::int32_t read_reply(const std::string& line, std::string* text) {
        peer.send(line);
        char out[REPLY_BUF_SIZE];
        std::memset(out, 0x55, sizeof out);
        const std::int32_t r = cmd_read_reply(link, out, sizeof out);
        if (r > 0) {
            EXPECT_EQ(out[r - 1], '\0');
            *text = std::string(out, static_cast<std::size_t>(r - 1));
        }
        return r;
    }
};

TEST_F(ReplyTest, DeliversTheLineFromTheMarker) {
    std::string text;
    EXPECT_EQ(read_reply("!GSB0000012\n", &text), 12);
    EXPECT_EQ(text, "!GSB0000012");
    EXPECT_EQ(read_reply("xx!GSB0000012\n", &text), 12);
    EXPECT_EQ(text, "!GSB0000012");
    // A 'C' after the first byte is an ordinary character.
    EXPECT_EQ(read_reply(" C!GZC000011\n", &text), 11);
    EXPECT_EQ(text, "!GZC000011");
}

TEST_F(ReplyTest, LoaderCAtTheStartEndsAtOnce) {
    std::string text;
    EXPECT_EQ(read_reply("C", &text), ST_LOADER);
}

TEST_F(ReplyTest, FortyNineCharactersAreTheLimit) {
    std::string text;
    const std::string ok = "!GBN00000" + std::string(39, 'n') + "\n";
    ASSERT_EQ(ok.size(), 49u);
    EXPECT_EQ(read_reply(ok, &text), 49);
    EXPECT_EQ(text, ok.substr(0, 48));

    const std::string too_long = "!GBN00000" + std::string(41, 'n') + "\n";
    EXPECT_EQ(read_reply(too_long, &text), ST_BAD_REPLY);
    // The fiftieth byte ended the read; the newline is still queued.
    std::uint8_t rest = 0;
    EXPECT_EQ(com_read_short(link, &rest, 1), 1);
    EXPECT_EQ(rest, '\n');
}

TEST_F(ReplyTest, LineWithoutMarkerIsUnusable) {
    std::string text;
    EXPECT_EQ(read_reply("GSB0000012\n", &text), ST_BAD_REPLY);
}

TEST_F(ReplyTest, RefusedRequestsWriteNothing) {
    char reply[REPLY_BUF_SIZE];
    std::int32_t len = -5;
    EXPECT_EQ(cmd_transact(link, CLS_GET, 37, 0, nullptr, 0, reply, sizeof reply, &len),
              ST_BAD_ARG);
    EXPECT_EQ(
        cmd_transact(link, CLS_GET | CLS_SET, CMD_SB, 0, nullptr, 0, reply, sizeof reply, &len),
        ST_BAD_ARG);
    EXPECT_EQ(cmd_transact(link, CLS_GET, CMD_ZA, 0, nullptr, 0, reply, sizeof reply, &len),
              ST_BAD_ARG);
    EXPECT_EQ(cmd_transact(link, CLS_GET, CMD_SB, 70000, nullptr, 0, reply, sizeof reply, &len),
              ST_BAD_ARG);
    EXPECT_EQ(len, -5);
    EXPECT_EQ(peer.receive(1, 200), "");
}

TEST_F(ReplyTest, TransactionSendsTheFrameAndDeliversTheReply) {
    peer.send("junk!GSB0000012\n");
    char reply[REPLY_BUF_SIZE];
    std::int32_t len = 0;
    ASSERT_EQ(cmd_transact(link, CLS_GET, CMD_SB, 0, nullptr, 0, reply, sizeof reply, &len), ST_OK);
    EXPECT_EQ(len, 12);
    EXPECT_STREQ(reply, "!GSB0000012");
    EXPECT_EQ(peer.receive(13), "\x10\x01\x01?GSB00001\n");
}

TEST_F(ReplyTest, SilenceMidLineIsNoReply) {
    peer.send("!GSB00");
    char reply[REPLY_BUF_SIZE];
    std::int32_t len = -5;
    EXPECT_EQ(cmd_transact(link, CLS_GET, CMD_SB, 0, nullptr, 0, reply, sizeof reply, &len),
              ST_NO_REPLY);
    EXPECT_EQ(len, -5);
}

}  // namespace
