// The upgrade step and the image check, against a virtual modem and its loader.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

#include "job_test_support.h"
#include "jobs/engine/job_engine.h"
#include "jobs/engine/steps.h"
#include "wait_until.h"

namespace zbtest {
namespace {

using Strings = std::vector<std::string>;

struct UpgradeRun {
    RecordingReporter reporter;
    zb::PortTable table = TableWith({1});
    std::unique_ptr<zb::JobEngine> job;

    explicit UpgradeRun(const std::string& image) { Run(image); }
    UpgradeRun() = default;
    // The link the job left open goes with the run, so that a test's next run can open the
    // port again.
    ~UpgradeRun() { zb::RemovePort(table[0]); }
    UpgradeRun(const UpgradeRun&) = delete;
    UpgradeRun& operator=(const UpgradeRun&) = delete;
    void Run(const std::string& image) {
        Rec(table, 1).upgrade_pending = true;
        job = std::make_unique<zb::JobEngine>(reporter);
        RunJob(*job, table, 1, image);
    }
    zb::DeviceRecord& record() { return Rec(table, 1); }
    std::vector<std::uint64_t> Acked() const {
        std::vector<std::uint64_t> out;
        for (const Event& e : reporter.EventsOf(1, Event::Progress)) out.push_back(e.done);
        return out;
    }
};

TEST(Upgrade, HeaderAndFourKilobytesGoAsThirtyThreeBlocks) {
    const auto modems = Ports().StartModems(1);
    const std::vector<std::uint8_t> bytes = MakeImage("0101", PatternBody(4096), "SIM 3.1.4");
    TempFile image(bytes);
    UpgradeRun run(image.path());

    EXPECT_EQ(run.reporter.Messages(1), (Strings{"Inital serial port", "Device synchronizing...",
                                                 "Firmware upgrading...", "Upgrade successfully"}));
    EXPECT_EQ(run.job->FailCount(), 0u);
    const auto progress = run.reporter.EventsOf(1, Event::Progress);
    ASSERT_EQ(progress.size(), 34u);  // 0 / 4128, then one per block
    EXPECT_EQ(progress.front().done, 0u);
    for (const Event& e : progress) EXPECT_EQ(e.total, 4128u);
    for (std::size_t i = 1; i < 33; ++i) EXPECT_EQ(progress[i].done, 128u * i);
    EXPECT_EQ(progress.back().done, 4128u);

    const auto bars = run.reporter.EventsOf(1, Event::Bar);
    EXPECT_EQ(bars.front().bar.max, 32u);
    EXPECT_EQ(bars.back().bar.position, 32u);
    EXPECT_EQ(bars.size(), 34u);  // the maximum, then a step per block

    const zbsim::ModemSnapshot snap = modems->snapshot(1);
    EXPECT_EQ(snap.blocks_acked, 33u);
    EXPECT_EQ(snap.upgrades, 1u);
    EXPECT_EQ(snap.settings.fw_version, "SIM 3.1.4");
    ASSERT_GE(snap.image.size(), bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), snap.image.begin()));
    EXPECT_EQ(run.reporter.ModeChanges(),
              (std::vector<zb::JobMode>{zb::JobMode::Upgrading, zb::JobMode::Normal}));
    EXPECT_FALSE(run.record().job_failed || run.record().upgrade_wait);
}

TEST(Upgrade, NakMakesTheSameBlockGoAgain) {
    const auto modems = Ports().StartModems(1);
    // Twice: a loader may ask for a block as often as it likes.
    modems->add_fault(1, zbsim::Fault::Counted(zbsim::FaultKind::NakBlock, 5));
    modems->add_fault(1, zbsim::Fault::Counted(zbsim::FaultKind::NakBlock, 5));
    TempFile image(MakeImage("0101", PatternBody(1000)));
    UpgradeRun run(image.path());
    EXPECT_EQ(run.reporter.Messages(1).back(), "Upgrade successfully");
    // The loader would cancel a resend under another number; the bar does not move for it.
    const std::vector<std::uint64_t> acked = run.Acked();
    EXPECT_EQ(acked,
              (std::vector<std::uint64_t>{0, 128, 256, 384, 512, 640, 768, 896, 1024, 1032}));
    EXPECT_EQ(modems->snapshot(1).upgrades, 1u);
}

