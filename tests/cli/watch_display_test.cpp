// What a station shows: its lines, its totals and a finished modem's line, as text that
// stays on one line whatever a modem said.
#include <gtest/gtest.h>

#include "cli/watch_display.h"

namespace {

using zbctl::StationState;

TEST(WatchDisplay, StationLinesAndTotals) {
    const struct {
        zbctl::StationLine line;
        std::string shown;
    } rows[] = {
        {{3, 0, StationState::Waiting, 0, ""}, "COM3    -     waiting"},
        {{8, 1, StationState::Connecting, 0, ""}, "COM8    #1    connecting"},
        {{12, 7, StationState::Upgrading, 42, ""}, "COM12   #7    upgrading 42%"},
        {{1024, 100, StationState::Verifying, 0, ""}, "COM1024 #100  verifying"},
        {{5, 2, StationState::Fail, 0, "Apply settings fail.\n"},
         "COM5    #2    FAIL Apply settings fail.\\x0a"},
        {{5, 0, StationState::Skipped, 0, "passed before"}, "COM5    -     skipped: passed before"},
    };
    for (const auto& row : rows) EXPECT_EQ(zbctl::RenderStationLine(row.line), row.shown);

    const std::pair<zbctl::WatchTotals, std::string> totals[] = {
        {{3, 2, 1, {42, 7, 41}, 0, ""},
         "passed 3, failed 2, failing now: COM7 COM41 COM42, running 1"},
        {{5, 1, 0, {}, 2, "3f2a"}, "passed 5, failed 1, 2 report rows not stored, run 3f2a"},
    };
    for (const auto& [sums, shown] : totals) EXPECT_EQ(zbctl::RenderTotals(sums), shown);
    EXPECT_EQ(zbctl::RenderStationTable({rows[0].line}, totals[1].first),
              "COM3    -     waiting\n" + totals[1].second + "\n");
}

TEST(WatchDisplay, AJobsMessagesGiveThePortsState) {
    using zb::RunPhase;
    const std::tuple<RunPhase, std::string_view, std::optional<StationState>> rows[] = {
        {RunPhase::Reading, "Inital serial port", StationState::Connecting},
        {RunPhase::Reading, "Get device's settings", StationState::Reading},
        {RunPhase::Reading, "Connection fail", std::nullopt},
        {RunPhase::Writing, "Apply device's settings", StationState::Writing},
        {RunPhase::Verifying, "Inital serial port", StationState::Verifying},
        {RunPhase::Upgrading, "Firmware upgrading...", StationState::Upgrading},
    };
    for (const auto& [phase, message, state] : rows)
        EXPECT_EQ(zbctl::StateOfMessage(phase, message), state) << message;
}

TEST(WatchDisplay, AFinishedModemIsOneLineOfTextOrJson) {
    zbctl::PortResult result;
    result.com = 9;
    result.message = "Verify fail";
    result.verified = true;
    result.diffs = {{"channel", "5", "0"}};
    const zb::RunLabel label{"3f2a", {{"line", "7"}}};
    EXPECT_EQ(zbctl::RenderFinished(result, 4, "/dev/x", label, false, true),
              "COM9 #4 FAIL Verify fail: channel sent 5, read 0\n");
    const std::string json = zbctl::RenderFinished(result, 4, "/dev/x\n", label, true, true);
    EXPECT_EQ(json.rfind("{\"com\":9,\"ok\":false,\"message\":\"Verify fail\",", 0), 0u) << json;
    EXPECT_NE(json.find(R"(,"n":4,"path":"/dev/x\n","run_id":"3f2a","tags":{"line":"7"}})"),
              std::string::npos)
        << json;
    EXPECT_EQ(json.find('\n'), json.size() - 1) << json;
}

}  // namespace
