// The helper that runs blocking work off the GUI thread, against an offscreen display.
#include <QApplication>
#include <QCursor>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "ui/common/background_call.h"

namespace {

// The work waits for ticks of a timer on the GUI thread, which the busy window and the wait
// cursor see; it ends without them after ten seconds rather than hang the test.
TEST(BackgroundCallTest, ReturnsTheValueWhileTheGuiThreadServesEventsUnderABusyWindow) {
    std::atomic<int> ticks{0};
    QString busy_title;
    bool wait_cursor = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
        if (const QWidget* busy = QApplication::activeModalWidget())
            busy_title = busy->windowTitle();
        wait_cursor = QApplication::overrideCursor() != nullptr &&
                      QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        ++ticks;
    });
    timer.start(1);
    const int seen = zb::ui::BackgroundCall(nullptr, QStringLiteral("Waiting"), [&ticks] {
        for (int i = 0; i < 2000 && ticks < 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return ticks.load();
    });
    EXPECT_GE(seen, 3);
    EXPECT_EQ(busy_title, "Waiting");
    EXPECT_TRUE(wait_cursor);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
