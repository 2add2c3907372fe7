#include "protocol/command_frame.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "pty_peer.h"

namespace {

using namespace zb;
using zbtest::PortMap;
using zbtest::PtyPeer;

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
