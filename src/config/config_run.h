// The commands that change a run's ports' settings or write their configuration files: an
// apply of field values, an import of a configuration file's settings, and an export. Each
// reads first (jobs/run/sequences.h) and checks the records with the configuration rules
// (config_rules.h) before anything is written. Main thread only; each throws
// std::system_error when a job cannot start.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "jobs/model/record_fields.h"
#include "jobs/run/port_run.h"

namespace zb {

// Checked field values, in the order the operator gave them.
using FieldValues = std::vector<FieldValue>;

// What follows the read: the write, the write and its read-back, or nothing: a dry run
// ends each port the rules take with the changes the write would make ("no change" when
// none), and refuses the others as the write would.
enum class WriteMode { Write, Verify, DryRun };

// Read, then each port's `values` (by COM number) written if the configuration rules take
// the record as it would be written.
void ApplyValues(PortRun& run, const std::map<std::int32_t, FieldValues>& values, WriteMode mode);
// Read, then `settings`, followed by each port's own `values` (by COM number), written to
// every port the configuration rules take them for.
void ImportSettings(PortRun& run, const ConfigSettings& settings, WriteMode mode,
                    const std::map<std::int32_t, FieldValues>& values = {});
// Read, then one configuration file per port into `folder`; none when a port failed.
void Export(PortRun& run, std::string folder);

}  // namespace zb
