// What each command does with the ports of a run: the jobs it runs one after another, and
// when each port's part is over. The results themselves are kept by the run (port_run.h).
// zbctl runs a command's whole sequence; the window runs the phases it needs between its
// own dialogs. Each throws std::system_error when a job cannot start.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/config_file.h"
#include "jobs/model/record_fields.h"
#include "jobs/run/port_run.h"

namespace zb {

// Checked field values, in the order the operator gave them.
using FieldValues = std::vector<FieldValue>;

// A read job over the run's ports; each port's part ends with it.
void ReadPorts(PortRun& run);
// Read, then each port's `values` (by COM number) written if the configuration rules take
// the record as it would be written; with `verify` read back.
void ApplyValues(PortRun& run, const std::map<std::int32_t, FieldValues>& values, bool verify);
// Read, then `settings` written to every port the configuration rules take them for.
void ImportSettings(PortRun& run, const ConfigSettings& settings, bool verify);
// With a report, a read for the versions before; the upgrade with `image`; then the ports
// that took it read again.
void Upgrade(PortRun& run, const std::string& image);
// Read, then one configuration file per port into `folder`; none when a port failed.
void Export(PortRun& run, std::string folder);

// The apply job over the ports still marked, whose records hold what to write; with
// `verify` the written fields are read back.
void WriteChanges(PortRun& run, bool verify);
// Ends an upgrade whose job is over: a port that took the image ends well, with the version
// it reports now when it is in `read_again` (read since).
void FinishUpgrade(PortRun& run, const std::set<std::int32_t>& read_again);

}  // namespace zb
