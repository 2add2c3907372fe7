#include "pty_link.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zbfuzz {
namespace {

[[noreturn]] void Die(const char* what) {
    std::perror(what);
    std::abort();
}

}  // namespace

PtyLink& PtyLink::Get() {
    static PtyLink pty;
    return pty;
}

PtyLink::PtyLink() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) Die("posix_openpt");
    const char* slave = ::ptsname(master_);
    if (slave == nullptr) Die("ptsname");

    // A private port map holding only com1, removed again once the port is open: the map
    // is read at open time only.
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zbfuzz.XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr) Die("mkdtemp");
    const std::string entry = dir + "/com1";
    if (::symlink(slave, entry.c_str()) != 0) Die("symlink");
    if (::setenv("ZBCONFIG_PORTS", dir.c_str(), 1) != 0) Die("setenv");
    const std::int32_t opened = zb::com_open(1, &link_);
    ::unlink(entry.c_str());
    ::rmdir(dir.c_str());
    if (opened != zb::ST_OK) {
        std::fprintf(stderr, "com_open on %s: %d %s\n", slave, opened,
                     zb::com_last_error().c_str());
        std::abort();
    }
    // Raw before any byte flows: echo or newline translation would change the replies.
    if (zb::com_setup(link_, 115200, 0, 8, 0, zb::FLOW_NONE) != zb::ST_OK) Die("com_setup");
}

void PtyLink::Drain() {
    std::uint8_t sink[512];
    while (::read(master_, sink, sizeof sink) > 0) {
    }
}

void PtyLink::Reset() {
    if (zb::com_purge(link_, zb::PURGE_INPUT) != zb::ST_OK) Die("com_purge");
    Drain();
}

void PtyLink::Send(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{master_, POLLOUT, 0};
            (void)::poll(&p, 1, 100);
            continue;
        }
        Die("write to pty master");
    }
}

}  // namespace zbfuzz
