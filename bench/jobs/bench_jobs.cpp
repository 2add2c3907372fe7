// Job engine figures against paced virtual modems (zbsim in its own process):
//  (a) a read job over N = 1, 16, 128, 1024 modems with the real 500 ms pauses: the wall
//      time against its floor (the pauses a read job must make plus the wire time of its
//      transactions at 115200 baud), and time(N) / time(1). Targets: ratio <= 1.05 at every
//      N, time(1024) / time(1) <= 1.10. Also the client's CPU time and context switches per
//      job (what the wall time hides on a busy machine), and the peak memory after the
//      1024-port job. Where the time goes: when the last port began its read (the opens and
//      connection checks before it run at once on every port), and the CPU of the whole
//      machine during the job, split into this client, the simulator and the rest (mostly
//      the kernel's workers that move bytes through the pseudo-terminals). A lock folder
//      that is not a tmpfs (/run/lock is one on a standard system) makes every open create
//      a file on disk: the 1024-port job is then measured again with the lock files on a
//      tmpfs.
//  (b) an upgrade of 16 modems at once from one 64 KiB image: each modem's transfer rate
//      as a fraction of what stop-and-wait XMODEM-CRC carries at 115200 baud (128 data
//      bytes per 133-byte block plus a 1-byte answer). Target: 0.95.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "firmware_image.h"
#include "jobs/engine/job_engine.h"
#include "jobs/engine/pause.h"
#include "jobs/engine/steps.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kByteSeconds = 10.0 / 115200;  // 86.8 us: start, 8 data, stop bits
constexpr int kModems = 1024;

// zbsim in a child process, modems COM1..COM<count>, links in `dir`.
class SimProcess {
public:
    SimProcess(const std::string& dir, int count) {
        int out[2];
        if (pipe(out) != 0) std::exit(1);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string n = std::to_string(count);
        std::vector<std::string> args{ZBSIM_PATH, "--count",     n,  "--first-com",
                                      "1",        "--ports-dir", dir};
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            std::fprintf(stderr, "cannot start %s\n", ZBSIM_PATH);
            std::exit(1);
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::FILE* in = fdopen(out[0], "r");
        char line[512];
        bool ready = false;
        while (!ready && std::fgets(line, sizeof line, in) != nullptr)
            ready = std::strncmp(line, "ready", 5) == 0;
        std::fclose(in);
        if (!ready) {
            std::fprintf(stderr, "zbsim did not start\n");
            std::exit(1);
        }
    }
    // User and system time of the simulator so far.
    double CpuSeconds() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        // Fields after the command name, which is in parentheses and may hold spaces.
        std::istringstream rest(text.substr(std::min(text.size(), text.rfind(')') + 1)));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i)
            if (i >= 14) ticks += std::atof(field.c_str());
        return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    ~SimProcess() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }

private:
    pid_t pid_ = -1;
};

class TimingReporter : public zb::NullJobReporter {
public:
    void SetPortMessage(std::int32_t com, std::string_view text) override {
        std::lock_guard lock(mutex_);
        if (text == "Get device's settings") last_read_start_ = Clock::now();
        if (text == "Firmware upgrading...") synced_[com] = Clock::now();
        if (text != "Inital serial port" && text != "Get device's settings" &&
            text != "Device synchronizing..." && text != "Firmware upgrading..." &&
            text != "Upgrade successfully")
            failures_.push_back("COM" + std::to_string(com) + ": " + std::string(text));
    }
    void SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) override {
        if (done != total || total == 0) return;
        std::lock_guard lock(mutex_);
        acked_[com] = Clock::now();
    }
    std::vector<double> TransferSeconds() {
        std::lock_guard lock(mutex_);
        std::vector<double> out;
        for (const auto& [com, t0] : synced_)
            if (acked_.count(com) != 0)
                out.push_back(std::chrono::duration<double>(acked_[com] - t0).count());
        return out;
    }
    std::vector<std::string> Failures() {
        std::lock_guard lock(mutex_);
        return failures_;
    }
    Clock::time_point LastReadStart() {
        std::lock_guard lock(mutex_);
        return last_read_start_;
    }

private:
    std::mutex mutex_;
    Clock::time_point last_read_start_{};
    std::map<std::int32_t, Clock::time_point> synced_, acked_;
    std::vector<std::string> failures_;
};

