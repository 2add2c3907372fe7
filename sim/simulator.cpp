#include "sim/simulator.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "sim/clock.h"
#include "sim/modem.h"
#include "sim/pty.h"

namespace zbsim {
namespace {

constexpr std::uint64_t kWakeTag = ~std::uint64_t{0};
constexpr std::uint64_t kTimerTag = kWakeTag - 1;
// After a failed master read (no slave open anywhere), the port is left alone this long
// instead of waking the service thread again at once.
constexpr Nanos kReadPause = 20 * kMillisecond;
constexpr int kMaxEvents = 256;
// Reads per port and wake-up, so that one chatty client cannot starve the others.
constexpr int kMaxReads = 16;

class FileLog : public LogSink {
public:
    ~FileLog() override { close(); }

    bool open(const std::string& path, std::string* error) {
        file_ = std::fopen(path.c_str(), "a");
        if (file_ == nullptr) {
            *error = path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    void close() {
        if (file_ != nullptr) std::fclose(file_);
        file_ = nullptr;
    }
    // Only the service thread writes, under the simulator's lock.
    void write_line(int com, const std::string& text) override {
        if (file_ == nullptr) return;
        std::fprintf(file_, "COM%d %s\n", com, text.c_str());
        std::fflush(file_);
    }

private:
    std::FILE* file_ = nullptr;
};

void close_fd(int* fd) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
}

}  // namespace

struct Simulator::Impl {
    struct Port {
        std::unique_ptr<Modem> modem;
        Pty pty;
        std::string link;
        std::string alias;  // by-id/zbsim-COMn of a plugged modem, which `link` leads to
        Nanos scheduled = kNever;
        Nanos read_resume = kNever;  // reading paused after a failure until then
    };

    explicit Impl(SimOptions opts) : options(std::move(opts)) {
        const Nanos byte_time = options.pacing ? kByteTime : 0;
        for (int i = 0; i < options.count; ++i) {
            Port port;
            port.modem = std::make_unique<Modem>(options.first_com + i, byte_time, &log,
                                                 options.record_requests);
            ports.push_back(std::move(port));
        }
    }

    Port* find(int com) {
        const long index = static_cast<long>(com) - options.first_com;
        if (index < 0 || index >= static_cast<long>(ports.size())) return nullptr;
        return &ports[static_cast<std::size_t>(index)];
    }
    const Port* find(int com) const { return const_cast<Impl*>(this)->find(com); }

    template <typename F>
    void for_each(int com, F f) {
        if (com == 0) {
            for (std::size_t i = 0; i < ports.size(); ++i) f(i);
        } else if (const Port* p = find(com)) {
            f(static_cast<std::size_t>(p - ports.data()));
        }
    }

    bool open_all(std::string* error);
    bool plug_port(std::size_t i, std::string* error);
    void unplug_port(std::size_t i);
    void close_all();
    void service();
    void read_port(std::size_t i, Nanos now);
    void run_port(std::size_t i, Nanos now);
    void reschedule(std::size_t i, Nanos floor);
    void arm_timer();
    void wake() {
        if (wakefd < 0) return;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t r = ::write(wakefd, &one, sizeof one);
    }

