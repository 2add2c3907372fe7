// A scripted peer on a pseudo-terminal: the test owns the master side and the code under
// test opens the slave as COM n. On Linux the terminal is this process's own, reached through
// a private port map; the Windows test programs ask the modem host outside Wine for
// it (pty_peer_posix.cpp, pty_peer_remote.cpp).
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "port_map.h"
#include "protocol/serial_link.h"

namespace zbtest {

class PtyPeer {
public:
    PtyPeer(const PortMap& map, int com);
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    // The terminal the link opens (on Linux its /dev/pts path).
    const std::string& path() const { return path_; }

    void send(const std::string& bytes) const;
    // Everything the client wrote until `expected` bytes arrived or the deadline passed.
    std::string receive(std::size_t expected, int deadline_ms = 20000) const;
    // Waits until the client's side has `count` bytes queued, so that one read can take them.
    void wait_queued(int count) const;
    // Exclusive mode on the terminal, as another program that opened it would set it (Linux).
    void set_exclusive(bool on) const;
    bool exclusive() const;
    void close_master();

private:
    struct Side;  // the master side, or the host's session that holds it
    std::unique_ptr<Side> side_;
    std::string path_;
};

// The bounded waits scaled by `scale` while the object lives.
class WaitScale {
public:
    explicit WaitScale(double scale) : saved_(zb::com_wait_scale()) {
        zb::com_set_wait_scale(scale);
    }
    ~WaitScale() { zb::com_set_wait_scale(saved_); }
    WaitScale(const WaitScale&) = delete;
    WaitScale& operator=(const WaitScale&) = delete;

private:
    double saved_;
};

// The real bounded waits while the object lives; protocol tests otherwise run with less.
class RealWaits : public WaitScale {
public:
    RealWaits() : WaitScale(1.0) {}
};

// A link to a scripted peer, opened and set up as every client opens a modem's port.
class PtyLinkTest : public ::testing::Test {
protected:
    explicit PtyLinkTest(int com) : peer(map, com), com_(com) {}

    void SetUp() override {
        ASSERT_EQ(zb::com_open(com_, &link), zb::ST_OK);
        ASSERT_EQ(zb::com_setup(link, 115200, 0, 8, 0, zb::FLOW_NONE), zb::ST_OK);
    }
    void TearDown() override {
        if (link) {
            EXPECT_EQ(zb::com_close(link), zb::ST_OK);
        }
    }

    PortMap map;
    PtyPeer peer;
    zb::ComHandle link;

private:
    int com_;
};

}  // namespace zbtest
