// zbctl watch against line-paced virtual modems plugged in while it watches (the simulator
// in this process, zbctl in its own, --no-pauses):
//  (a) the time from a port appearing (its port-map entry written) to its job's first frame
//      (the modem has received its first request), one modem at a time on an idle station:
//      median and worst of 8, against the floor of 200 ms. Target: ratio <= 1.
//  (b) 64 modems plugged in at once: every one configured, and the time until the last has
//      finished against one modem's own time (the median of (a)'s runs, plug to result
//      line). The floor is 1.0, every job fully in parallel. Target: <= 2.
// With --pauses the jobs make their real 500 ms pauses, which come before the first frame.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kOneByOne = 8;
constexpr int kAtOnce = 64;
constexpr double kFirstFrameFloor = 0.200;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Waits until `done` holds, checking every 200 us; false after 60 s.
template <typename Done>
bool Await(Done done) {
    const auto end = Clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv_in) {
    const bool pauses = argc > 1 && std::string(argv_in[1]) == "--pauses";
    char tmpl[] = "/tmp/bench-watch-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    const std::string dir = tmpl;
    const std::string out = dir + "/stdout";

    zbsim::SimOptions options;
    options.count = kOneByOne + kAtOnce;
    options.first_com = 101;
    options.ports_dir = dir;
    options.record_requests = false;
    options.unplugged = true;
    zbsim::Simulator sim(options);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }

    std::vector<std::string> args{ZBCTL_PATH, "--ports-dir", dir,
                                  "watch",    "--set",       "devname=B-{n}"};
    if (!pauses) args.insert(args.begin() + 1, "--no-pauses");
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return 1;
    posix_spawn_file_actions_destroy(&actions);
    // Until zbctl has taken its first look, a port would count as the station's own.
    std::this_thread::sleep_for(std::chrono::seconds(1));

    const auto finished = [&] {
        const std::string text = ReadAll(out);
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    };
    bool ok = true;
    std::vector<double> first_frame;
    std::vector<double> one_modem;
    for (int i = 0; i < kOneByOne; ++i) {
        const int com = options.first_com + i;
        const auto t0 = Clock::now();
        if (!sim.plug(com, &error)) return 1;
        ok = ok && Await([&] { return sim.snapshot(com).commands > 0; });
        first_frame.push_back(Seconds(Clock::now() - t0));
        ok = ok && Await([&] { return finished() == i + 1; });
        one_modem.push_back(Seconds(Clock::now() - t0));
    }

    const auto t0 = Clock::now();
    for (int i = kOneByOne; i < kOneByOne + kAtOnce; ++i)
        if (!sim.plug(options.first_com + i, &error)) return 1;
    ok = ok && Await([&] { return finished() == kOneByOne + kAtOnce; });
    const double all = Seconds(Clock::now() - t0);
    int configured = 0;
    for (int i = 0; i < kOneByOne + kAtOnce; ++i)
        configured += sim.snapshot(options.first_com + i).settings.devname.rfind("B-", 0) == 0;
    const std::string text = ReadAll(out);
    int passed = 0;
    for (std::size_t at = 0; (at = text.find(" PASS ", at)) != std::string::npos; ++at) ++passed;

    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    sim.stop();
    std::filesystem::remove_all(dir);

    const double frame = Median(first_frame);
    const double worst = *std::max_element(first_frame.begin(), first_frame.end());
    const double single = Median(one_modem);
    std::printf("(a) port appearing -> first frame, one modem at a time (%d runs):\n", kOneByOne);
    std::printf("    median %.1f ms, worst %.1f ms; ratio to the %.0f ms floor %.2f (worst %.2f)\n",
                frame * 1e3, worst * 1e3, kFirstFrameFloor * 1e3, frame / kFirstFrameFloor,
                worst / kFirstFrameFloor);
    std::printf("(b) %d modems plugged in at once: %d of %d passed and configured (%d)\n", kAtOnce,
                passed - kOneByOne, kAtOnce, configured - kOneByOne);
    std::printf("    all in %.2f s, one modem alone %.2f s: ratio %.2f (floor 1.00)\n", all, single,
                all / single);
    return ok && passed == kOneByOne + kAtOnce && configured == kOneByOne + kAtOnce ? 0 : 1;
}