    const SimOptions options;
    mutable std::mutex mu;
    FileLog log;
    std::vector<Port> ports;
    int epfd = -1;
    int wakefd = -1;
    int timerfd = -1;
    std::thread thread;
    std::atomic<bool> stopping{false};
    bool running = false;
    std::set<std::pair<Nanos, std::size_t>> queue;
    Nanos armed = kNever;
};

bool Simulator::Impl::open_all(std::string* error) {
    if (options.count < 1) {
        *error = "no modems to simulate";
        return false;
    }
    if (!options.log_path.empty() && !log.open(options.log_path, error)) return false;
    epfd = epoll_create1(EPOLL_CLOEXEC);
    wakefd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    timerfd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (epfd < 0 || wakefd < 0 || timerfd < 0) {
        *error = std::string("event set-up: ") + std::strerror(errno);
        return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeTag;
    epoll_ctl(epfd, EPOLL_CTL_ADD, wakefd, &ev);
    ev.data.u64 = kTimerTag;
    epoll_ctl(epfd, EPOLL_CTL_ADD, timerfd, &ev);

    for (std::size_t i = 0; i < ports.size() && !options.unplugged; ++i) {
        Port& port = ports[i];
        std::string why;
        if (!open_pty(&port.pty, &why)) {
            *error = "COM" + std::to_string(options.first_com + static_cast<int>(i)) + ": " + why;
            return false;
        }
        ev.events = EPOLLIN;
        ev.data.u64 = i;
        if (epoll_ctl(epfd, EPOLL_CTL_ADD, port.pty.master, &ev) != 0) {
            *error = std::string("epoll: ") + std::strerror(errno);
            return false;
        }
    }
    if (!options.ports_dir.empty()) {
        if (!make_dirs(options.ports_dir, error)) return false;
        for (std::size_t i = 0; i < ports.size() && !options.unplugged; ++i) {
            const std::string link = options.ports_dir + "/com" +
                                     std::to_string(options.first_com + static_cast<int>(i));
            if (!write_link(link, ports[i].pty.path, error)) return false;
            ports[i].link = link;
        }
    }
    const Nanos now = mono_now();
    for (std::size_t i = 0; i < ports.size(); ++i) reschedule(i, now);
    arm_timer();
    return true;
}

bool Simulator::Impl::plug_port(std::size_t i, std::string* error) {
    Port& port = ports[i];
    if (port.pty.master >= 0) return true;
    const std::string com = std::to_string(options.first_com + static_cast<int>(i));
    if (!open_pty(&port.pty, error)) {
        *error = "COM" + com + ": " + *error;
        return false;
    }
    if (!options.ports_dir.empty()) {
        const std::string by_id = options.ports_dir + "/by-id";
        const std::string alias = by_id + "/zbsim-COM" + com;
        const std::string link = options.ports_dir + "/com" + com;
        // The terminal's name first, then the entry: a watcher that sees the entry finds a
        // device behind it.
        if (!make_dirs(by_id, error) || !write_link(alias, port.pty.path, error)) {
            close_pty(&port.pty);
            return false;
        }
        if (!write_link(link, alias, error)) {
            remove_link(alias, port.pty.path);
            close_pty(&port.pty);
            return false;
        }
        port.alias = alias;
        port.link = link;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = i;
    epoll_ctl(epfd, EPOLL_CTL_ADD, port.pty.master, &ev);
    reschedule(i, mono_now());
    return true;
}

void Simulator::Impl::unplug_port(std::size_t i) {
    Port& port = ports[i];
    // The entry first, as when an adapter's name goes before its device.
    if (!port.link.empty()) remove_link(port.link, port.alias.empty() ? port.pty.path : port.alias);
    if (!port.alias.empty()) remove_link(port.alias, port.pty.path);
    port.link.clear();
    port.alias.clear();
    if (port.pty.master >= 0 && epfd >= 0) epoll_ctl(epfd, EPOLL_CTL_DEL, port.pty.master, nullptr);
    close_pty(&port.pty);
    port.pty.path.clear();
    if (port.scheduled != kNever) queue.erase({port.scheduled, i});
    port.scheduled = kNever;
    port.read_resume = kNever;
}

void Simulator::Impl::close_all() {
    for (std::size_t i = 0; i < ports.size(); ++i) unplug_port(i);
    queue.clear();
    armed = kNever;
    close_fd(&epfd);
    close_fd(&wakefd);
    close_fd(&timerfd);
    log.close();
}

void Simulator::Impl::service() {
    epoll_event events[kMaxEvents];
    while (!stopping.load()) {
        const int n = epoll_wait(epfd, events, kMaxEvents, -1);
        if (n < 0 && errno != EINTR) {
            std::fprintf(stderr, "zbsim: epoll_wait: %s\n", std::strerror(errno));
            return;
        }
        if (stopping.load()) return;
        std::lock_guard<std::mutex> lock(mu);
        Nanos now = mono_now();
        for (int k = 0; k < n; ++k) {
            const std::uint64_t tag = events[k].data.u64;
            std::uint64_t count = 0;
            if (tag == kWakeTag) {
                [[maybe_unused]] const ssize_t r = ::read(wakefd, &count, sizeof count);
            } else if (tag == kTimerTag) {
                [[maybe_unused]] const ssize_t r = ::read(timerfd, &count, sizeof count);
                armed = kNever;
            } else if (tag < ports.size()) {
                read_port(static_cast<std::size_t>(tag), now);
            }
        }
        now = mono_now();
        while (!queue.empty() && queue.begin()->first <= now) run_port(queue.begin()->second, now);
        arm_timer();
    }
}

void Simulator::Impl::read_port(std::size_t i, Nanos now) {
    Port& port = ports[i];
    if (port.pty.master < 0) return;  // unplugged since the event came
    std::uint8_t buf[4096];
    for (int reads = 0; reads < kMaxReads; ++reads) {
        const ssize_t r = ::read(port.pty.master, buf, sizeof buf);
        if (r > 0) {
            port.modem->receive(buf, static_cast<std::size_t>(r), now);
            if (static_cast<std::size_t>(r) < sizeof buf) break;
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno == EAGAIN) break;
        // EIO (no slave descriptor open) keeps the master readable: stop listening a while
        // rather than spin. Removed, not masked: a hang-up is reported whatever the mask.
        epoll_ctl(epfd, EPOLL_CTL_DEL, port.pty.master, nullptr);
        port.read_resume = now + kReadPause;
        break;
    }
    run_port(i, now);
}

void Simulator::Impl::run_port(std::size_t i, Nanos now) {
    Port& port = ports[i];
    if (port.pty.master < 0) {
        // Unplugged: the modem waits, unpowered, for its next terminal.
        if (port.scheduled != kNever) queue.erase({port.scheduled, i});
        port.scheduled = kNever;
        return;
    }
    std::string out;
    port.modem->run(now, &out);
    if (!out.empty()) {
        // A line keeps going whether anyone listens or not: what the terminal cannot take
        // is lost.
        [[maybe_unused]] const ssize_t r = ::write(port.pty.master, out.data(), out.size());
    }
    if (port.read_resume <= now) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = i;
        epoll_ctl(epfd, EPOLL_CTL_ADD, port.pty.master, &ev);
        port.read_resume = kNever;
    }
    reschedule(i, now + 1);
}

void Simulator::Impl::reschedule(std::size_t i, Nanos floor) {
    Port& port = ports[i];
    Nanos deadline = std::min(port.modem->next_deadline(), port.read_resume);
    if (deadline != kNever) deadline = std::max(deadline, floor);
    if (deadline == port.scheduled) return;
    if (port.scheduled != kNever) queue.erase({port.scheduled, i});
    port.scheduled = deadline;
    if (deadline != kNever) queue.insert({deadline, i});
}

void Simulator::Impl::arm_timer() {
    const Nanos next = queue.empty() ? kNever : queue.begin()->first;
    if (next == armed) return;
    itimerspec when{};
    if (next != kNever) {
        when.it_value.tv_sec = static_cast<time_t>(next / kSecond);
        when.it_value.tv_nsec = static_cast<long>(next % kSecond);
    }
    timerfd_settime(timerfd, TFD_TIMER_ABSTIME, &when, nullptr);
    armed = next;
}

Simulator::Simulator(SimOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(std::string* error) {
    std::string ignored;
    if (error == nullptr) error = &ignored;
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        if (impl_->running) {
            *error = "already running";
            return false;
        }
        if (!impl_->open_all(error)) {
            impl_->close_all();
            return false;
        }
        impl_->stopping = false;
        impl_->running = true;
    }
    impl_->thread = std::thread([this] { impl_->service(); });
    return true;
}

void Simulator::stop() {
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        if (!impl_->running) return;
        impl_->stopping = true;
        impl_->wake();
    }
    impl_->thread.join();
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->close_all();
    impl_->running = false;
}

int Simulator::first_com() const {
    return impl_->options.first_com;
}

int Simulator::count() const {
    return static_cast<int>(impl_->ports.size());
}

std::string Simulator::device_path(int com) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    const Impl::Port* port = impl_->find(com);
    return port != nullptr ? port->pty.path : std::string();
}

void Simulator::add_fault(int com, const Fault& fault) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->for_each(com, [&](std::size_t i) { impl_->ports[i].modem->add_fault(fault); });
}

