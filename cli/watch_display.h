// What `zbctl watch` shows: a station port's line (on a terminal, the live table redrawn in
// place; otherwise one line per event), the totals, and the line each finished modem adds
// to stdout, as text or as one JSON object (JSON Lines). Pure formatting; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_output.h"

namespace zbctl {

// Reading: a dry run's read, which writes nothing.
enum class StationState { Waiting, Upgrading, Reading, Writing, Verifying, Pass, Fail, Skipped };

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
    int failed = 0;
    int running = 0;
    std::vector<std::int32_t> failed_coms;  // in the order the modems failed, repeats kept
    int rows_lost = 0;                      // report rows neither stored nor spooled
};

// "COM5   #3   upgrading 42%", "COM6   #4   FAIL Apply settings fail.". One line, no end.
std::string RenderStationLine(const StationLine& line);
// "passed 3, failed 1 (COM7), running 2, 3 report rows not stored". One line, no end.
std::string RenderTotals(const WatchTotals& totals);
// The live table: a line per station port in COM order, then the totals, each line ended.
std::string RenderStationTable(const std::vector<StationLine>& lines, const WatchTotals& totals);

// A finished modem on stdout: "COM5 #3 PASS <message>" (FAIL, and the fields a read-back
// found different), or with `json` one compact JSON object: the object `zbctl --json` gives
// a port (RenderJson) with "n" and "path" (the port's stable path) added. Ended by '\n'.
std::string RenderFinished(const PortResult& result, std::int32_t n, const std::string& path,
                           bool json, bool verify);

}  // namespace zbctl
