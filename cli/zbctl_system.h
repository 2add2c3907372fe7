// zbctl's dealings with the operating system, one source file per platform (zbctl_posix.cpp,
// zbctl_win32.cpp): interrupts, the descriptor limit, the port map of --ports-dir, the check
// of the ports before any is touched, and the list of the machine's ports. Files and folders
// are checked by the jobs layer (jobs/platform/file_storage.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/stop_request.h"
#include "jobs/model/result.h"

namespace zbctl {

// While it exists, the system's interrupts go to `request` as Interrupt(128 + signal):
// on POSIX SIGINT, SIGTERM and SIGHUP (a closed terminal or SSH session), on Windows Ctrl-C
// (SIGINT 2), Ctrl-Break (SIGBREAK 21) and the console's closing (as SIGHUP 1; the system
// ends the process soon after, so it is a stop and an end at once). SIGPIPE is ignored from
// then on, so that a reader gone shows as a failed write. The request is called on a thread
// of its own. Made before any worker thread exists; one at a time.
class StopOnSignal {
public:
    explicit StopOnSignal(StopRequest& request);
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Ends the program at once with `status`, whatever its other threads are doing (they may be
// in the middle of a reply); nothing is flushed or destroyed.
[[noreturn]] void EndProgram(int status);

// A thousand ports need a thousand descriptors, more than a POSIX process may open by
// default; raises the limit as far as allowed. Windows has no such limit.
void RaiseDescriptorLimit();

// --ports-dir: makes `dir` the port map of this run. Before any thread runs.
zb::Status UsePortsDir(const std::string& dir);

// Refuses a port whose device is missing or not accessible, or whose port-map entry leads
// to something else than a device: it is bad input, refused before any port is touched.
// A port the map names whose device is missing (its adapter unplugged) passes: its job
// fails to open it. Windows lists only the ports present, so there a missing one is refused.
zb::Status CheckPorts(const std::vector<std::int32_t>& coms);

// Whether stderr is a terminal that takes a table redrawn in place (ANSI cursor moves; a
// Windows console is switched to take them).
bool StderrIsLiveTerminal();

struct ListedPort {
    std::int32_t com = 0;
    std::string path;
    std::string description;  // may be empty
};
// The port map's entries, or with `scan` the machine's serial ports as a scan numbers them
// (writing the entries of devices the map lacks), with their descriptions. A scan says on
// stderr which ports it gave a new number ("zbctl: COM17 is new: DEVICE (port map: ENTRY)").
std::vector<ListedPort> MachinePorts(bool scan);

}  // namespace zbctl