// Bytes on the wire for one read job's port: the connection check and the 20 reads, each
// a request (3 control bytes, '?', class, code, 4 address digits, data, newline) and a
// reply ('!', class, code, status, 4 address digits, payload, newline). Payload sizes are
// those of the virtual modem's default settings.
double ReadJobWireSeconds(int com) {
    struct Exchange {
        int data;
        int payload;
    };
    const int devname = static_cast<int>(("SIM-" + std::to_string(com)).size());
    const Exchange exchanges[] = {
        {1, 2},                                                 // XT "OK"
        {0, 2},  {0, 1},       {0, 1}, {0, 1}, {0, 1},          // SB SD SS SP SI
        {1, 12}, {0, devname},                                  // DS BN
        {0, 2},  {0, 1},       {0, 4}, {0, 1}, {0, 1}, {0, 1},  // ZC ZE ZP ZO ZT ZM
        {0, 4},  {1, 4},       {1, 1}, {1, 1}, {0, 2}, {0, 1},  // ZA ZU ZN ZN ZF ZS
        {1, 9},                                                 // @V "SIM 1.0.0"
    };
    int bytes = 0;
    for (const Exchange& e : exchanges)
        bytes += (3 + 1 + 1 + 2 + 4 + e.data + 1) + (9 + e.payload + 1);
    return bytes * kByteSeconds;
}

long PeakRssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

struct Usage {
    double cpu_seconds = 0;
    long switches = 0;
    double machine_seconds = 0;  // busy CPU of every process and the kernel
    double sim_seconds = 0;
    double last_read_start = 0;  // from the job's start
};

// Busy CPU time of the whole machine so far (every CPU's user, system, interrupt and steal).
double MachineBusySeconds() {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
    return (user + nice + system + irq + softirq + steal) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool OnTmpfs(const std::string& path) {
    struct statfs fs {};
    constexpr long kTmpfsMagic = 0x01021994;
    return statfs(path.c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == kTmpfsMagic;
}

Usage SelfUsage() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const auto secs = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return {secs(u.ru_utime) + secs(u.ru_stime), u.ru_nvcsw + u.ru_nivcsw};
}

double ReadJob(const SimProcess& sim, int n, std::vector<std::string>* failures, Usage* used) {
    zb::PortTable table;
    for (int com = 1; com <= n; ++com)
        zb::AddPort(table[static_cast<std::size_t>(com - 1)], static_cast<std::uint32_t>(com));
    TimingReporter reporter;
    zb::JobEngine job(reporter);
    job.LoadPorts(table);
    job.SetPortCount(static_cast<std::uint32_t>(n));
    const Usage u0 = SelfUsage();
    const double machine0 = MachineBusySeconds();
    const double sim0 = sim.CpuSeconds();
    const auto t0 = Clock::now();
    job.Run();
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const Usage u1 = SelfUsage();
    *used = {u1.cpu_seconds - u0.cpu_seconds, u1.switches - u0.switches,
             MachineBusySeconds() - machine0, sim.CpuSeconds() - sim0,
             std::chrono::duration<double>(reporter.LastReadStart() - t0).count()};
    *failures = reporter.Failures();
    if (job.FailCount() != 0 && failures->empty()) failures->push_back("fail count");
    for (zb::PortRow& row : table) zb::UnmarkPort(row);
    return seconds;
}

}  // namespace

