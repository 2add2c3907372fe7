// The status list and the reporter's hand-over to the GUI thread, without a window.
#include <atomic>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "serve_events.h"
#include "ui/work/work_reporter.h"
#include "ui/work/work_status.h"
#include "wait_until.h"
#include "work_test_support.h"

namespace worktest {
namespace {

using zb::ui::StatusUpdate;

TEST(StatusModel, ReportsReachOnlyTheirPortsRowAndFailureColoursOnlyItsMessage) {
    zb::ui::StatusModel model;
    model.Reset({3, 7});
    const auto text = [&](int row, int column) {
        return model.data(model.index(row, column)).toString();
    };
    const auto colour = [&](int row, int column) {
        return model.data(model.index(row, column), Qt::ForegroundRole);
    };
    StatusUpdate u;
    u.kind = StatusUpdate::Kind::Message;
    for (std::int32_t com : {5, 0, -1, 2000}) {  // no such row
        u.com = com;
        EXPECT_EQ(model.Apply(u), -1) << com;
    }
    u.com = 7;
    u.text = "Inital serial port";
    EXPECT_EQ(model.Apply(u), 1);
    u.kind = StatusUpdate::Kind::Failed;
    u.com = 3;
    EXPECT_EQ(model.Apply(u), 0);

    EXPECT_EQ(text(0, 0), "COM3");
    EXPECT_EQ(text(0, 3), "Preparing...");
    EXPECT_EQ(text(1, 3), "Inital serial port");
    EXPECT_EQ(colour(0, 3).value<QColor>(), QColor(128, 0, 0));
    for (int column = 0; column < 3; ++column) EXPECT_FALSE(colour(0, column).isValid());
    EXPECT_FALSE(colour(1, 3).isValid());

    model.Reset({3});  // the next job starts afresh
    EXPECT_FALSE(model.FailedAt(0));
    EXPECT_EQ(text(0, 1), "-");
}

TEST(StatusModel, BarSegmentsFillInProportionInsideTheCell) {
    const QRect cell(200, 40, 75, 17);
    const QRect inner = cell.adjusted(2, 2, -2, -2);
    const auto covered = [&](zb::ProgressBarState bar) {
        int right = inner.left() - 1;
        for (const QRect& s : zb::ui::BarSegments(bar, cell)) {
            EXPECT_TRUE(inner.contains(s));
            EXPECT_GT(s.left(), right);  // left to right, apart
            right = s.right();
        }
        return right - inner.left() + 1;
    };
    EXPECT_EQ(covered({20, 0, true}), 0);
    EXPECT_EQ(covered({0, 0, true}), 0);
    EXPECT_EQ(covered({20, 10, true}), inner.width() / 2);
    EXPECT_EQ(covered({20, 20, true}), inner.width());
    EXPECT_EQ(covered({10, 40, true}), inner.width());  // never past the cell
    EXPECT_GT(zb::ui::BarSegments({20, 20, true}, cell).size(), 1);
}

// Many workers report at once: the GUI side sees every report once, each worker's in the
// order it made them, JobFinished last; a burst reaches it in one call.
TEST(WorkReporter, KeepsEachWorkersOrderAndLosesNothing) {
    constexpr int kWorkers = 64;
    constexpr int kReports = 300;
    std::map<std::int32_t, std::vector<int>> seen;
    std::size_t total = 0;
    int deliveries = 0;
    bool finished = false;
    bool after_finish = false;
    zb::ui::WorkReporter reporter([&](std::span<const StatusUpdate> batch) {
        ++deliveries;
        for (const StatusUpdate& u : batch) {
            after_finish = after_finish || finished;
            finished = finished || u.kind == StatusUpdate::Kind::Finished;
            if (u.kind == StatusUpdate::Kind::Message) seen[u.com].push_back(u.text.toInt());
            if (u.kind == StatusUpdate::Kind::Bar) seen[u.com].push_back(int(u.bar.position));
            total += u.kind != StatusUpdate::Kind::Finished;
        }
    });

    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (int w = 1; w <= kWorkers; ++w) {
        workers.emplace_back([&, w] {
            while (!go.load()) std::this_thread::yield();
            for (std::uint32_t i = 0; i < kReports; ++i) {
                if (i % 2 == 0)
                    reporter.SetPortMessage(w, std::to_string(i));
                else
                    reporter.SetProgressBar(w, {1000, i, true});
            }
        });
    }
    go.store(true);
    EXPECT_TRUE(zbtest::WaitUntil([&] { return total == std::size_t{kWorkers} * kReports; },
                                  zbtest::ServeEvents));
    for (std::thread& t : workers) t.join();
    reporter.JobFinished();
    EXPECT_TRUE(zbtest::WaitUntil([&] { return finished; }, zbtest::ServeEvents));

    EXPECT_FALSE(after_finish);
    ASSERT_EQ(seen.size(), std::size_t{kWorkers});
    std::vector<int> expected(kReports);
    for (int i = 0; i < kReports; ++i) expected[std::size_t(i)] = i;
    for (const auto& [com, values] : seen) EXPECT_EQ(values, expected) << "COM" << com;

    deliveries = 0;
    for (int i = 0; i < 1000; ++i) reporter.SetPortFailed(1);
    EXPECT_TRUE(zbtest::WaitUntil([&] { return deliveries > 0; }, zbtest::ServeEvents));
    EXPECT_EQ(deliveries, 1);
}

}  // namespace
}  // namespace worktest
