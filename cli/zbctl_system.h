// zbctl's dealings with the operating system, one source file per platform (zbctl_posix.cpp,
// zbctl_win32.cpp): interrupts, the descriptor limit, the port map of --ports-dir, the check
// of the ports before any is touched, and the list of the machine's ports. Files and folders
// are checked by the jobs layer (jobs/file_storage.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zbctl {

// While it exists, the first interrupt (Ctrl-C or Ctrl-Break; on POSIX SIGINT or SIGTERM)
// calls `stop`, and a second one calls `print_so_far` and ends the program with 128 + the
// signal's number (SIGINT 2, SIGBREAK 21), without waiting for the workers. Both are called
// on a thread of their own. Made before any worker thread exists; one at a time.
class StopOnSignal {
public:
    StopOnSignal(std::function<void()> stop, std::function<void()> print_so_far);
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// A thousand ports need a thousand descriptors, more than a POSIX process may open by
// default; raises the limit as far as allowed. Windows has no such limit.
void RaiseDescriptorLimit();

// --ports-dir: makes `dir` the port map of this run. Before any thread runs.
bool UsePortsDir(const std::string& dir, std::string* error);

// Refuses a port whose device is missing or not accessible, or whose port-map entry leads
// to something else than a device: it is bad input, refused before any port is touched.
bool CheckPorts(const std::vector<std::int32_t>& coms, std::string* error);

struct ListedPort {
    std::int32_t com = 0;
    std::string path;
    std::string description;  // may be empty
};
// The port map's entries, or with `scan` the machine's serial ports as a scan numbers them
// (writing the entries of devices the map lacks), with their descriptions.
std::vector<ListedPort> MachinePorts(bool scan);

}  // namespace zbctl
