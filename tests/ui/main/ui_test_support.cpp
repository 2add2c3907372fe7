#include "ui_test_support.h"

#include <QAbstractButton>
#include <QTest>
#include <QtGlobal>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

namespace zbtest {

ScopedPortMap::ScopedPortMap() {
    if (const char* old = std::getenv("ZBCONFIG_PORTS")) {
        previous_ = old;
        had_previous_ = true;
    }
    qputenv("ZBCONFIG_PORTS", QByteArray::fromStdString(dir_.path()));
}

ScopedPortMap::~ScopedPortMap() {
    if (had_previous_) {
        qputenv("ZBCONFIG_PORTS", QByteArray::fromStdString(previous_));
    } else {
        qunsetenv("ZBCONFIG_PORTS");
    }
}

int CountReads(const zbsim::Simulator& sim, int com) {
    static constexpr std::array<std::string_view, 19> kCodes{
        "SB", "SD", "SS", "SP", "SI", "DS", "BN", "ZC", "ZE", "ZP",
        "ZO", "ZT", "ZM", "ZA", "ZU", "ZN", "ZF", "ZS", "@V"};
    int n = 0;
    for (const std::string& r : sim.requests(com)) {
        if (r.size() < 4) continue;
        for (std::string_view code : kCodes)
            if (std::string_view(r).substr(2, 2) == code) ++n;
    }
    return n;
}

void Click(QWidget* parent, const char* name) {
    QTest::mouseClick(Child<QAbstractButton>(parent, name), Qt::LeftButton);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace zbtest
