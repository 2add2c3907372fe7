// The progress line's texts, from the counts a run has at one moment.
#include <gtest/gtest.h>

#include "cli/progress.h"

namespace {

using zbctl::Millis;

TEST(ProgressLine, SaysThePhaseThePortsTheTimeAndForUpgradesTheBytes) {
    const struct {
        zbctl::ProgressState state;
        std::string line;
    } cases[] = {
        {{"reading", 3, 1, 16, Millis{7'900}, 0, 0, {}},
         "reading: 3 done, 1 failed, 16 ports, 0:07"},
        {{"upgrading", 0, 0, 1, Millis{61'000}, 0, 16'416, {}},
         "upgrading: 0 done, 0 failed, 1 port, 1:01; 0 B of 16.0 KB sent"},
        {{"upgrading", 0, 0, 16, Millis{1'000}, 0, 16'416, {}, true},
         "upgrading: 0 done, 0 failed, 16 ports, 0:01; 0 B sent"},
        {{"upgrading", 1000, 3, 1024, Millis{3'723'000}, 12'000'000, 16'809'984, Millis{21'000}},
         "upgrading: 1000 done, 3 failed, 1024 ports, 1:02:03; 11.4 MB of 16.0 MB sent, "
         "0:21 left"},
    };
    for (const auto& c : cases) EXPECT_EQ(zbctl::ProgressLineText(c.state), c.line);
}

TEST(ProgressLine, TimeLeftFollowsThePaceSoFar) {
    EXPECT_EQ(zbctl::TimeLeft(0, 1000, Millis{5000}), std::nullopt);
    EXPECT_EQ(zbctl::TimeLeft(250, 1000, Millis{5000}), Millis{15000});
    EXPECT_EQ(zbctl::TimeLeft(1000, 1000, Millis{5000}), Millis{0});
}

}  // namespace
