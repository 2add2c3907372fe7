#include "ui_test_support.h"

#include <QAbstractButton>
#include <QTest>

#include <fstream>
#include <sstream>

namespace zbtest {

int CountReads(const zbsim::Simulator& sim, int com) {
    return CountRequests(sim, com,
                         {"SB", "SD", "SS", "SP", "SI", "DS", "BN", "ZC", "ZE", "ZP", "ZO", "ZT",
                          "ZM", "ZA", "ZU", "ZN", "ZF", "ZS", "@V"});
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
