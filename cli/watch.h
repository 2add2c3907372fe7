// zbctl watch: the configuring station. It watches for serial ports that appear and gives
// each modem plugged in a job of its own at once, beside the jobs still running: the
// upgrade, then the settings of --set or --import, then the read-back. Each modem is shown
// and reported as it ends; the first interrupt stops taking new ports and waits for the
// running jobs, the second stops them as zbctl stops its jobs, a third ends the program.
//
// Runs on the main thread; each modem's job runs on a thread of its own.
#pragma once

#include <functional>
#include <memory>

#include "cli/cli_args.h"
#include "jobs/report/report_sink.h"

namespace zbctl {

// Opens the report once the input is checked: false when it cannot be written, and the
// caller has said why; true with a null sink for no report.
using ReportOpener = std::function<bool(std::unique_ptr<zb::ReportSink>*)>;

// Checks the input first (the image, the configuration file, the --set values): bad input
// is said on stderr and gives 2, before any port is touched or the report opened. Then
// `open_report` (2 when it fails), whose sink takes each modem's rows as it ends, and
// watches until stopped: 0 when no modem failed and the report took every row, 1 otherwise.
int Watch(const Invocation& inv, const ReportOpener& open_report);

}  // namespace zbctl
