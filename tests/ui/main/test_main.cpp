// The main-window tests run against an offscreen display, with the jobs' pauses scaled
// down; local sockets go to a private directory.
#include <stdlib.h>

#include <QApplication>

#include <filesystem>

#include <gtest/gtest.h>

#include "jobs/pause.h"
#include "scratch_dir.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const zbtest::ScratchDir tmp("zbui-main");
    if (tmp.path().empty()) return 1;
    ::setenv("TMPDIR", tmp.path().c_str(), 1);
    zb::SetPauseScale(0.02);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
