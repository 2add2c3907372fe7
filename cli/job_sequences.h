// What each of zbctl's commands does with the ports of a run: the jobs it runs one after
// another, and when each port's part is over. The results themselves are kept by the run
// (port_run.h). Main thread only.
#pragma once

#include <cstdint>
#include <map>

#include "cli/cli_args.h"
#include "cli/port_run.h"
#include "config/config_file.h"

namespace zbctl {

// One try of `inv`'s command over run.coms(): read, apply (with each port's checked --set
// values from `port_sets`), import (`import`), upgrade or export. Help, Version and Ports
// run no jobs. Throws std::system_error when a job cannot start.
void RunSequence(PortRun& run, const Invocation& inv, const zb::ConfigSettings& import,
                 const std::map<std::int32_t, Sets>& port_sets);

}  // namespace zbctl