TEST(Upgrade, StopRequestEndsAtTheNextBlockBoundary) {
    const auto modems = Ports().StartModems(1);
    TempFile image(MakeImage("0101", PatternBody(4096)));
    UpgradeRun run;
    run.reporter.on_progress = [&](std::int32_t, std::uint64_t done) {
        if (done == std::uint64_t{5} * 128) run.job->RequestAbort();
    };
    run.Run(image.path());

    EXPECT_EQ(run.reporter.Messages(1).back(), "User abort");
    ASSERT_FALSE(run.Acked().empty());
    EXPECT_EQ(run.Acked().back(), 5u * 128);
    zb::DeviceRecord& r = run.record();
    EXPECT_TRUE(r.job_failed && r.upgrade_wait && !r.connected);
    EXPECT_EQ(run.job->FailCount(), 1u);
    EXPECT_EQ(r.progress_bar->State().position, 32u);
    const zbsim::ModemSnapshot snap = modems->snapshot(1);
    EXPECT_EQ(snap.blocks_acked, 5u);
    EXPECT_EQ(snap.mode, zbsim::ModemMode::Loader);
    EXPECT_EQ(snap.upgrades, 0u);

    // The device now answers from its loader; a new upgrade job is accepted and finishes.
    run.reporter.Clear();
    run.reporter.on_progress = nullptr;
    zb::UnmarkPort(run.table[0]);
    zb::MarkPort(run.table[0]);
    run.Run(image.path());
    EXPECT_EQ(run.reporter.Messages(1).back(), "Upgrade successfully");
    EXPECT_FALSE(r.upgrade_wait || r.job_failed);
    EXPECT_EQ(modems->snapshot(1).upgrades, 1u);
}

// The window's X while a loader holds the transfer: one NAKs every block, the
// other sends junk instead of its 'C'.
TEST(Upgrade, StopRequestEndsATransferThatTheLoaderHolds) {
    struct Case {
        zbsim::FaultKind kind;
        const char* holding;  // the port's message once the loader holds the transfer
    };
    for (const Case& c : {Case{zbsim::FaultKind::NakAll, "Firmware upgrading..."},
                          Case{zbsim::FaultKind::SyncJunk, "Device synchronizing..."}}) {
        SCOPED_TRACE(c.holding);
        // Paced: ten resends take over 100 ms on the wire, so the stop comes before their
        // limit ends the transfer.
        const auto modems = Ports().StartModems(1, 1, true);
        modems->add_fault(1, zbsim::Fault::Paused(c.kind, 10));
        TempFile image(MakeImage("0101", PatternBody(1000)));
        UpgradeRun run;
        run.record().upgrade_pending = true;
        run.job = std::make_unique<zb::JobEngine>(run.reporter);
        run.job->LoadPorts(run.table);
        run.job->SetPortCount(1);
        run.job->SetFirmwareFile(image.path());
        run.job->Start();

        EXPECT_TRUE(zbtest::WaitUntil([&] {
            const Strings messages = run.reporter.Messages(1);
            return std::find(messages.begin(), messages.end(), c.holding) != messages.end();
        }));
        run.job->RequestAbort();
        if (!zbtest::WaitUntil([&] { return !run.job->IsRunning(); }, std::chrono::seconds(10))) {
            ADD_FAILURE() << "the job did not stop";
            modems->stop();  // the worker's reads then fail, and it ends
        }
        run.job->Wait();

        EXPECT_EQ(run.reporter.Messages(1).back(), "User abort");
        zb::DeviceRecord& r = run.record();
        EXPECT_TRUE(r.job_failed && r.upgrade_wait && !r.connected);
        EXPECT_EQ(run.job->FailCount(), 1u);
        EXPECT_EQ(r.progress_bar->State().position, r.progress_bar->State().max);
        const zbsim::ModemSnapshot snap = modems->snapshot(1);
        EXPECT_EQ(snap.blocks_acked, 0u);
        EXPECT_EQ(snap.mode, zbsim::ModemMode::Loader);
    }
}

TEST(Upgrade, LoaderCancelGivesDeviceResponseFail) {
    const auto modems = Ports().StartModems(1);
    modems->add_fault(1, zbsim::Fault::Counted(zbsim::FaultKind::CanBlock, 3));
    TempFile image(MakeImage("0101", PatternBody(1000)));
    UpgradeRun run(image.path());
    EXPECT_EQ(run.reporter.Messages(1).back(), "Device response fail");
    EXPECT_EQ(run.job->FailCount(), 1u);
    EXPECT_TRUE(run.record().job_failed);
}

