// zbctl watch: the configuring station. It watches for serial ports that appear and gives
// each modem plugged in a job of its own at once, beside the jobs still running: the
// upgrade, then the settings of --set or --import, then the read-back. Each modem is shown
// and reported as it ends; the first interrupt stops taking new ports and waits for the
// running jobs, the second stops them as zbctl stops its jobs, a third ends the program.
//
// Runs on the main thread; each modem's job runs on a thread of its own.
#pragma once

#include <memory>

#include "cli/cli_args.h"
#include "jobs/report/report_sink.h"

namespace zbctl {

// Checks the input first (the image, the configuration file, the --set values): bad input
// is said on stderr and gives 2, before any port is touched. Then watches until stopped:
// 0 when no modem failed and the report took every row, 1 otherwise. `report`, opened by
// the caller (null: none), takes each modem's rows as it ends.
int Watch(const Invocation& inv, std::shared_ptr<zb::ReportSink> report);

}  // namespace zbctl
