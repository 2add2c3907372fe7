#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>

#include "pty_peer.h"
#include "sim/pty.h"
#include "wait_until.h"

namespace zbtest {

struct PtyPeer::Side {
    zbsim::Pty pty;  // the slave stays open, or master reads fail with EIO between opens
};

PtyPeer::PtyPeer(const PortMap& map, int com) : side_(std::make_unique<Side>()) {
    std::string error;
    EXPECT_TRUE(zbsim::open_pty(&side_->pty, &error)) << error;
    path_ = side_->pty.path;
    map.link(com, path_);
}

PtyPeer::~PtyPeer() {
    zbsim::close_pty(&side_->pty);
}

void PtyPeer::send(const std::string& bytes) const {
    ASSERT_EQ(::write(side_->pty.master, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
}

std::string PtyPeer::receive(std::size_t expected, int deadline_ms) const {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadline_ms);
    while (got.size() < expected && std::chrono::steady_clock::now() < end) {
        pollfd p{side_->pty.master, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        char buf[512];
        const ssize_t n = ::read(side_->pty.master, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

void PtyPeer::wait_queued(int count) const {
    int queued = 0;
    zbtest::WaitUntil(
        [&] { return ::ioctl(side_->pty.slave, FIONREAD, &queued) != 0 || queued >= count; },
        std::chrono::seconds(5));
    ASSERT_GE(queued, count);
}

void PtyPeer::set_exclusive(bool on) const {
    ASSERT_EQ(::ioctl(side_->pty.slave, on ? TIOCEXCL : TIOCNXCL), 0);
}

bool PtyPeer::exclusive() const {
    int on = 0;
    EXPECT_EQ(::ioctl(side_->pty.slave, TIOCGEXCL, &on), 0);
    return on != 0;
}

void PtyPeer::close_master() {
    ::close(side_->pty.master);
    side_->pty.master = -1;
}

}  // namespace zbtest
