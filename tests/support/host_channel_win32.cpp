#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <string>

#include "host_channel.h"

namespace zbtest {

struct HostChannel::Socket {
    SOCKET s = INVALID_SOCKET;
};

namespace {

// Once per process; never cleaned up, as sockets may live until exit.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

}  // namespace

HostChannel::HostChannel() : socket_(std::make_unique<Socket>()) {
    const char* where = std::getenv("ZBTEST_MODEM_HOST");
    if (where == nullptr || *where == '\0') {
        error_ =
            "ZBTEST_MODEM_HOST is not set: start zbtest_modem_host (see docs/windows.md) and "
            "set it to the address it prints";
        return;
    }
    const std::string address = where;
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos || !StartWinsock()) {
        error_ = "ZBTEST_MODEM_HOST=" + address + ": not HOST:PORT";
        return;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.substr(0, colon).c_str(), address.substr(colon + 1).c_str(), &hints,
                      &found) != 0) {
        error_ = "ZBTEST_MODEM_HOST=" + address + ": no such address";
        return;
    }
    const SOCKET s = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    const bool ok = s != INVALID_SOCKET &&
                    ::connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
    ::freeaddrinfo(found);
    if (!ok) {
        error_ = "cannot reach the modem host at " + address + " (error " +
                 std::to_string(::WSAGetLastError()) + ")";
        if (s != INVALID_SOCKET) ::closesocket(s);
        return;
    }
    // Requests are small and each waits for its reply: send them at once.
    const BOOL on = TRUE;
    (void)::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    socket_->s = s;
}

HostChannel::~HostChannel() {
    if (socket_->s != INVALID_SOCKET) ::closesocket(socket_->s);
}

bool HostChannel::connected() const {
    return socket_->s != INVALID_SOCKET;
}

std::string HostChannel::Call(const std::string& request) {
    std::lock_guard lock(mutex_);
    if (!connected()) return "err " + error_;
    const std::string line = request + "\n";
    for (std::size_t done = 0; done < line.size();) {
        const int n =
            ::send(socket_->s, line.data() + done, static_cast<int>(line.size() - done), 0);
        if (n <= 0) return "err the modem host went away";
        done += static_cast<std::size_t>(n);
    }
    while (true) {
        const std::size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            std::string reply = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return reply;
        }
        char chunk[65536];
        const int n = ::recv(socket_->s, chunk, sizeof chunk, 0);
        if (n <= 0) return "err the modem host went away";
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

}  // namespace zbtest
