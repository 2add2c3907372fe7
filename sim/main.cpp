// zbsim: virtual modems on pseudo-terminals, until SIGINT or SIGTERM.
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "sim/simulator.h"
#include "version.h"

namespace {

constexpr int kMaxCount = 4096;

const char kUsage[] =
    "Usage: zbsim --count N [--first-com C] [--ports-dir DIR] [--no-pacing] [--log FILE]\n"
    "             [--fault KIND[:WHERE][:ARG]]...\n"
    "Runs N virtual ZigBee modems, COM C .. COM C+N-1, each on its own pseudo-terminal, and\n"
    "prints \"COM<n> <device path>\" per modem and then \"ready\". Runs until SIGINT or\n"
    "SIGTERM.\n"
    "\n"
    "  --count N         number of modems, 1 to 4096 (required)\n"
    "  --first-com C     COM number of the first modem (default 1)\n"
    "  --ports-dir DIR   write symbolic links comC .. com<C+N-1> in DIR (created if missing)\n"
    "                    pointing at the devices; stale links of those names are replaced,\n"
    "                    and the links are removed on exit\n"
    "  --no-pacing       answer at once instead of at 115200 baud line speed\n"
    "  --log FILE        append one line per request and per XMODEM event, e.g.\n"
    "                    \"COM3 ?GSB00001\" or \"COM3 block 5 ack\"\n"
    "  --fault FAULT     inject a fault (see below); repeatable\n"
    "  --help            this text\n"
    "  --version         print the version and exit\n"
    "\n";

int usage_error(const std::string& message) {
    std::fprintf(stderr, "zbsim: %s\nTry 'zbsim --help'.\n", message.c_str());
    return 2;
}

bool parse_int(const std::string& text, int min, int max, int* value) {
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < min || v > max) return false;
    *value = v;
    return true;
}

// Each modem costs a master and a kept slave descriptor: 1024 modems need more than the
// usual soft limit of 1024.
void raise_fd_limit() {
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
}

}  // namespace

int main(int argc, char** argv) {
    zbsim::SimOptions options;
    options.count = 0;
    // Nothing in this process reads the request lists; --log is the way to see requests.
    options.record_requests = false;
    std::vector<std::pair<int, zbsim::Fault>> faults;

    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool has_value = false;
        if (const std::size_t eq = name.find('=');
            name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            has_value = true;
        }
        const auto take = [&](std::string* out) {
            if (has_value) {
                *out = value;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            *out = args[++i];
            return true;
        };
        std::string text;
        if (name == "--version" && !has_value) {
            std::printf("zbsim %s\n", ZB_VERSION);
            return 0;
        }
        if (name == "--help" || name == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(zbsim::fault_help().c_str(), stdout);
            return 0;
        } else if (name == "--no-pacing" && !has_value) {
            options.pacing = false;
        } else if (name == "--count") {
            if (!take(&text) || !parse_int(text, 1, kMaxCount, &options.count))
                return usage_error("--count needs a number from 1 to " + std::to_string(kMaxCount));
        } else if (name == "--first-com") {
            if (!take(&text) || !parse_int(text, 1, 1000000, &options.first_com))
                return usage_error("--first-com needs a number of 1 or more");
        } else if (name == "--ports-dir") {
            if (!take(&options.ports_dir) || options.ports_dir.empty())
                return usage_error("--ports-dir needs a directory");
        } else if (name == "--log") {
            if (!take(&options.log_path) || options.log_path.empty())
                return usage_error("--log needs a file name");
        } else if (name == "--fault") {
            if (!take(&text)) return usage_error("--fault needs KIND[:WHERE][:ARG]");
            int com = 0;
            zbsim::Fault fault;
            std::string error;
            if (!zbsim::parse_fault(text, &com, &fault, &error)) return usage_error(error);
            faults.emplace_back(com, fault);
        } else {
            return usage_error("unknown argument \"" + args[i] + "\"");
        }
    }
    if (options.count == 0) return usage_error("--count is required");
    const long last = static_cast<long>(options.first_com) + options.count - 1;
    for (const auto& [com, fault] : faults) {
        if (com != 0 && (com < options.first_com || com > last))
            return usage_error("a fault names COM" + std::to_string(com) +
                               ", which is not one of the simulated ports");
    }

    raise_fd_limit();
    // The service thread inherits this mask, so the signals reach sigwait below.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    zbsim::Simulator sim(options);
    for (const auto& [com, fault] : faults) sim.add_fault(com, fault);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "zbsim: %s\n", error.c_str());
        return 1;
    }
    for (int com = sim.first_com(); com < sim.first_com() + sim.count(); ++com)
        std::printf("COM%d %s\n", com, sim.device_path(com).c_str());
    std::printf("ready\n");
    std::fflush(stdout);

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    sim.stop();
    return 0;
}
