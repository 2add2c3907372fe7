#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "pty_peer.h"

namespace zbtest {

PortMapDir::PortMapDir() {
    EXPECT_FALSE(scratch_.path().empty());
    path_ = scratch_.path();
    ::setenv("ZBCONFIG_PORTS", path_.c_str(), 1);
    std::error_code ec;
    std::filesystem::create_directory(lock_dir(), ec);
    ::setenv("ZBCONFIG_LOCK_DIR", lock_dir().c_str(), 1);
}

PortMapDir::~PortMapDir() {
    ::unsetenv("ZBCONFIG_PORTS");
    ::unsetenv("ZBCONFIG_LOCK_DIR");
    std::error_code ec;
    std::filesystem::remove_all(lock_dir(), ec);
}

void PortMapDir::link(int com, const std::string& target) const {
    std::error_code ec;
    std::filesystem::create_symlink(target, path_ + "/com" + std::to_string(com), ec);
    EXPECT_FALSE(ec) << ec.message();
}

struct PtyPeer::Side {
    int master = -1;
    int slave = -1;
};

PtyPeer::PtyPeer(const PortMapDir& map, int com) : side_(std::make_unique<Side>()) {
    side_->master = ::posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(side_->master, 0);
    EXPECT_EQ(::grantpt(side_->master), 0);
    EXPECT_EQ(::unlockpt(side_->master), 0);
    char name[128] = {};
    EXPECT_EQ(::ptsname_r(side_->master, name, sizeof name), 0);
    const int slave = ::open(name, O_RDWR | O_NOCTTY);
    EXPECT_GE(slave, 0);
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    // Keeps the slave alive between the client's opens, or master reads fail with EIO.
    side_->slave = slave;
    ::fcntl(side_->master, F_SETFL, ::fcntl(side_->master, F_GETFL) | O_NONBLOCK);
    path_ = name;
    map.link(com, path_);
}

PtyPeer::~PtyPeer() {
    if (side_->master >= 0) ::close(side_->master);
    if (side_->slave >= 0) ::close(side_->slave);
}

void PtyPeer::send(const std::string& bytes) const {
    ASSERT_EQ(::write(side_->master, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
}

std::string PtyPeer::receive(std::size_t expected, int deadline_ms) const {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadline_ms);
    while (got.size() < expected && std::chrono::steady_clock::now() < end) {
        pollfd p{side_->master, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        char buf[512];
        const ssize_t n = ::read(side_->master, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

void PtyPeer::wait_queued(int count) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int queued = 0;
    while (::ioctl(side_->slave, FIONREAD, &queued) == 0 && queued < count &&
           std::chrono::steady_clock::now() < end)
        ::poll(nullptr, 0, 1);
    ASSERT_GE(queued, count);
}

void PtyPeer::set_exclusive(bool on) const {
    ASSERT_EQ(::ioctl(side_->slave, on ? TIOCEXCL : TIOCNXCL), 0);
}

bool PtyPeer::exclusive() const {
    int on = 0;
    EXPECT_EQ(::ioctl(side_->slave, TIOCGEXCL, &on), 0);
    return on != 0;
}

void PtyPeer::close_master() {
    ::close(side_->master);
    side_->master = -1;
}

}  // namespace zbtest
