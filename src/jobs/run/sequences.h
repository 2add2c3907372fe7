// What the commands do with the ports of a run: the jobs they run one after another, and
// when each port's part is over. The results themselves are kept by the run (port_run.h);
// the commands that change settings or write configuration files build on these
// (config/config_run.h). zbctl runs a command's whole sequence; the window runs the phases
// it needs between its own dialogs. Each throws std::system_error when a job cannot start.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "jobs/run/port_run.h"

namespace zb {

// A read job over the run's ports; each port's part ends with it.
void ReadPorts(PortRun& run);
// The read that begins a change: besides telling which ports answer, it gives each record
// the device's own values of what the change leaves alone (the local node ID of an import,
// all but the given fields of an apply), so that the apply writes them back unchanged. A
// port not read is finished here. False when the job could not run.
bool ReadBeforeChange(PortRun& run);
// With a report, a read for the versions before; the upgrade with `image`; then the ports
// that took it read again.
void Upgrade(PortRun& run, const std::string& image);

// The apply job over the ports still marked, whose records hold what to write; with
// `verify` the written fields are read back.
void WriteChanges(PortRun& run, bool verify);
// Ends an upgrade whose job is over: a port that took the image ends well, with the version
// it reports now when it is in `read_again` (read since).
void FinishUpgrade(PortRun& run, const std::set<std::int32_t>& read_again);

}  // namespace zb
