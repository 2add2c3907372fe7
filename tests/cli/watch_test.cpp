// zbctl watch as a station runs it: the built binary on a private port map, with virtual
// modems plugged in and out while it watches.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../config/config_examples.h"
#include "firmware_image.h"
#include "scratch_dir.h"
#include "sim/simulator.h"
#include "spawned_program.h"
#include "wait_until.h"

namespace {

using zbtest::ReadAll;

class Watch : public ::testing::Test {
protected:
    // Modems COM first .. first+count-1, all unplugged, then `zbctl watch ARGS` until it
    // watches.
    void Begin(int count, int first, std::vector<std::string> args, bool pauses = false) {
        ASSERT_FALSE(dir_.empty());
        zbsim::SimOptions options;
        options.count = count;
        options.first_com = first;
        options.ports_dir = dir_;
        options.pacing = false;
        options.unplugged = true;
        sim_ = std::make_unique<zbsim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->start(&error)) << error;

        args.insert(args.begin(), {ZBCTL_PATH, "--ports-dir", dir_, "watch"});
        if (!pauses) args.insert(args.begin() + 1, "--no-pauses");
        pid_ = zbtest::SpawnProgram(std::move(args), Out(), Err());
        ASSERT_NE(pid_, -1);
        ASSERT_TRUE(Said(Err(), "watching for ports")) << ReadAll(Err());
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    void Plug(int com) {
        std::string error;
        ASSERT_TRUE(sim_->plug(com, &error)) << error;
    }
    bool Said(const std::string& file, const std::string& text) {
        return zbtest::WaitUntil([&] { return ReadAll(file).find(text) != std::string::npos; });
    }
    // Ctrl-C, and the exit status once the program has ended.
    int Interrupt() {
        ::kill(pid_, SIGINT);
        int status = 0;
        EXPECT_EQ(::waitpid(pid_, &status, 0), pid_);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Out() const { return dir_ + "/stdout"; }
    std::string Err() const { return dir_ + "/stderr"; }

    zbtest::ScratchDir scratch_{"zbctl-watch"};
    std::string dir_ = scratch_.path();
    std::unique_ptr<zbsim::Simulator> sim_;
    pid_t pid_ = -1;
};

TEST_F(Watch, ModemsPluggedOneAfterAnotherAreEachConfiguredVerifiedAndReported) {
    const std::string report = dir_ + "/line.csv";
    Begin(3, 21, {"--report", report, "--json", "--verify", "--set", "devname=ST-{n}-{com}"});
    for (int com = 21; com <= 23; ++com) {
        Plug(com);
        const std::string n = std::to_string(com - 20);
        ASSERT_TRUE(Said(Out(), "\"com\":" + std::to_string(com) + ",\"ok\":true"))
            << ReadAll(Err());
        EXPECT_EQ(sim_->snapshot(com).settings.devname, "ST-" + n + "-" + std::to_string(com));
    }
    EXPECT_EQ(Interrupt(), 0);
    // One JSON object per modem and line, each with its place and its port's stable path.
    const std::string out = ReadAll(Out());
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3) << out;
    EXPECT_NE(out.find("\"n\":3,\"path\":\"" + dir_ + "/by-id/zbsim-COM23\""), std::string::npos)
        << out;
    EXPECT_NE(out.find("\"verify\":{\"ok\":true,\"diffs\":[]}"), std::string::npos) << out;
    EXPECT_NE(ReadAll(Err()).find("passed 3, failed 0, run "), std::string::npos) << ReadAll(Err());
    const std::string rows = ReadAll(report);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 4) << rows;  // the header and 3 rows
}