int main() {
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
    char tmpl[] = "/tmp/zbbench-jobs-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    setenv("ZBCONFIG_PORTS", dir.c_str(), 1);
    zb::SetPauseScale(1.0);
    int status = 0;
    {
        SimProcess sim(dir, kModems);

        // A read job: supervisor 500 ms, worker 500 ms, read step 500 ms before and after.
        const double pauses = 4 * 0.5;
        std::printf("Read job, paced modems, real pauses (floor = %.1f s of pauses + wire time)\n",
                    pauses);
        std::printf("%6s %9s %9s %7s %9s %8s %9s %8s %8s %8s %8s\n", "N", "time [s]", "floor [s]",
                    "ratio", "time/t(1)", "cpu [s]", "switches", "read at", "all cpu", "sim cpu",
                    "kernel");
        double t1 = 0;
        bool met = true;
        const auto measure = [&](int n, const char* note) {
            std::vector<std::string> failures;
            Usage used;
            const double t = ReadJob(sim, n, &failures, &used);
            double wire = 0;
            for (int com = 1; com <= n; ++com) wire = std::max(wire, ReadJobWireSeconds(com));
            const double floor = pauses + wire;
            if (n == 1) t1 = t;
            std::printf("%6d %9.3f %9.3f %7.3f %9.3f %8.3f %9ld %8.3f %8.3f %8.3f %8.3f%s%s\n", n,
                        t, floor, t / floor, t / t1, used.cpu_seconds, used.switches,
                        used.last_read_start, used.machine_seconds, used.sim_seconds,
                        std::max(0.0, used.machine_seconds - used.cpu_seconds - used.sim_seconds),
                        note, failures.empty() ? "" : "  (ports failed)");
            for (std::size_t i = 0; i < failures.size() && i < 5; ++i)
                std::printf("         %s\n", failures[i].c_str());
            met = met && failures.empty() && t / floor <= 1.05 && t / t1 <= 1.10;
            return std::pair(t, used);
        };
        for (int n : {1, 16, 128}) measure(n, "");
        const auto [t1024, used] = measure(kModems, "");
        const char* env_dir = std::getenv("ZBCONFIG_LOCK_DIR");
        const std::string locks = env_dir != nullptr && *env_dir != '\0' ? env_dir : "/var/lock";
        if (!OnTmpfs(locks)) {
            const std::string tmpfs_locks = "/dev/shm/zbbench-locks-" + std::to_string(getpid());
            if (OnTmpfs("/dev/shm") && std::filesystem::create_directory(tmpfs_locks)) {
                setenv("ZBCONFIG_LOCK_DIR", tmpfs_locks.c_str(), 1);
                measure(kModems, "  (lock files on a tmpfs)");
                if (env_dir != nullptr)
                    setenv("ZBCONFIG_LOCK_DIR", env_dir, 1);
                else
                    unsetenv("ZBCONFIG_LOCK_DIR");
                std::filesystem::remove_all(tmpfs_locks);
            }
        }
        std::printf(
            "  read at: when the last port began its read, after 1.0 s of pauses; "
            "all cpu: every process and the kernel;\n  kernel: all cpu less this "
            "client and the simulator. Lock folder: %s (%s).\n",
            locks.c_str(), OnTmpfs(locks) ? "tmpfs" : "not a tmpfs");
        // Every port: the connection check and 20 reads.
        const double exchanges = 21.0 * kModems;
        std::printf(
            "CPU per exchange at 1024 ports: client %.1f us, simulator %.1f us, "
            "kernel %.1f us\n",
            used.cpu_seconds / exchanges * 1e6, used.sim_seconds / exchanges * 1e6,
            std::max(0.0, used.machine_seconds - used.cpu_seconds - used.sim_seconds) / exchanges *
                1e6);
        std::printf("Peak memory after the 1024-port job: %ld KiB (VmHWM)\n", PeakRssKiB());
        std::printf("1024-port / 1-port time: %.3f (target <= 1.10): %s\n", t1024 / t1,
                    t1024 / t1 <= 1.10 ? "met" : "MISSED");
        std::printf("Read targets (ratio <= 1.05, time(1024)/time(1) <= 1.10): %s\n\n",
                    met ? "met" : "MISSED");
        if (!met) status = 1;

        // Upgrade: 16 modems from one 64 KiB image.
        constexpr int kUpgraded = 16;
        const std::vector<std::uint8_t> image = zbtest::MakeImage(
            "0101", zbtest::PatternBody(std::size_t{64} * 1024 - zb::kImageHeaderSize), "BENCH 2");
        const std::string path = dir + "/bench.rom";
        if (!zbtest::WriteFile(path, image)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            std::filesystem::remove_all(dir);
            return 1;
        }

        zb::PortTable table;
        for (int com = 1; com <= kUpgraded; ++com) {
            auto r = zb::AddPort(table[static_cast<std::size_t>(com - 1)],
                                 static_cast<std::uint32_t>(com));
            r->upgrade_pending = true;
        }
        TimingReporter reporter;
        zb::JobEngine job(reporter);
        job.LoadPorts(table);
        job.SetPortCount(kUpgraded);
        job.SetFirmwareFile(path);
        const auto t0 = Clock::now();
        job.Run();
        const double total = std::chrono::duration<double>(Clock::now() - t0).count();
        for (zb::PortRow& row : table) zb::UnmarkPort(row);

        const double limit = 11520.0 * 128 / 134;  // bytes per second
        const std::vector<double> seconds = reporter.TransferSeconds();
        double worst = 1e9, best = 0;
        for (double s : seconds) {
            const double fraction = static_cast<double>(image.size()) / s / limit;
            worst = std::min(worst, fraction);
            best = std::max(best, fraction);
        }
        std::printf("Upgrade of %d paced modems at once, %zu-byte image (job %.2f s)\n", kUpgraded,
                    image.size(), total);
        std::printf("XMODEM limit per modem: %.0f B/s; transfers measured: %zu\n", limit,
                    seconds.size());
        for (const std::string& f : reporter.Failures()) std::printf("  %s\n", f.c_str());
        if (seconds.size() == kUpgraded) {
            std::printf("Per-modem rate as a fraction of the limit: worst %.3f, best %.3f\n", worst,
                        best);
            std::printf("Upgrade target (>= 0.95): %s\n", worst >= 0.95 ? "met" : "MISSED");
            if (worst < 0.95) status = 1;
        } else {
            std::printf("Upgrade target (>= 0.95): MISSED (not every transfer finished)\n");
            status = 1;
        }
    }
    std::filesystem::remove_all(dir);
    return status;
}
