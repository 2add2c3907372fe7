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
        {{12, 7, StationState::Upgrading, 42, ""}, "COM12   #7    upgrading 42%"},
        {{1024, 100, StationState::Verifying, 0, ""}, "COM1024 #100  verifying"},
        {{5, 2, StationState::Fail, 0, "Apply settings fail.\n"},
         "COM5    #2    FAIL Apply settings fail.\\x0a"},
        {{5, 0, StationState::Skipped, 0, "passed before"}, "COM5    -     skipped: passed before"},
    };
    for (const auto& row : rows) EXPECT_EQ(zbctl::RenderStationLine(row.line), row.shown);

    zbctl::WatchTotals totals;
    totals.passed = 3;
    totals.failed = 2;
    totals.failed_coms = {7, 4};
    totals.running = 1;
    EXPECT_EQ(zbctl::RenderStationTable({rows[0].line}, totals),
              "COM3    -     waiting\npassed 3, failed 2 (COM7 COM4), running 1\n");
}

TEST(WatchDisplay, AFinishedModemIsOneLineOfTextOrJson) {
    zbctl::PortResult result;
    result.com = 9;
    result.message = "Verify fail";
    result.verified = true;
    result.diffs = {{"channel", "5", "0"}};
    EXPECT_EQ(zbctl::RenderFinished(result, 4, "/dev/x", false, true),
              "COM9 #4 FAIL Verify fail: channel sent 5, read 0\n");
    const std::string json = zbctl::RenderFinished(result, 4, "/dev/x\n", true, true);
    EXPECT_EQ(json.rfind("{\"com\":9,\"ok\":false,\"message\":\"Verify fail\",", 0), 0u) << json;
    EXPECT_NE(json.find(",\"n\":4,\"path\":\"/dev/x\\n\"}\n"), std::string::npos) << json;
    EXPECT_EQ(json.find('\n'), json.size() - 1) << json;
}

}  // namespace
