#include "work_test_support.h"

#include <QApplication>
#include <QFont>
#include <QTableView>
#include <QTimer>

#include <gtest/gtest.h>

#include "jobs/engine/pause.h"
#include "jobs/engine/steps.h"

namespace worktest {
namespace {
const zbtest::PortMap* ports = nullptr;
}

const zbtest::PortMap& Ports() {
    return *ports;
}

std::string ScratchPath(const std::string& name) {
    return ports->path() + "/" + name;
}

std::size_t WriteImage(const std::string& path, std::size_t body_size) {
    const std::vector<std::uint8_t> image =
        zbtest::MakeImage("0101", zbtest::PatternBody(body_size), "");
    EXPECT_TRUE(zbtest::WriteFile(path, image)) << path;
    return image.size();
}

void ExecWithin(zb::ui::Twork_form& form, const std::function<void()>& tick) {
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &form, [&] {
        if (tick && form.isVisible()) tick();
    });
    ticker.start(2);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &form, [&] {
        ADD_FAILURE() << "the job window is still up after 20 s";
        static_cast<QDialog&>(form).QDialog::done(QDialog::Rejected);  // past its own rules
    });
    watchdog.start(20000);
    form.exec();
}

const zb::ui::StatusModel& Model(const zb::ui::Twork_form& form) {
    const auto* view = form.findChild<QTableView*>(QStringLiteral("m_listview"));
    return dynamic_cast<const zb::ui::StatusModel&>(*view->model());
}

QString Cell(const zb::ui::Twork_form& form, int row, int column) {
    const auto& model = Model(form);
    return model.data(model.index(row, column)).toString();
}

}  // namespace worktest

// The platform, the port map and the pause scale are set before QApplication exists and
// before any test starts a thread.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    const zbtest::PortMap ports;
    if (ports.path().empty()) return 1;
    worktest::ports = &ports;
    zb::SetPauseScale(0.01);
    QApplication app(argc, argv);
    // One font on every platform, so that the widths the tests measure do not follow the
    // platform's default (the offscreen plug-in has none on Windows).
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    return RUN_ALL_TESTS();
}
