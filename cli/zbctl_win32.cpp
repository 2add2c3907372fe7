// Before <windows.h>: it defines the PURGE_* names as macros, which would clash with the
// link's constants.
#include "protocol/serial_link.h"

#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "cli/cli_output.h"
#include "cli/zbctl_system.h"

namespace zbctl {

// The system calls the handler on a thread of its own, for every event, and takes no
// argument for it: the handler finds the one StopOnSignal through `current`.
struct StopOnSignal::State {
    StopRequest* request = nullptr;

    static BOOL WINAPI Handle(DWORD event) {
        // As SIGHUP, which Windows lacks.
        constexpr int kHangUp = 1;
        int sig = 0;
        if (event == CTRL_C_EVENT) sig = SIGINT;
        if (event == CTRL_BREAK_EVENT) sig = SIGBREAK;
        if (event == CTRL_CLOSE_EVENT) sig = kHangUp;
        // Logging off and shutting down reach services only.
        if (sig == 0) return FALSE;
        const std::lock_guard lock(mutex);
        if (current == nullptr) return FALSE;
        current->request->Interrupt(128 + sig);
        // The system ends the process once the handler returns from a closing console, and a
        // few seconds later anyway: what a second interrupt does is done now.
        if (sig == kHangUp) current->request->Interrupt(128 + sig);
        return TRUE;
    }

    static inline std::mutex mutex;
    static inline State* current = nullptr;
};

StopOnSignal::StopOnSignal(StopRequest& request) : state_(std::make_unique<State>()) {
    state_->request = &request;
    {
        const std::lock_guard lock(State::mutex);
        State::current = state_.get();
    }
    (void)::SetConsoleCtrlHandler(&State::Handle, TRUE);
}

StopOnSignal::~StopOnSignal() {
    (void)::SetConsoleCtrlHandler(&State::Handle, FALSE);
    // A handler already running finishes before the state goes.
    const std::lock_guard lock(State::mutex);
    State::current = nullptr;
}

void EndProgram(int status) {
    // As _exit: the workers may be in the middle of a reply, nobody waits for them.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
    // TerminateProcess on the own process does not return; the compiler cannot know.
    std::abort();
}

void RaiseDescriptorLimit() {
    // Handles have no per-process limit a program could raise.
}

zb::Status UsePortsDir(const std::string& dir) {
    return zb::Status::Fail("--ports-dir " + dir +
                            ": Windows numbers its COM ports itself; there is no port map");
}

namespace {

// Whether the system has COM n: it names it as a DOS device or lists it in the serial device
// map. Wine does neither for the COM links of its prefix, and resolves them only when a
// port is opened; so, last, the port is opened for no access at all, which sets nothing on
// the line, and only a name that leads nowhere counts as missing (a port held elsewhere
// exists, and its job says by whom).
bool PortExists(std::int32_t com, const std::vector<std::pair<std::int32_t, std::string>>& listed) {
    for (const auto& entry : listed)
        if (entry.first == com) return true;
    char target[1024];
    if (::QueryDosDeviceA(("COM" + std::to_string(com)).c_str(), target, sizeof target) != 0)
        return true;
    const HANDLE probe =
        ::CreateFileA(zb::com_device_path(com).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        ::CloseHandle(probe);
        return true;
    }
    const DWORD err = ::GetLastError();
    return err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND;
}

}  // namespace

zb::Status CheckPorts(const std::vector<std::int32_t>& coms) {
    const std::vector<std::pair<std::int32_t, std::string>> listed = zb::com_mapped_ports();
    for (const std::int32_t com : coms) {
        if (!PortExists(com, listed))
            return zb::Status::Fail(
                "COM" + std::to_string(com) + ": " + zb::com_device_path(com) + " does not exist",
                true);
    }
    return {};
}

// The system numbers the ports itself, so a scan has nothing to add to its list.
bool StderrIsLiveTerminal() {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (err == INVALID_HANDLE_VALUE || GetConsoleMode(err, &mode) == 0) return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::vector<ListedPort> MachinePorts(bool /*scan*/) {
    std::vector<ListedPort> ports;
    for (auto& [com, device] : zb::com_mapped_ports())
        ports.push_back({com, std::move(device), {}});
    return ports;
}

}  // namespace zbctl
