// The main-window tests run against an offscreen display, with the jobs' pauses scaled
// down; local sockets go to a private directory.
#include <stdlib.h>

#include <QApplication>

#include <filesystem>

#include <gtest/gtest.h>

#include "pause.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string tmp = (std::filesystem::temp_directory_path() / "zbui-main-XXXXXX").string();
    if (::mkdtemp(tmp.data()) == nullptr) return 1;
    ::setenv("TMPDIR", tmp.c_str(), 1);
    zb::SetPauseScale(0.02);
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(tmp, ec);
    return result;
}
