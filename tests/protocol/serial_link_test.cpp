#include "serial_link.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "line_settings.h"
#include "pty_peer.h"

namespace {

using namespace zb;
using zbtest::PortMapDir;
using zbtest::PtyPeer;
using Clock = std::chrono::steady_clock;

termios base_termios() {
    termios t{};
    t.c_iflag = ICRNL | IXON | IXANY;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS;
    t.c_lflag = ICANON | ECHO;
    return t;
}

TEST(LineSettings, FlowControlChoices) {
    const termios none = *make_termios(base_termios(), 115200, 0, 8, 0, FLOW_NONE);
    EXPECT_FALSE(none.c_cflag & CRTSCTS);
    EXPECT_FALSE(none.c_iflag & (IXON | IXOFF));

    const termios rtscts = *make_termios(base_termios(), 115200, 0, 8, 0, FLOW_RTSCTS);
    EXPECT_TRUE(rtscts.c_cflag & CRTSCTS);
    EXPECT_FALSE(rtscts.c_iflag & (IXON | IXOFF));

    const termios xon = *make_termios(base_termios(), 115200, 0, 8, 0, FLOW_XONXOFF);
    EXPECT_FALSE(xon.c_cflag & CRTSCTS);
    EXPECT_EQ(xon.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));

    const termios other = *make_termios(base_termios(), 115200, 0, 8, 0, 3);
    EXPECT_FALSE(other.c_cflag & CRTSCTS);
    EXPECT_FALSE(other.c_iflag & (IXON | IXOFF));
}

TEST(LineSettings, RawLineWithParityDataAndStopBits) {
    const termios t = *make_termios(base_termios(), 115200, 0, 8, 0, 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB));
    EXPECT_TRUE(t.c_cflag & (CLOCAL | CREAD));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_iflag & ICRNL);

    EXPECT_TRUE(make_termios(base_termios(), 9600, 0, 8, 5, 0)->c_cflag & CSTOPB);
    const tcflag_t parity_bits = PARENB | PARODD | CMSPAR;
    const tcflag_t expected[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                 PARENB | CMSPAR};
    for (std::uint32_t p = 0; p <= 4; ++p) {
        // Only the low byte of the parity code counts.
        const termios pt = *make_termios(base_termios(), 9600, p | 0x100, 7, 0, 0);
        EXPECT_EQ(pt.c_cflag & parity_bits, expected[p]) << p;
        EXPECT_EQ((pt.c_iflag & INPCK) != 0, p != 0) << p;
        EXPECT_EQ(pt.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    }

    EXPECT_FALSE(make_termios(base_termios(), 12345, 0, 8, 0, 0));
    EXPECT_FALSE(make_termios(base_termios(), 9600, 5, 8, 0, 0));
    EXPECT_FALSE(make_termios(base_termios(), 9600, 0, 9, 0, 0));
}

TEST(PortMap, LooksUpEveryOpenAndFallsBack) {
    PortMapDir map;
    EXPECT_EQ(com_device_path(15), "/dev/ttyS14");
    map.link(15, "/dev/null");
    map.link(3, "../relative");
    EXPECT_EQ(com_device_path(15), "/dev/null");
    EXPECT_EQ(com_device_path(3), map.path() + "/../relative");
    const auto ports = com_mapped_ports();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].first, 3);
    EXPECT_EQ(ports[1].first, 15);
}

class LinkTest : public zbtest::PtyLinkTest {
protected:
    LinkTest() : PtyLinkTest(12) {}
    void SetUp() override {
        PtyLinkTest::SetUp();
        ASSERT_EQ(com_set_timeouts(link, 0, 0, 0, 0, 0), ST_OK);
        ASSERT_EQ(com_purge(link, PURGE_INPUT), ST_OK);
    }
};

TEST_F(LinkTest, OpenIsExclusiveAndLeavesTheHandleUntouched) {
    ComHandle second = ComHandle::from_native(4242);
    EXPECT_EQ(com_open(12, &second), ST_NO_PORT);
    EXPECT_EQ(second.native(), 4242);
    ComHandle absent;
    EXPECT_EQ(com_open(99, &absent), ST_NO_PORT);
    EXPECT_TRUE(absent.is_null());

    // After closing, the port can be opened again.
    ASSERT_EQ(com_close(link), ST_OK);
    link = ComHandle();
    ASSERT_EQ(com_open(12, &link), ST_OK);
}