TEST_F(Watch, AModemUnpluggedMidWriteFailsWithItsReasonWhileTheOthersPass) {
    Begin(3, 31, {"--set", "channel=17"});
    // Slow replies keep COM32 in its writes long enough to pull it out there.
    sim_->add_fault(32, zbsim::Fault::Paused(zbsim::FaultKind::Gap, 100));
    for (int com = 31; com <= 33; ++com) Plug(com);
    // The connection check and twenty reads, then the writes.
    ASSERT_TRUE(zbtest::WaitUntil([&] { return sim_->snapshot(32).commands > 23; }));
    sim_->unplug(32);
    ASSERT_TRUE(Said(Out(), "COM32 #")) << ReadAll(Err());
    ASSERT_TRUE(Said(Out(), "COM31 #1 PASS"));
    ASSERT_TRUE(Said(Out(), "COM33 #3 PASS"));
    EXPECT_EQ(Interrupt(), 1);
    const std::string out = ReadAll(Out());
    EXPECT_NE(out.find("COM32 #2 FAIL Apply settings fail. (port removed)\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("passed 2, failed 1, failing now: COM32, run "), std::string::npos) << out;
    EXPECT_EQ(sim_->snapshot(33).settings.channel, 17);
}

TEST_F(Watch, OnceSkipsARepluggedModemThatPassed) {
    Begin(1, 41, {"--once", "--report", dir_ + "/r.csv", "--set", "lnodeid=5"});
    std::filesystem::create_directory(dir_ + "/r.csv");  // the modem passes; its row is lost
    Plug(41);
    ASSERT_TRUE(Said(Out(), "COM41 #1 PASS")) << ReadAll(Err());
    sim_->unplug(41);
    ASSERT_TRUE(Said(Err(), "COM41   #1    waiting"));
    Plug(41);
    ASSERT_TRUE(Said(Err(), "skipped: passed before")) << ReadAll(Err());
    EXPECT_EQ(Interrupt(), 1);
    EXPECT_NE(ReadAll(Out()).find("COM41 #1 PASS Apply device's settings\npassed 1, failed 0, 1 "
                                  "report row not stored, run "),
              std::string::npos)
        << ReadAll(Out());
    EXPECT_EQ(sim_->snapshot(41).restarts, 1u);
}

TEST_F(Watch, AModemPulledBeforeItsPortOpensFailsAsRemovedAndTheNextOnePasses) {
    Begin(1, 61, {"--set", "channel=17"}, true);
    Plug(61);
    // The job's pauses come before its open.
    ASSERT_TRUE(Said(Err(), "COM61   #1    connecting")) << ReadAll(Err());
    sim_->unplug(61);
    ASSERT_TRUE(Said(Out(), "COM61 #1 FAIL Open port fail (port removed)\n")) << ReadAll(Out());
    Plug(61);
    ASSERT_TRUE(Said(Out(), "COM61 #2 PASS")) << ReadAll(Err());
    EXPECT_EQ(Interrupt(), 1);
    // The port fails no more; the modem that failed still counts.
    EXPECT_NE(ReadAll(Out()).find("passed 1, failed 1, run "), std::string::npos) << ReadAll(Out());
}

TEST_F(Watch, ImportWithSetGivesTheFilesSettingsThenEachModemsValues) {
    const std::string file = dir_ + "/line.ini";
    zbtest::Spit(file, zbtest::ExampleWith({{"Device Name", "L8-{com}"}}));
    Begin(1, 71, {"--import", file, "--set", "channel=17", "--set", "lnodeid={com}"});
    Plug(71);
    ASSERT_TRUE(Said(Out(), "COM71 #1 PASS")) << ReadAll(Err());
    const auto got = sim_->snapshot(71).settings;
    EXPECT_EQ(std::tie(got.devname, got.channel, got.lnodeid),
              std::make_tuple(std::string("L8-{com}"), 17, 71));
}

TEST_F(Watch, DryRunShowsEachModemsChangesAndWritesNothing) {
    Begin(1, 51, {"--dry-run", "--report", dir_ + "/r.csv", "--set", "channel=17"});
    Plug(51);
    ASSERT_TRUE(Said(Out(), "COM51 #1 PASS would change: channel: 11 \u2192 17\n"))
        << ReadAll(Out());
    EXPECT_EQ(Interrupt(), 0);
    EXPECT_EQ(sim_->snapshot(51).settings.channel, 11);
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/r.csv"));
}

TEST_F(Watch, CtrlCWaitsForTheRunningJobs) {
    const std::string image = dir_ + "/fw.rom";
    ASSERT_TRUE(zbtest::WriteFile(image, zbtest::MakeImage("0101", zbtest::PatternBody(4096))));
    // With the real pauses a job takes seconds: the interrupt comes in the middle of it.
    const std::string report = dir_ + "/line.csv";
    Begin(1, 51, {"--report", report, "--upgrade", image, "--set", "panid=0x1234"}, true);
    Plug(51);
    ASSERT_TRUE(zbtest::WaitUntil([&] { return sim_->snapshot(51).commands > 0; }));
    EXPECT_EQ(Interrupt(), 0) << ReadAll(Err());
    EXPECT_NE(ReadAll(Err()).find("no new ports; waiting for the running jobs"), std::string::npos);
    EXPECT_NE(ReadAll(Out()).find("COM51 #1 PASS"), std::string::npos) << ReadAll(Err());
    // The upgrade first, then the settings.
    EXPECT_EQ(sim_->snapshot(51).upgrades, 1u);
    EXPECT_EQ(sim_->snapshot(51).settings.fw_version, "SIM 2.0.0");
    EXPECT_EQ(sim_->snapshot(51).settings.panid, 0x1234);
    // One row for the modem: the settings' row, with the firmware it had and has.
    const std::string rows = ReadAll(report);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 2) << rows;
    EXPECT_NE(rows.find(",apply,1,ok,Apply device's settings,SIM 1.0.0,SIM 2.0.0,"),
              std::string::npos)
        << rows;
}

}  // namespace
