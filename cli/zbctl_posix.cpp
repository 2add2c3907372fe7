#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#include "cli/cli_output.h"
#include "cli/zbctl_system.h"
#include "jobs/platform/port_list.h"
#include "protocol/serial_link.h"
#include "protocol/system_error.h"

namespace zbctl {

// A signal handler could neither stop the job nor print safely; this thread takes the
// signals with sigwait instead.
struct StopOnSignal::State {
    sigset_t set{};
    std::thread thread;
};

StopOnSignal::StopOnSignal(StopRequest& request) : state_(std::make_unique<State>()) {
    // A reader gone is then a failed write, which the run takes for a stop, instead of the
    // end of the program in the middle of a modem's writes.
    (void)::signal(SIGPIPE, SIG_IGN);
    sigset_t& set = state_->set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);  // our own: the program is done
    // Blocked before any other thread exists, so every thread inherits the mask and only the
    // waiting thread takes these signals.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    state_->thread = std::thread([&set, &request] {
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) != 0 || sig == SIGUSR1) return;
            request.Interrupt(128 + sig);
        }
    });
}

StopOnSignal::~StopOnSignal() {
    pthread_kill(state_->thread.native_handle(), SIGUSR1);
    state_->thread.join();
}

void EndProgram(int status) {
    _exit(status);
}

void RaiseDescriptorLimit() {
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        (void)setrlimit(RLIMIT_NOFILE, &lim);
    }
}

zb::Status UsePortsDir(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return zb::Status::Fail("--ports-dir " + dir + ": no such directory");
    // The protocol layer reads the variable at every open; set before any thread runs.
    ::setenv("ZBCONFIG_PORTS", dir.c_str(), 1);
    return {};
}

zb::Status CheckPorts(const std::vector<std::int32_t>& coms) {
    for (const std::int32_t com : coms) {
        const std::string name = "COM" + std::to_string(com) + ": ";
        const std::string entry = zb::com_port_map_dir() + "/com" + std::to_string(com);
        struct stat st {};
        const bool mapped = ::lstat(entry.c_str(), &st) == 0;
        if (!mapped && errno != ENOENT && errno != ENOTDIR)
            return zb::Status::Fail(name + entry + ": " + zb::system_error_text(errno));
        if (mapped && !S_ISLNK(st.st_mode))
            return zb::Status::Fail(name + entry + " is not a link to a device");
        const std::string path = zb::com_device_path(com);
        if (::stat(path.c_str(), &st) != 0) {
            const int err = errno;
            // A mapped port whose adapter is unplugged is a gap in the tray, not a mistake
            // on the command line: its job fails to open it and says why, and the others run.
            if (mapped && err == ENOENT) continue;
            std::string missing =
                name + path +
                (err == ENOENT ? " does not exist" : ": " + zb::system_error_text(err));
            if (err == ENOENT) missing += " (port map: " + zb::com_port_map_dir() + ")";
            return zb::Status::Fail(std::move(missing), err == ENOENT);
        }
        if (mapped && !S_ISCHR(st.st_mode))
            return zb::Status::Fail(name + path + " is not a serial port");
        if (::access(path.c_str(), R_OK | W_OK) != 0)
            return zb::Status::Fail(name + path + ": " + zb::system_error_text(errno));
    }
    return {};
}

bool StderrIsLiveTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::vector<ListedPort> MachinePorts(bool scan) {
    std::vector<ListedPort> ports;
    if (scan) {
        for (zb::MachinePort& port : zb::ScanPorts(zb::ListSystemSerialPorts)) {
            // The scan has written into the user's port map; say so, naming the device as the
            // entry does (its by-id name, which the canonical path hides).
            if (port.is_new) std::fprintf(stderr, "zbctl: %s\n", NewPortNote(port.com).c_str());
            ports.push_back({port.com, std::move(port.path), std::move(port.description)});
        }
    } else {
        for (auto& [com, path] : zb::com_mapped_ports())
            ports.push_back({com, std::move(path), {}});
    }
    return ports;
}

}  // namespace zbctl