TEST(Upgrade, FileThatShrinksDuringTheTransferEndsWithReadFileFail) {
    const auto modems = Ports().StartModems(1);
    // Larger than the stdio buffer, so the cut is seen by a later read.
    TempFile image(MakeImage("0101", PatternBody(std::size_t{64} * 1024)));
    UpgradeRun run;
    run.reporter.on_progress = [&](std::int32_t, std::uint64_t done) {
        if (done == std::uint64_t{2} * 128) image.Truncate(1000);
    };
    run.Run(image.path());
    EXPECT_EQ(run.reporter.Messages(1).back(), "Read file fail");
    EXPECT_EQ(run.job->FailCount(), 1u);
}

TEST(Upgrade, BodyNotAMultipleOfFourIsPaddedForItsChecksum) {
    const auto modems = Ports().StartModems(1);
    TempFile image(MakeImage("0101", PatternBody(4097)));
    UpgradeRun run(image.path());
    EXPECT_EQ(run.reporter.Messages(1).back(), "Upgrade successfully");
    EXPECT_EQ(modems->snapshot(1).upgrades, 1u);
}

TEST(Upgrade, RefusedUpgradeRequestOrReset) {
    for (const char* code : {"XF", "SR"}) {
        const auto modems = Ports().StartModems(1);
        modems->add_fault(1, zbsim::Fault::Refusing(code));
        TempFile image(MakeImage("0101", PatternBody(256)));
        UpgradeRun run(image.path());
        EXPECT_EQ(run.reporter.Messages(1).back(),
                  std::string(code) == "XF" ? "Request upgrade fail" : "System reset fail");
        EXPECT_EQ(run.job->FailCount(), 1u);
        EXPECT_EQ(modems->snapshot(1).mode, zbsim::ModemMode::Application);
    }
}

struct ImageCase {
    const char* name;
    std::vector<std::uint8_t> bytes;  // empty with `missing`: no such file
    bool missing = false;
    bool refuse_type_request = false;
    const char* message;
};

TEST(Upgrade, EveryImageCheckFailureSendsNothing) {
    std::vector<ImageCase> cases;
    cases.push_back({"missing file", {}, true, false, "Open file fail"});
    cases.push_back({"empty file", {}, false, false, "File size is invalid"});
    cases.push_back({"other type", MakeImage("0202", PatternBody(256)), false, false,
                     "Firmware type is invalid"});
    cases.push_back({"type not hex", MakeImage("ZZZZ", PatternBody(256)), false, false,
                     "Firmware type is invalid"});
    cases.push_back({"device refuses type request", MakeImage("0101", PatternBody(256)), false,
                     true, "Divce verification fail"});
    {
        auto bytes = MakeImage("0101", PatternBody(256));
        bytes.push_back(0);
        cases.push_back({"longer than announced", bytes, false, false, "File size is invalid"});
    }
    cases.push_back({"shorter than a header",
                     {'0', '1', '0', '1', 0, 0},
                     false,
                     false,
                     "File size is invalid"});
    {
        auto bytes = MakeImage("0101", PatternBody(256));
        bytes[16] ^= 1;
        cases.push_back({"wrong checksum", bytes, false, false, "Checksum is invalid"});
    }

    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto modems = Ports().StartModems(1);
        if (c.refuse_type_request) modems->add_fault(1, zbsim::Fault::Refusing("DS"));
        TempFile file(c.bytes);
        UpgradeRun run(c.missing ? file.path() + ".none" : file.path());
        EXPECT_EQ(run.reporter.Messages(1).back(), c.message);
        EXPECT_EQ(run.job->FailCount(), 1u);
        EXPECT_TRUE(run.record().job_failed);
        EXPECT_EQ(run.record().progress_bar->State().position,
                  run.record().progress_bar->State().max);
        EXPECT_EQ(CountRequests(*modems, 1, {"XF"}), 0);
        EXPECT_EQ(modems->snapshot(1).mode, zbsim::ModemMode::Application);
    }
}

TEST(Upgrade, DirectoryIsNotAnImage) {
    const auto modems = Ports().StartModems(1);
    const std::string dir = Ports().path() + "/image-dir";
    std::filesystem::create_directory(dir);
    UpgradeRun run(dir);
    EXPECT_EQ(run.reporter.Messages(1).back(), "Open file fail");
    std::filesystem::remove(dir);
}

}  // namespace
}  // namespace zbtest
