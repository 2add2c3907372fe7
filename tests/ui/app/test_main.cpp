// The program tests: the built zbconfig runs with its single-instance socket and port map
// in private directories.
#include <stdlib.h>

#include <QApplication>

#include <filesystem>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string tmp = (std::filesystem::temp_directory_path() / "zbui-app-XXXXXX").string();
    if (::mkdtemp(tmp.data()) == nullptr) return 1;
    const std::string ports = tmp + "/ports";
    std::filesystem::create_directory(ports);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    ::setenv("ZBCONFIG_PORTS", ports.c_str(), 1);
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(tmp, ec);
    return result;
}
