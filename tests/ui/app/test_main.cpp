// The program tests: the built zbconfig runs with its single-instance socket and port map
// in private directories.
#include <stdlib.h>

#include <QApplication>

#include <filesystem>

#include <gtest/gtest.h>

#include "scratch_dir.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const zbtest::ScratchDir tmp("zbui-app");
    if (tmp.path().empty()) return 1;
    const std::string ports = tmp.path() + "/ports";
    std::filesystem::create_directory(ports);
    ::setenv("TMPDIR", tmp.path().c_str(), 1);
    ::setenv("ZBCONFIG_PORTS", ports.c_str(), 1);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