void Simulator::clear_faults(int com) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->for_each(com, [&](std::size_t i) { impl_->ports[i].modem->clear_faults(); });
}

void Simulator::set_settings(int com, const ModemSettings& settings) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->for_each(com, [&](std::size_t i) { impl_->ports[i].modem->set_settings(settings); });
}

void Simulator::set_mode(int com, ModemMode mode) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    const Nanos now = mono_now();
    impl_->for_each(com, [&](std::size_t i) {
        impl_->ports[i].modem->set_mode(mode, now);
        if (impl_->running) impl_->reschedule(i, 0);
    });
    // The service thread re-arms its timer for the new deadlines.
    if (impl_->running) impl_->wake();
}

bool Simulator::plug(int com, std::string* error) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    const Impl::Port* port = impl_->find(com);
    if (port == nullptr || !impl_->running) return true;
    if (!impl_->plug_port(static_cast<std::size_t>(port - impl_->ports.data()), error))
        return false;
    impl_->wake();
    return true;
}

void Simulator::unplug(int com) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    const Impl::Port* port = impl_->find(com);
    if (port == nullptr || !impl_->running) return;
    impl_->unplug_port(static_cast<std::size_t>(port - impl_->ports.data()));
    impl_->wake();
}

ModemSnapshot Simulator::snapshot(int com) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    const Impl::Port* port = impl_->find(com);
    return port != nullptr ? port->modem->snapshot() : ModemSnapshot{};
}

std::vector<std::string> Simulator::requests(int com) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    const Impl::Port* port = impl_->find(com);
    return port != nullptr ? port->modem->requests() : std::vector<std::string>{};
}

void Simulator::clear_requests(int com) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->for_each(com, [&](std::size_t i) { impl_->ports[i].modem->clear_requests(); });
}

}  // namespace zbsim
