// zbctl: runs the port jobs from the command line, for production lines and scripts.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli_args.h"
#include "cli_output.h"
#include "job_engine.h"
#include "pause.h"
#include "record_fields.h"
#include "serial_link.h"

namespace zbctl {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "zbctl: %s\nTry 'zbctl --help'.\n", message.c_str());
    return kExitUsage;
}

int InputError(const std::string& message) {
    std::fprintf(stderr, "zbctl: %s\n", message.c_str());
    return kExitUsage;
}

// Progress on stderr, one line per message change; upgrades also every tenth of the file.
class CliReporter : public zb::NullJobReporter {
public:
    void SetPortMessage(std::int32_t com, std::string_view text) override {
        std::lock_guard lock(mutex_);
        last_message_[com] = std::string(text);
        std::fprintf(stderr, "COM%d: %.*s\n", com, static_cast<int>(text.size()), text.data());
    }
    void SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) override {
        if (total == 0) return;
        std::lock_guard lock(mutex_);
        const auto tenth = static_cast<int>(done * 10 / total);
        int& shown = tenths_shown_[com];
        if (done == 0) shown = 0;
        if (tenth <= shown) return;
        shown = tenth;
        std::fprintf(stderr, "COM%d: %d%% (%llu / %llu)\n", com, tenth * 10,
                     static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
    }
    std::string LastMessage(std::int32_t com) {
        std::lock_guard lock(mutex_);
        const auto it = last_message_.find(com);
        return it == last_message_.end() ? "Preparing..." : it->second;
    }

private:
    std::mutex mutex_;
    std::map<std::int32_t, std::string> last_message_;
    std::map<std::int32_t, int> tenths_shown_;
};

// SIGINT or SIGTERM asks the job to stop (an upgrade stops at its next block, leaving the
// modem in its loader); a second one ends the program at once.
class StopOnSignal {
public:
    explicit StopOnSignal(zb::JobEngine& job) {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        sigaddset(&set_, SIGUSR1);  // our own: the program is done
        // Blocked before any other thread exists, so every thread inherits the mask and
        // only the waiting thread takes these signals.
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
        thread_ = std::thread([this, &job] {
            bool asked = false;
            for (;;) {
                int sig = 0;
                if (sigwait(&set_, &sig) != 0 || sig == SIGUSR1) return;
                if (asked) _exit(128 + sig);
                asked = true;
                job.RequestAbort();
                std::fputs("zbctl: stopping; upgrades stop at their next block\n", stderr);
            }
        });
    }
    ~StopOnSignal() {
        pthread_kill(thread_.native_handle(), SIGUSR1);
        thread_.join();
    }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

private:
    sigset_t set_{};
    std::thread thread_;
};

// Checks every --set on a scratch record, so that nothing is refused after a port has been
// touched.
bool CheckSets(const Invocation& inv, std::string* error) {
    zb::DeviceRecord scratch;
    bool security_on = false;
    bool key_given = false;
    for (const auto& [name, value] : inv.sets) {
        const zb::RecordField* field = zb::FindRecordField(name);
        if (field == nullptr) {
            std::string names;
            for (const zb::RecordField& f : zb::RecordFields())
                if (f.writable) names += " " + std::string(f.name);
            *error = "--set " + name + "=" + value + ": unknown field; settable fields:" + names;
            return false;
        }
        std::string why;
        if (!zb::SetRecordField(scratch, *field, value, &why)) {
            *error = "--set " + name + "=" + value + ": " + why;
            return false;
        }
        if (name == "security") security_on = scratch.security;
        if (name == "aeskey") key_given = true;
    }
    // Without a key the modem refuses the last write, after the other fifteen have taken
    // effect and without the restart: a half-configured modem.
    if (security_on && !key_given) {
        *error = "--set security=1 needs --set aeskey=<32 hexadecimal digits> as well";
        return false;
    }
    return true;
}

// A port whose device path is missing or not accessible is bad input: refused before any
// port is touched.
bool CheckPorts(const std::vector<std::int32_t>& coms, std::string* error) {
    for (const std::int32_t com : coms) {
        const std::string path = zb::com_device_path(com);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            const int err = errno;
            *error = "COM" + std::to_string(com) + ": " + path +
                     (err == ENOENT ? " does not exist" : ": " + std::string(std::strerror(err)));
            if (err == ENOENT) *error += " (port map: " + zb::com_port_map_dir() + ")";
            return false;
        }
        if (::access(path.c_str(), R_OK | W_OK) != 0) {
            *error = "COM" + std::to_string(com) + ": " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

// Why a port the job could not open was refused, in system terms.
std::string WhyOpenFailed(std::int32_t com) {
    const std::string path = zb::com_device_path(com);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EBUSY) return path + " is in use by another program";
        return path + ": " + std::strerror(err);
    }
    std::string why;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        why = path + " is in use by another program";
    else if (!::isatty(fd))
        why = path + " is not a serial port";
    else
        why = path + " refused the line settings (115200 baud, 8N1)";
    ::close(fd);
    return why;
}

void RaiseDescriptorLimit() {
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        (void)setrlimit(RLIMIT_NOFILE, &lim);
    }
}

