// Whole jobs against virtual modems: the worker's algorithm, isolation, counters, flags
// and the reports of each port in order.
#include <chrono>
#include <climits>

#include <gtest/gtest.h>

#include "job_test_support.h"
#include "jobs/engine/job_engine.h"
#include "jobs/engine/port_job.h"
#include "jobs/engine/steps.h"
#include "jobs/run/port_result.h"
#include "protocol/serial_link.h"

namespace zbtest {
namespace {

using Strings = std::vector<std::string>;

TEST(JobEngine, MixedJobReadsAppliesAndUpgradesAtOnce) {
    const auto modems = Ports().StartModems(3);
    TempFile image(MakeImage("0101", PatternBody(1000)));
    zb::PortTable table = TableWith({1, 2, 3});
    zb::DeviceRecord& to_apply = Rec(table, 2);
    zb::SetText(to_apply.devname, "LINE-2");
    to_apply.channel = 4;
    to_apply.panid = 0x2222;
    to_apply.startbyte = 0x7E;
    to_apply.apply_pending = true;
    Rec(table, 3).upgrade_pending = true;

    RecordingReporter reporter;
    zb::JobEngine job(reporter);
    RunJob(job, table, 3, image.path());

    EXPECT_EQ(job.FailCount(), 0u);
    EXPECT_EQ(job.ApplyFailCount(), 0u);
    EXPECT_FALSE(job.IsRunning());
    EXPECT_EQ(reporter.StartedComs(), (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_EQ(reporter.Messages(1), (Strings{"Inital serial port", "Get device's settings"}));
    EXPECT_EQ(reporter.Messages(2), (Strings{"Inital serial port", "Apply device's settings"}));
    EXPECT_EQ(reporter.Messages(3), (Strings{"Inital serial port", "Device synchronizing...",
                                             "Firmware upgrading...", "Upgrade successfully"}));
    EXPECT_EQ(reporter.Events().back().kind, Event::Finished);
    EXPECT_EQ(reporter.ModeChanges().back(), zb::JobMode::Normal);

    const zb::DeviceRecord& read = Rec(table, 1);
    EXPECT_TRUE(read.connected && read.is_open && !read.job_failed);
    EXPECT_EQ(zb::TextOf(read.devname), "SIM-1");
    EXPECT_EQ(read.panid, 0x1A2Bu);
    EXPECT_EQ(read.channel, 0);
    EXPECT_EQ(read.databit, 0);
    EXPECT_EQ(read.fw_type, 0x0101u);
    EXPECT_EQ(zb::TextOf(read.fw_version), "SIM 1.0.0");
    EXPECT_EQ(read.progress_bar->State().position, 20u);

    const zbsim::ModemSnapshot applied = modems->snapshot(2);
    EXPECT_EQ(applied.settings.channel, 15);
    EXPECT_EQ(applied.settings.panid, 0x2222);
    EXPECT_EQ(applied.settings.devname, "LINE-2");
    EXPECT_EQ(applied.restarts, 1u);
    EXPECT_FALSE(to_apply.apply_pending);
    EXPECT_EQ(to_apply.progress_bar->State().position, 16u);

    const zbsim::ModemSnapshot upgraded = modems->snapshot(3);
    EXPECT_EQ(upgraded.upgrades, 1u);
    EXPECT_EQ(upgraded.settings.fw_version, "SIM 2.0.0");
    EXPECT_FALSE(Rec(table, 3).upgrade_wait);
}

TEST(JobEngine, OneFailingModemLeavesTheOthersIntact) {
    const auto modems = Ports().StartModems(4);
    modems->add_fault(2, zbsim::Fault::Of(zbsim::FaultKind::Silent));
    modems->add_fault(3, zbsim::Fault::Refusing("ZP"));
    zb::PortTable table = TableWith({1, 2, 3, 4});
    zb::SetText(Rec(table, 3).devname, "OLD");
    Rec(table, 4).apply_pending = true;
    zb::SetText(Rec(table, 4).devname, "NEW-4");

    RecordingReporter reporter;
    zb::JobEngine job(reporter);
    RunJob(job, table, 4);

    EXPECT_EQ(job.FailCount(), 2u);
    EXPECT_EQ(job.ApplyFailCount(), 0u);

    EXPECT_EQ(reporter.Messages(1), (Strings{"Inital serial port", "Get device's settings"}));
    EXPECT_EQ(zb::TextOf(Rec(table, 1).devname), "SIM-1");
    EXPECT_FALSE(Rec(table, 1).job_failed);
    EXPECT_EQ(modems->snapshot(4).settings.devname, "NEW-4");
    EXPECT_FALSE(Rec(table, 4).job_failed);

    // Silent: the connection check fails, the port stays open.
    const zb::DeviceRecord& silent = Rec(table, 2);
    EXPECT_EQ(reporter.Messages(2), (Strings{"Inital serial port", "Connection fail"}));
    EXPECT_TRUE(silent.job_failed && silent.is_open && !silent.connected);
    EXPECT_TRUE(silent.link);
    EXPECT_EQ(reporter.EventsOf(2, Event::Failed).size(), 1u);

    // Refusing the tenth read: nine steps, then full; nothing of the attempt is stored.
    const zb::DeviceRecord& refusing = Rec(table, 3);
    EXPECT_EQ(reporter.Messages(3),
              (Strings{"Inital serial port", "Get device's settings", "Get settings fail"}));
    EXPECT_TRUE(refusing.job_failed);
    EXPECT_EQ(zb::TextOf(refusing.devname), "OLD");
    std::vector<std::uint32_t> positions;
    for (const Event& e : reporter.EventsOf(3, Event::Bar)) positions.push_back(e.bar.position);
    EXPECT_EQ(positions, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 20}));
    EXPECT_EQ(reporter.EventsOf(3, Event::Bar).front().bar.max, 20u);
}

// The engine keeps each port's result and last message, and a report row words an open
// failure with the note its record keeps.
TEST(JobEngine, OutcomesGiveEachPortsReportRow) {
    const auto modems = Ports().StartModems(3);
    modems->add_fault(2, zbsim::Fault::Refusing("ZP"));
    zb::ComHandle held;
    ASSERT_EQ(zb::com_open(3, &held), zb::ST_OK);
    zb::PortTable table = TableWith({1, 2, 3});
    RecordingReporter reporter;
    zb::JobEngine job(reporter);
    EXPECT_TRUE(job.Outcomes().empty());
    RunJob(job, table, 3);
    (void)zb::com_close(held);

    struct Want {
        std::int32_t com;
        bool ok;
        std::string outcome;
        std::string row;
        bool settings;
    };
    const Want want[] = {
        {1, true, "Get device's settings", "Get device's settings", true},
        {2, false, "Get settings fail", "Get settings fail", false},
        {3, false, "Open port fail", "Open port fail (already open in this program)", false},
    };
    const std::vector<zb::PortOutcome> outcomes = job.Outcomes();
    ASSERT_EQ(outcomes.size(), std::size(want));
    zb::RowContext context;
    context.command = "read";
    context.time = "2025-03-04T05:06:07Z";
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const zb::PortOutcome& o = outcomes[i];
        EXPECT_EQ(o.com, want[i].com);
        EXPECT_EQ(o.ok, want[i].ok) << o.com;
        EXPECT_EQ(o.message, want[i].outcome);
        context.device_read = o.ok;
        const zb::ReportRow row =
            zb::PortReportRow(zb::ResultOf(o, Rec(table, o.com)), Rec(table, o.com), context);
        EXPECT_EQ(row.com, o.com);
        EXPECT_EQ(row.ok, o.ok);
        EXPECT_EQ(row.message, want[i].row);
        EXPECT_EQ(row.settings.empty(), !want[i].settings) << o.com;
        // The row's time is when the port's part ended, not when the caller made the row.
        ASSERT_NE(o.updated, std::chrono::system_clock::time_point{}) << o.com;
        EXPECT_EQ(row.time, zb::ReportTime(o.updated));
    }
}

TEST(JobEngine, LoaderAnswerDuringAReadJob) {
    const auto modems = Ports().StartModems(2);
    modems->set_mode(1, zbsim::ModemMode::Loader);
    zb::PortTable table = TableWith({1, 2});
    Rec(table, 1).apply_pending = true;

    RecordingReporter reporter;
    zb::JobEngine job(reporter);
    RunJob(job, table, 2);

    const zb::DeviceRecord& waiting = Rec(table, 1);
    EXPECT_EQ(reporter.Messages(1), (Strings{"Inital serial port", "Waiting upgrade firmware"}));
    EXPECT_TRUE(waiting.job_failed && waiting.upgrade_wait && !waiting.connected);
    // Not applied, and the request is kept for a later job.
    EXPECT_TRUE(waiting.apply_pending);
    EXPECT_EQ(CountRequests(*modems, 1, {"SB"}), 0);
    EXPECT_EQ(job.FailCount(), 1u);
    EXPECT_EQ(job.ApplyFailCount(), 1u);
    EXPECT_EQ(reporter.Messages(2), (Strings{"Inital serial port", "Get device's settings"}));

    // Back in its application and checked afresh: upgrade_wait clears, the kept request
    // is applied, and job_failed starts clear again.
    modems->set_mode(1, zbsim::ModemMode::Application);
    zb::UnmarkPort(table[0]);
    zb::MarkPort(table[0]);
    zb::UnmarkPort(table[1]);
    reporter.Clear();
    RunJob(job, table, 1);
    EXPECT_EQ(reporter.Messages(1), (Strings{"Inital serial port", "Apply device's settings"}));
    EXPECT_FALSE(waiting.upgrade_wait || waiting.job_failed || waiting.apply_pending);
    EXPECT_TRUE(waiting.connected);
    EXPECT_EQ(job.FailCount(), 0u);
    EXPECT_EQ(reporter.StartedComs(), (std::vector<std::int32_t>{1}));
}

TEST(JobEngine, ConfigurationFlowAppliesOverTheLinksTheReadOpened) {
    const auto modems = Ports().StartModems(1);
    zb::PortTable table = TableWith({1});
    RecordingReporter reporter;
    zb::JobEngine job(reporter);
    RunJob(job, table, 1);
    ASSERT_EQ(job.FailCount(), 0u);
    const zb::ComHandle link = Rec(table, 1).link;

    zb::DeviceRecord& r = Rec(table, 1);
    r.channel = 15;
    r.security = true;
    zb::SetText(r.aeskey, "00112233445566778899AABBCCDDEEFF");
    r.apply_pending = true;
    reporter.Clear();
    RunJob(job, table, 1);

    EXPECT_EQ(job.ApplyFailCount(), 0u);
    EXPECT_EQ(reporter.Messages(1), (Strings{"Apply device's settings"}));
    EXPECT_EQ(r.link, link);
    EXPECT_EQ(CountRequests(*modems, 1, {"XT"}), 1);
    const zbsim::ModemSnapshot snap = modems->snapshot(1);
    EXPECT_EQ(snap.settings.channel, 26);
    EXPECT_TRUE(snap.settings.security);
    EXPECT_EQ(snap.settings.aeskey, "00112233445566778899AABBCCDDEEFF");
    EXPECT_EQ(snap.restarts, 1u);

    // A third job with nothing pending on an open port does nothing at all.
    reporter.Clear();
    RunJob(job, table, 1);
    EXPECT_TRUE(reporter.Messages(1).empty());
    zb::UnmarkPort(table[0]);
    EXPECT_FALSE(r.link || r.is_open || r.selected);
}

TEST(JobEngine, ApplyFailureStopsBeforeTheReset) {
    const auto modems = Ports().StartModems(2);
    modems->add_fault(1, zbsim::Fault::Refusing("ZP"));
    zb::PortTable table = TableWith({1, 2});
    for (std::int32_t com : {1, 2}) Rec(table, com).apply_pending = true;
    // A key shorter than 32 characters is refused before it is sent: write 16 fails.
    Rec(table, 2).security = true;
    zb::SetText(Rec(table, 2).aeskey, "0011");

    RecordingReporter reporter;
    zb::JobEngine job(reporter);
    RunJob(job, table, 2);

    EXPECT_EQ(job.ApplyFailCount(), 2u);
    EXPECT_EQ(job.FailCount(), 0u);
    for (std::int32_t com : {1, 2}) {
        EXPECT_EQ(reporter.Messages(com), (Strings{"Inital serial port", "Apply device's settings",
                                                   "Apply settings fail."}));
        EXPECT_TRUE(Rec(table, com).job_failed);
        EXPECT_FALSE(Rec(table, com).apply_pending);
        EXPECT_EQ(modems->snapshot(com).restarts, 0u);
        EXPECT_EQ(CountRequests(*modems, com, {"SR"}), 0);
    }
    const auto bars = reporter.EventsOf(1, Event::Bar);
    ASSERT_GE(bars.size(), 2u);
    EXPECT_EQ(bars[bars.size() - 2].bar.position, 10u);
    EXPECT_EQ(bars.back().bar.position, 16u);
    // The short key is found before the first write: nothing reaches the modem.
    EXPECT_EQ(CountClass(*modems, 2, 'S'), 0);
    EXPECT_EQ(reporter.EventsOf(2, Event::Bar).back().bar.position, 16u);
}

// The operator's stop, asked just before a modem's first write or just after it: the modem
// is left untouched or fully written and restarted, never in between. The stop outlasts the
// job: the next one touches no modem.
TEST(JobEngine, StopNeverCutsAModemsWritesAndOutlastsTheJob) {
    for (const std::uint32_t stop_at : {0u, 1u}) {
        const auto modems = Ports().StartModems(1);
        zb::PortTable table = TableWith({1});
        zb::DeviceRecord& r = Rec(table, 1);
        r.channel = 15;
        r.apply_pending = true;
        RecordingReporter reporter;
        zb::JobEngine job(reporter);
        reporter.on_bar = [&](std::int32_t, const zb::ProgressBarState& bar) {
            if (bar.max == 16 && bar.position == stop_at) job.RequestStop();
        };
        RunJob(job, table, 1);

        const bool written = stop_at == 1;
        const zbsim::ModemSnapshot snap = modems->snapshot(1);
        EXPECT_EQ(CountClass(*modems, 1, 'S'), written ? 16 : 0) << stop_at;
        EXPECT_EQ(snap.restarts, written ? 1u : 0u);
        EXPECT_EQ(snap.settings.channel, written ? 26 : 11);
        EXPECT_EQ(r.job_failed, !written);
        EXPECT_EQ(reporter.Messages(1).back(), written ? "Apply device's settings" : "User abort");

        reporter.on_bar = nullptr;
        reporter.Clear();
        zb::UnmarkPort(table[0]);
        zb::MarkPort(table[0]);
        RunJob(job, table, 1);
        EXPECT_EQ(reporter.Messages(1), (Strings{"User abort"}));
        EXPECT_EQ(modems->snapshot(1).commands, snap.commands);
        EXPECT_EQ(job.FailCount(), 1u);
    }
}

// Values a device reports but its setters refuse: applying them back must not leave the
// modem half written.
TEST(JobEngine, ApplyWritesNothingWhenARecordReadFromTheDeviceCannotBeWritten) {
    const struct {
        const char* what;
        void (*change)(zbsim::ModemSettings&);
    } cases[] = {
        {"parity 3", [](zbsim::ModemSettings& s) { s.parity = 3; }},
        {"lowest channel", [](zbsim::ModemSettings& s) { s.channel = INT32_MIN; }},
        {"UTF-8 name", [](zbsim::ModemSettings& s) { s.devname = "caf\xC3\xA9"; }},
        {"short key",
         [](zbsim::ModemSettings& s) {
             s.security = true;
             s.aeskey = "0011";
         }},
    };
    for (const auto& c : cases) {
        const auto modems = Ports().StartModems(1);
        zbsim::ModemSettings settings = modems->snapshot(1).settings;
        c.change(settings);
        modems->set_settings(1, settings);
        zb::PortTable table = TableWith({1});
        RecordingReporter reporter;
        zb::JobEngine job(reporter);
        RunJob(job, table, 1);
        ASSERT_EQ(job.FailCount(), 0u) << c.what;

        Rec(table, 1).apply_pending = true;
        reporter.Clear();
        RunJob(job, table, 1);
        EXPECT_EQ(reporter.Messages(1),
                  (Strings{"Apply device's settings", "Apply settings fail."}))
            << c.what;
        EXPECT_EQ(job.ApplyFailCount(), 1u) << c.what;
        EXPECT_TRUE(Rec(table, 1).job_failed) << c.what;
        EXPECT_FALSE(Rec(table, 1).apply_pending) << c.what;
        EXPECT_EQ(CountClass(*modems, 1, 'S'), 0) << c.what;
        EXPECT_EQ(modems->snapshot(1).restarts, 0u) << c.what;
        zb::UnmarkPort(table[0]);
    }
}

TEST(JobEngine, SecurityOffSendsTheFlagAlone) {
    const auto modems = Ports().StartModems(1);
    zb::PortTable table = TableWith({1});
    Rec(table, 1).apply_pending = true;
    zb::SetText(Rec(table, 1).aeskey, "00112233445566778899AABBCCDDEEFF");
    RecordingReporter reporter;
    zb::JobEngine job(reporter);
    RunJob(job, table, 1);
    ASSERT_EQ(job.ApplyFailCount(), 0u);
    Strings zs;
    for (const std::string& r : modems->requests(1))
        if (r.substr(2, 2) == "ZS") zs.push_back(r);
    EXPECT_EQ(zs, (Strings{"?SZS00000"}));
}

TEST(JobEngine, UnselectedRecordsAndAWrongPortCountAreHandled) {
    const auto modems = Ports().StartModems(2);
    zb::PortTable table = TableWith({1, 2});
    zb::UnmarkPort(table[1]);
    RecordingReporter reporter;
    zb::JobEngine job(reporter);
    // More than are selected: the job still ends once its one worker is collected.
    RunJob(job, table, 5);
    EXPECT_EQ(reporter.StartedComs(), (std::vector<std::int32_t>{1}));
    EXPECT_TRUE(reporter.Messages(2).empty());
    EXPECT_EQ(modems->snapshot(2).commands, 0u);
    EXPECT_EQ(job.PortCount(), 5u);
    EXPECT_EQ(reporter.Events().back().kind, Event::Finished);

    job.ReleaseProgressBars();
    EXPECT_EQ(Rec(table, 1).progress_bar, nullptr);
}

TEST(JobEngine, ReportsOfEachPortKeepTheirOrderAcrossManyPorts) {
    constexpr int kPorts = 24;
    const auto modems = Ports().StartModems(kPorts);
    std::vector<std::int32_t> coms;
    for (int i = 1; i <= kPorts; ++i) coms.push_back(i);
    zb::PortTable table = TableWith(coms);
    RecordingReporter reporter;
    zb::JobEngine job(reporter);
    RunJob(job, table, kPorts);
    EXPECT_EQ(job.FailCount(), 0u);
    for (std::int32_t com : coms) {
        EXPECT_EQ(reporter.Messages(com), (Strings{"Inital serial port", "Get device's settings"}));
        std::vector<std::uint32_t> positions;
        for (const Event& e : reporter.EventsOf(com, Event::Bar))
            positions.push_back(e.bar.position);
        ASSERT_EQ(positions.size(), 21u);
        for (std::uint32_t i = 0; i < positions.size(); ++i) EXPECT_EQ(positions[i], i);
        EXPECT_EQ(zb::TextOf(Rec(table, com).devname), "SIM-" + std::to_string(com));
    }
}

}  // namespace
}  // namespace zbtest