TEST_F(LinkTest, SetupAcceptsEveryFlowChoiceOnAPseudoTerminal) {
    for (std::uint32_t flow : {0u, 1u, 2u, 3u})
        EXPECT_EQ(com_setup(link, 115200, 0, 8, 0, flow), ST_OK) << flow;
    EXPECT_EQ(com_setup(link, 9600, 0, 8, 1, 0), ST_OK);
    EXPECT_EQ(com_setup(link, 12345, 0, 8, 0, 0), ST_IO);
    // A pseudo-terminal always keeps 8 data bits and no parity: a line it silently changes
    // is refused, not reported as set.
    EXPECT_EQ(com_setup(link, 9600, 2, 7, 0, 0), ST_IO);
}

TEST_F(LinkTest, NullHandleCodes) {
    std::uint8_t b = 0;
    const ComHandle null;
    EXPECT_EQ(com_setup(null, 115200, 0, 8, 0, 0), ST_BAD_ARG);
    EXPECT_EQ(com_read_long(null, &b, 1), ST_BAD_ARG);
    EXPECT_EQ(com_read_short(null, &b, 1), ST_BAD_ARG);
    EXPECT_EQ(com_write(null, &b, 1), ST_BAD_ARG);
    EXPECT_EQ(com_set_timeouts(null, 0, 0, 0, 0, 0), ST_IO);
    EXPECT_EQ(com_purge(null, PURGE_INPUT), ST_IO);
    EXPECT_EQ(com_close(null), ST_IO);
}

TEST_F(LinkTest, WritesEveryByteAndReadsWhatArrives) {
    std::string big(3000, 'x');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    std::string received;
    std::thread reader([&] { received = peer.receive(big.size(), 10000); });
    EXPECT_EQ(com_write(link, reinterpret_cast<const std::uint8_t*>(big.data()),
                        static_cast<std::uint32_t>(big.size())),
              static_cast<std::int32_t>(big.size()));
    reader.join();
    EXPECT_EQ(received, big);

    peer.send("AB");
    std::uint8_t buf[2] = {};
    EXPECT_EQ(com_read_short(link, buf, 2), 2);
    EXPECT_EQ(buf[0], 'A');
    EXPECT_EQ(buf[1], 'B');
}

TEST_F(LinkTest, PurgeDropsQueuedInput) {
    peer.send("stale");
    peer.receive(0, 50);  // let the bytes reach the slave's queue
    EXPECT_EQ(com_purge(link, PURGE_INPUT), ST_OK);
    peer.send("Z");
    std::uint8_t b = 0;
    EXPECT_EQ(com_read_short(link, &b, 1), 1);
    EXPECT_EQ(b, 'Z');
}

TEST_F(LinkTest, ShortReadTimesOutAfterTwoSecondsAndLosesNothing) {
    std::uint8_t b = 0;
    const auto start = Clock::now();
    EXPECT_EQ(com_read_short(link, &b, 1), ST_TIMEOUT);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_GE(waited.count(), 1990);
    EXPECT_LT(waited.count(), 2600);

    peer.send("L");
    EXPECT_EQ(com_read_short(link, &b, 1), 1);
    EXPECT_EQ(b, 'L');
}

TEST_F(LinkTest, LongReadFailsAfterFiveSeconds) {
    std::uint8_t b = 0;
    const auto start = Clock::now();
    EXPECT_EQ(com_read_long(link, &b, 1), ST_IO);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_GE(waited.count(), 4990);
    EXPECT_LT(waited.count(), 5800);
    peer.send("M");
    EXPECT_EQ(com_read_long(link, &b, 1), 1);
    EXPECT_EQ(b, 'M');
}

TEST_F(LinkTest, HangUpIsAnIoFailureNotATimeout) {
    peer.close_master();
    std::uint8_t b = 0;
    const auto start = Clock::now();
    EXPECT_EQ(com_read_short(link, &b, 1), ST_IO);
    EXPECT_EQ(com_read_long(link, &b, 1), ST_IO);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1900));
}

}  // namespace