int ListPorts(bool json) {
    const auto ports = zb::com_mapped_ports();
    if (json) {
        std::string out = "[";
        for (std::size_t i = 0; i < ports.size(); ++i) {
            out += i == 0 ? "\n  " : ",\n  ";
            out += "{\"com\": " + std::to_string(ports[i].first) +
                   ", \"path\": " + JsonString(ports[i].second) + "}";
        }
        out += ports.empty() ? "]\n" : "\n]\n";
        std::fputs(out.c_str(), stdout);
    } else {
        for (const auto& [com, path] : ports) std::printf("COM%d %s\n", com, path.c_str());
    }
    return kExitOk;
}

int RunJobs(const Invocation& inv) {
    RaiseDescriptorLimit();
    zb::PortTable table;
    for (const std::int32_t com : inv.coms)
        zb::AddPort(table[static_cast<std::size_t>(com - 1)], static_cast<std::uint32_t>(com));
    if (inv.command == Command::Upgrade)
        for (const std::int32_t com : inv.coms)
            zb::SetUpgradeMark(table[static_cast<std::size_t>(com - 1)], true);

    CliReporter reporter;
    zb::JobEngine job(reporter);
    StopOnSignal stop(job);
    const auto record_of = [&](std::int32_t com) {
        return table[static_cast<std::size_t>(com - 1)].device;
    };

    std::map<std::int32_t, bool> read_ok;
    try {
        job.LoadPorts(table);
        job.SetPortCount(static_cast<std::uint32_t>(inv.coms.size()));
        if (inv.command == Command::Upgrade) job.SetFirmwareFile(inv.image);
        job.Run();

        if (inv.command == Command::Apply) {
            // The configuration flow, port by port: the fields change only in the records
            // that were read successfully, and only those ports are written, over the
            // links the read job left open.
            std::uint32_t to_apply = 0;
            for (const std::int32_t com : inv.coms) {
                zb::DeviceRecord& r = *record_of(com);
                read_ok[com] = !r.job_failed && r.connected && !r.upgrade_wait;
                if (!read_ok[com]) {
                    zb::UnmarkPort(table[static_cast<std::size_t>(com - 1)]);
                    continue;
                }
                for (const auto& [name, value] : inv.sets)
                    (void)zb::SetRecordField(r, *zb::FindRecordField(name), value, nullptr);
                r.apply_pending = true;
                ++to_apply;
            }
            if (to_apply > 0) {
                job.LoadPorts(table);
                job.SetPortCount(to_apply);
                job.Run();
            }
        }
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "zbctl: %s (code = %d)\n", e.what(), e.code().value());
        for (zb::PortRow& row : table) zb::UnmarkPort(row);
        return kExitFailed;
    }

    std::vector<PortResult> results;
    for (const std::int32_t com : inv.coms) {
        zb::PortRow& row = table[static_cast<std::size_t>(com - 1)];
        zb::UnmarkPort(row);  // closes the link
        const zb::DeviceRecord& r = *row.device;
        PortResult result;
        result.com = com;
        result.message = reporter.LastMessage(com);
        result.ok = !r.job_failed && (inv.command != Command::Apply || read_ok[com]);
        result.record = r;
        results.push_back(std::move(result));
    }
    for (const PortResult& result : results)
        if (result.message == "Open port fail")
            std::fprintf(stderr, "zbctl: COM%d: %s\n", result.com,
                         WhyOpenFailed(result.com).c_str());

    const std::string text = inv.json ? RenderJson(results) : RenderTable(results);
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    bool all_ok = job.FailCount() == 0 && job.ApplyFailCount() == 0;
    for (const PortResult& result : results) all_ok = all_ok && result.ok;
    return all_ok ? kExitOk : kExitFailed;
}

}  // namespace
}  // namespace zbctl

int main(int argc, char** argv) {
    using namespace zbctl;
    Invocation inv;
    std::string error;
    if (!ParseArgs(std::vector<std::string>(argv + 1, argv + argc), &inv, &error))
        return UsageError(error);
    if (inv.command == Command::Help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (!inv.ports_dir.empty()) {
        struct stat st {};
        if (::stat(inv.ports_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return InputError("--ports-dir " + inv.ports_dir + ": no such directory");
        // The protocol layer reads the variable at every open; set before any thread runs.
        ::setenv("ZBCONFIG_PORTS", inv.ports_dir.c_str(), 1);
    }
    if (inv.no_pauses) zb::SetPauseScale(0);
    if (inv.command == Command::Ports) return ListPorts(inv.json);

    if (!CheckSets(inv, &error)) return InputError(error);
    if (inv.command == Command::Upgrade) {
        struct stat st {};
        if (::stat(inv.image.c_str(), &st) != 0)
            return InputError(inv.image + ": " + std::strerror(errno));
        if (!S_ISREG(st.st_mode)) return InputError(inv.image + ": not a regular file");
        if (::access(inv.image.c_str(), R_OK) != 0)
            return InputError(inv.image + ": " + std::strerror(errno));
    }
    if (!CheckPorts(inv.coms, &error)) return InputError(error);
    return RunJobs(inv);
}
