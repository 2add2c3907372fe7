// A scripted peer on a pseudo-terminal: the test owns the master side and the code under
// test opens the slave as COM n through a private port-map directory.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/serial_link.h"
#include "scratch_dir.h"

namespace zbtest {

// A temporary port-map directory that ZBCONFIG_PORTS points at while the object lives, and
// beside it a lock folder for ZBCONFIG_LOCK_DIR, so that tests leave /var/lock alone.
class PortMapDir {
public:
    PortMapDir() {
        EXPECT_FALSE(scratch_.path().empty());
        path_ = scratch_.path();
        ::setenv("ZBCONFIG_PORTS", path_.c_str(), 1);
        std::error_code ec;
        std::filesystem::create_directory(lock_dir(), ec);
        ::setenv("ZBCONFIG_LOCK_DIR", lock_dir().c_str(), 1);
    }
    ~PortMapDir() {
        ::unsetenv("ZBCONFIG_PORTS");
        ::unsetenv("ZBCONFIG_LOCK_DIR");
        std::error_code ec;
        std::filesystem::remove_all(lock_dir(), ec);
    }
    const std::string& path() const { return path_; }
    std::string lock_dir() const { return path_ + "-locks"; }
    void link(int com, const std::string& target) const {
        std::error_code ec;
        std::filesystem::create_symlink(target, path_ + "/com" + std::to_string(com), ec);
        EXPECT_FALSE(ec) << ec.message();
    }

private:
    ScratchDir scratch_{"zbports"};
    std::string path_;
};

class PtyPeer {
public:
    explicit PtyPeer(const PortMapDir& map, int com) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master_, 0);
        EXPECT_EQ(::grantpt(master_), 0);
        EXPECT_EQ(::unlockpt(master_), 0);
        char name[128] = {};
        EXPECT_EQ(::ptsname_r(master_, name, sizeof name), 0);
        const int slave = ::open(name, O_RDWR | O_NOCTTY);
        EXPECT_GE(slave, 0);
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        // Keeps the slave alive between the client's opens, or master reads fail with EIO.
        slave_ = slave;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        path_ = name;
        map.link(com, path_);
    }
    ~PtyPeer() {
        if (master_ >= 0) ::close(master_);
        if (slave_ >= 0) ::close(slave_);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& path() const { return path_; }

    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything the client wrote until `expected` bytes arrived or the deadline passed.
    std::string receive(std::size_t expected, int deadline_ms = 20000) const {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadline_ms);
        while (got.size() < expected && std::chrono::steady_clock::now() < end) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }
    // Waits until the client's side has `count` bytes queued, so that one read can take them.
    void wait_queued(int count) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int queued = 0;
        while (::ioctl(slave_, FIONREAD, &queued) == 0 && queued < count &&
               std::chrono::steady_clock::now() < end)
            ::poll(nullptr, 0, 1);
        ASSERT_GE(queued, count);
    }
    // Exclusive mode on the terminal, as another program that opened it would set it.
    void set_exclusive(bool on) const { ASSERT_EQ(::ioctl(slave_, on ? TIOCEXCL : TIOCNXCL), 0); }
    bool exclusive() const {
        int on = 0;
        EXPECT_EQ(::ioctl(slave_, TIOCGEXCL, &on), 0);
        return on != 0;
    }
    void close_master() {
        ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// The real bounded waits while the object lives; protocol tests otherwise run with less.
class RealWaits {
public:
    RealWaits() : saved_(zb::com_wait_scale()) { zb::com_set_wait_scale(1.0); }
    ~RealWaits() { zb::com_set_wait_scale(saved_); }
    RealWaits(const RealWaits&) = delete;
    RealWaits& operator=(const RealWaits&) = delete;

private:
    double saved_;
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

    PortMapDir map;
    PtyPeer peer;
    zb::ComHandle link;

private:
    int com_;
};

}  // namespace zbtest
