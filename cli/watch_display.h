// What `zbctl watch` shows: a station port's line (on a terminal, the live table redrawn in
// place; otherwise one line per event), the totals, and the line each finished modem adds
// to stdout, as text or as one JSON object (JSON Lines). Pure formatting; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_output.h"
#include "jobs/report/report_row.h"
#include "jobs/run/port_run.h"

namespace zbctl {

// Connecting: the port is opened and the modem's answer awaited. Verifying: the read-back
// of the written fields, from its opening of the port on.
enum class StationState {
    Waiting,
    Connecting,
    Upgrading,
    Reading,
    Writing,
    Verifying,
    Pass,
    Fail,
    Skipped
};

// The state a port's message in a job of phase `phase` puts it in; none for a message that
// leaves the state as it is (a failure's, which the modem's end shows).
std::optional<StationState> StateOfMessage(zb::RunPhase phase, std::string_view message);

// One station port: the modem on it now, or the last one, and how far its job has got.
struct StationLine {
    std::int32_t com = 0;
    std::int32_t n = 0;  // the modem's place in the order of appearance, from 1; 0: none yet
    StationState state = StationState::Waiting;
    int percent = 0;     // Upgrading
    std::string reason;  // Fail, Skipped
};

struct WatchTotals {
    int passed = 0;
    int failed = 0;  // the modems that failed, however their ports have done since
    int running = 0;
    std::set<std::int32_t> failing;  // the ports whose latest modem failed
    int rows_lost = 0;               // report rows neither stored nor spooled
    std::string run_id;              // empty: not shown
};

// "COM5   #3   upgrading 42%", "COM6   #4   FAIL Apply settings fail.". One line, no end.
std::string RenderStationLine(const StationLine& line);
// "passed 3, failed 2, failing now: COM4 COM7, running 2, 3 report rows not stored, run
// 3f2a...". One line, no end.
std::string RenderTotals(const WatchTotals& totals);
// The live table: a line per station port in COM order, then the totals, each line ended.
std::string RenderStationTable(const std::vector<StationLine>& lines, const WatchTotals& totals);

// A finished modem on stdout: "COM5 #3 PASS <message>" (FAIL, and the fields a read-back
// found different), or with `json` one compact JSON object: the object `zbctl --json` gives
// a port (RenderJson) with "n", "path" (the port's stable path), "run_id" and, when there
// are tags, "tags" (an object) added. Ended by '\n'.
std::string RenderFinished(const PortResult& result, std::int32_t n, const std::string& path,
                           const zb::RunLabel& label, bool json, bool verify);

}  // namespace zbctl
