// The program tests: the built zbconfig runs with its single-instance socket and port map
// in private directories.
#include <stdlib.h>

#include <QApplication>

#include <gtest/gtest.h>

#include "port_map.h"
#include "scratch_dir.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const zbtest::ScratchDir tmp("zbui-app");
    if (tmp.path().empty()) return 1;
    ::setenv("TMPDIR", tmp.path().c_str(), 1);
    const zbtest::PortMap ports;
    if (ports.path().empty()) return 1;
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
