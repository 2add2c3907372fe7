// zbsim: virtual modems on pseudo-terminals, until SIGINT or SIGTERM.
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "jobs/engine/firmware_image.h"
#include "sim/sim_args.h"
#include "sim/simulator.h"
#include "version.h"

namespace {

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

// NOLINTNEXTLINE(bugprone-exception-escape): a Result is only read once it is known ok().
int main(int argc, char** argv) {
    zb::Result<zbsim::SimArgs> parsed =
        zbsim::parse_args(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed) {
        std::fprintf(stderr, "zbsim: %s\nTry 'zbsim --help'.\n", parsed.error().reason.c_str());
        return 2;
    }
    zbsim::SimArgs& args = *parsed;
    if (args.action == zbsim::SimAction::Version) {
        std::printf("zbsim %s\n", ZB_VERSION);
        return 0;
    }
    if (args.action == zbsim::SimAction::MakeImage) {
        char type[8];
        std::snprintf(type, sizeof type, "%04x", static_cast<unsigned>(args.image.type));
        const std::vector<std::uint8_t> image = zb::MakeImage(
            type, zb::PatternBody(static_cast<std::size_t>(args.image.size)), args.image.version);
        std::FILE* file = std::fopen(args.image.path.c_str(), "wb");
        const bool written =
            file != nullptr && std::fwrite(image.data(), 1, image.size(), file) == image.size();
        if ((file != nullptr && std::fclose(file) != 0) || !written) {
            std::fprintf(stderr, "zbsim: %s: %s\n", args.image.path.c_str(), std::strerror(errno));
            return 1;
        }
        return 0;
    }
    if (args.action == zbsim::SimAction::Help) {
        std::fputs(zbsim::kUsage, stdout);
        std::fputs(zbsim::fault_help().c_str(), stdout);
        return 0;
    }

    raise_fd_limit();
    // The service thread inherits this mask, so the signals reach sigwait below.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    zbsim::Simulator sim(args.options);
    for (const auto& [com, fault] : args.faults) sim.add_fault(com, fault);
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
