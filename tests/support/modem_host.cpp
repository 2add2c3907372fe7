// The modem host: virtual modems and scripted peers on pseudo-terminals, for test programs
// that cannot start them in-process. The Windows test programs under Wine reach it over
// TCP on the loopback interface; each pseudo-terminal is linked into LINKS_DIR (the Wine
// prefix's dosdevices folder) as comN, which Wine opens as COMn.
//
//   zbtest_modem_host LINKS_DIR
//
// Prints "port N" once it listens, and serves until SIGTERM or SIGINT. Each connection is
// one session, served on a thread of its own: a bank of modems or one scripted peer, gone
// with its links when the connection closes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modem_host_wire.h"
#include "sim/pty.h"
#include "sim/simulator.h"
#include "wait_until.h"

namespace {

using zbtest::wire::Fields;
using zbtest::wire::Hex;
using zbtest::wire::ParseInt;

volatile sig_atomic_t stopping = 0;

void OnSignal(int) {
    stopping = 1;
}

bool SendAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A pseudo-terminal whose master side the client scripts byte by byte.
struct Peer {
    zbsim::Pty pty;
    std::string link;

    ~Peer() {
        if (!link.empty()) zbsim::remove_link(link, pty.path);
        zbsim::close_pty(&pty);
    }

    std::string Receive(std::size_t expected, int deadline_ms) const {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadline_ms);
        while (got.size() < expected && std::chrono::steady_clock::now() < end && pty.master >= 0) {
            pollfd p{pty.master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(pty.master, buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

    bool WaitQueued(int count) const {
        int queued = 0;
        zbtest::WaitUntil(
            [&] { return ::ioctl(pty.slave, FIONREAD, &queued) != 0 || queued >= count; },
            std::chrono::seconds(5));
        return queued >= count;
    }
};

class Session {
public:
    Session(int fd, std::string links_dir) : fd_(fd), links_dir_(std::move(links_dir)) {}

    void Serve() {
        std::string buffer;
        char chunk[65536];
        while (true) {
            const std::size_t end = buffer.find('\n');
            if (end != std::string::npos) {
                const std::string reply = Handle(buffer.substr(0, end));
                buffer.erase(0, end + 1);
                if (!SendAll(fd_, reply + "\n")) break;
                continue;
            }
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        sim_.reset();
        peer_.reset();
    }

private:
    std::string Handle(const std::string& line) {
        const std::vector<std::string> f = Fields(line);
        const std::string& verb = f[0];
        long long a = 0;
        long long b = 0;
        const bool one = f.size() >= 2 && ParseInt(f[1], &a);
        const bool two = one && f.size() >= 3 && ParseInt(f[2], &b);
        const int com = static_cast<int>(a);

        if (verb == "peer" && one) return OpenPeer(com);
        if (peer_) {
            if (verb == "send" && f.size() == 2) {
                std::string bytes;
                if (!zbtest::wire::Unhex(f[1], &bytes)) return "err bad bytes";
                return ::write(peer_->pty.master, bytes.data(), bytes.size()) ==
                               static_cast<ssize_t>(bytes.size())
                           ? "ok"
                           : std::string("err write: ") + std::strerror(errno);
            }
            if (verb == "receive" && two)
                return "ok " +
                       Hex(peer_->Receive(static_cast<std::size_t>(a), static_cast<int>(b)));
            if (verb == "queued" && one)
                return peer_->WaitQueued(com) ? "ok" : "err fewer bytes queued";
            if (verb == "close-master") {
                ::close(peer_->pty.master);
                peer_->pty.master = -1;
                return "ok";
            }
        }

        if (verb == "start" && f.size() == 5) return Start(f);
        if (!sim_) return "err no modems started: " + line.substr(0, 40);
        if (verb == "stop") {
            sim_->stop();
            return "ok";
        }
        if (verb == "fault" && one) {
            zbsim::Fault fault;
            if (!zbtest::wire::DecodeFault(f, 2, &fault)) return "err bad fault";
            sim_->add_fault(com, fault);
            return "ok";
        }
        if (verb == "clear-faults" && one) {
            sim_->clear_faults(com);
            return "ok";
        }
        if (verb == "settings" && one) {
            zbsim::ModemSettings settings;
            if (!zbtest::wire::DecodeSettings(f, 2, &settings)) return "err bad settings";
            sim_->set_settings(com, settings);
            return "ok";
        }
        if (verb == "mode" && f.size() == 3 && one) {
            sim_->set_mode(
                com, f[2] == "loader" ? zbsim::ModemMode::Loader : zbsim::ModemMode::Application);
            return "ok";
        }
        if (verb == "snapshot" && one)
            return "ok " + zbtest::wire::EncodeSnapshot(sim_->snapshot(com));
        if (verb == "requests" && one)
            return "ok " + zbtest::wire::EncodeLines(sim_->requests(com));
        if (verb == "clear-requests" && one) {
            sim_->clear_requests(com);
            return "ok";
        }
        return "err unknown request: " + line.substr(0, 40);
    }

    std::string Start(const std::vector<std::string>& f) {
        long long count = 0, first = 0, pacing = 0, record = 0;
        if (!ParseInt(f[1], &count) || !ParseInt(f[2], &first) || !ParseInt(f[3], &pacing) ||
            !ParseInt(f[4], &record) || sim_)
            return "err bad start";
        zbsim::SimOptions options;
        options.count = static_cast<int>(count);
        options.first_com = static_cast<int>(first);
        options.pacing = pacing != 0;
        options.record_requests = record != 0;
        options.ports_dir = links_dir_;
        auto sim = std::make_unique<zbsim::Simulator>(options);
        std::string error;
        if (!sim->start(&error)) return "err " + error;
        sim_ = std::move(sim);
        return "ok";
    }

    std::string OpenPeer(int com) {
        if (peer_ || sim_) return "err this session is in use";
        auto peer = std::make_unique<Peer>();
        std::string error;
        if (!zbsim::open_pty(&peer->pty, &error)) return "err " + error;
        const std::string link = links_dir_ + "/com" + std::to_string(com);
        if (!zbsim::write_link(link, peer->pty.path, &error)) return "err " + error;
        peer->link = link;
        peer_ = std::move(peer);
        return "ok " + Hex(peer_->pty.path);
    }

    int fd_;
    std::string links_dir_;
    std::unique_ptr<zbsim::Simulator> sim_;
    std::unique_ptr<Peer> peer_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zbtest_modem_host LINKS_DIR\n");
        return 2;
    }
    const std::string links_dir = argv[1];
    std::string error;
    if (!zbsim::make_dirs(links_dir, &error)) {
        std::fprintf(stderr, "zbtest_modem_host: %s\n", error.c_str());
        return 1;
    }

    // No SA_RESTART: a signal ends the wait in accept().
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 64) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::fprintf(stderr, "zbtest_modem_host: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("port %u\n", static_cast<unsigned>(ntohs(addr.sin_port)));
    std::fflush(stdout);

    std::mutex mutex;
    std::vector<int> open_fds;
    std::vector<std::thread> sessions;
    while (!stopping) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        {
            std::lock_guard lock(mutex);
            open_fds.push_back(fd);
        }
        sessions.emplace_back([fd, &links_dir, &mutex, &open_fds] {
            Session(fd, links_dir).Serve();
            // Closed under the lock, so that the shutdown below never meets a reused number.
            std::lock_guard lock(mutex);
            std::erase(open_fds, fd);
            ::close(fd);
        });
    }
    // Ends every session's wait for a request, so that each removes its links.
    {
        std::lock_guard lock(mutex);
        for (const int fd : open_fds) ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& t : sessions) t.join();
    ::close(listener);
    return 0;
}
