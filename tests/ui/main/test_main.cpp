// The main-window tests run against an offscreen display, with the jobs' pauses scaled
// down; local sockets go to a private directory.
#include <QApplication>
#include <QFont>

#include <filesystem>

#include <gtest/gtest.h>

#include "jobs/engine/pause.h"
#include "scratch_dir.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const zbtest::ScratchDir tmp("zbui-main");
    if (tmp.path().empty()) return 1;
    qputenv("TMPDIR", QByteArray::fromStdString(tmp.path()));
    zb::SetPauseScale(0.02);
    QApplication app(argc, argv);
    // One font on every platform, so that the widths the tests measure do not follow the
    // platform's default (the offscreen plug-in has none on Windows).
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    return RUN_ALL_TESTS();
}
