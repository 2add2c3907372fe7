// One copy per user: a second start of the built program hands over to the first and ends
// with code 0, without a window; a name left behind by a dead copy does not block a start.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QTest>
#include <QWidget>

#include <cstring>

#include <gtest/gtest.h>

#include "app_test_support.h"
#include "scripted_dialogs.h"
#include "ui/common/string_table.h"
#include "ui/main/main_form.h"
#include "ui/main/single_instance.h"

namespace {

using zb::ui::SingleInstance;
using zbtest::Child;

const QString kProgram = QStringLiteral(ZBCONFIG_BIN);

QString InstanceName() {
    return SingleInstance::NameFor(zb::ui::LoadStr(zb::ui::IDS_TITLE));
}

TEST(SingleInstanceTest, NameCarriesTitleAndUser) {
    EXPECT_EQ(SingleInstance::NameFor(QStringLiteral("A b/c:d.e_f-g")),
              QStringLiteral("A_b_c_d.e_f-g-") + QString::number(::getuid()));
    EXPECT_EQ(InstanceName(),
              QStringLiteral("ZigBee_Modem_Configurator-") + QString::number(::getuid()));
}

TEST(SingleInstanceTest, SecondProcessHandsOverAndEnds) {
    Child first(kProgram, {}, zbtest::ProgramEnvironment());
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(zbtest::WaitUntil([&] { return zbtest::InstanceListens() || !first.Running(); },
                                  zbtest::ServeEvents));
    ASSERT_TRUE(first.Running()) << first.Stderr().toStdString();

    Child second(kProgram, {}, zbtest::ProgramEnvironment());
    ASSERT_TRUE(second.Started());
    ASSERT_TRUE(second.WaitExit());
    EXPECT_FALSE(second.Crashed());
    EXPECT_EQ(second.ExitCode(), 0) << second.Stderr().toStdString();
    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(zbtest::InstanceListens());
}

std::vector<zb::ui::SystemPort> NoSystemPorts() {
    return {};
}

// The first copy runs here, so that its window can be watched.
class RunningWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(instance_.Claim(), SingleInstance::Role::First);
        QObject::connect(&instance_, &SingleInstance::ShowRequested, &form_,
                         &zb::ui::TForm1::ShowFromOtherInstance);
        form_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
    }

    void StartSecond() {
        Child second(kProgram, {}, zbtest::ProgramEnvironment());
        ASSERT_TRUE(second.Started());
        ASSERT_TRUE(second.WaitExit());
        EXPECT_EQ(second.ExitCode(), 0) << second.Stderr().toStdString();
    }

    zb::ui::ScriptedDialogService dialogs_;
    zb::ui::TForm1 form_{dialogs_, &NoSystemPorts};
    SingleInstance instance_{InstanceName()};
};

TEST_F(RunningWindowTest, RestoresAMinimisedWindow) {
    form_.showMinimized();
    ASSERT_TRUE(zbtest::WaitUntil([&] { return form_.isMinimized(); }, zbtest::ServeEvents));
    StartSecond();
    EXPECT_TRUE(zbtest::WaitUntil([&] { return !form_.isMinimized() && form_.isActiveWindow(); },
                                  zbtest::ServeEvents));
    EXPECT_TRUE(form_.isVisible());
}

TEST_F(RunningWindowTest, RaisesAWindowInTheBackground) {
    QWidget other;
    other.setWindowTitle(QStringLiteral("another program"));
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    StartSecond();
    EXPECT_TRUE(zbtest::WaitUntil([&] { return form_.isActiveWindow(); }, zbtest::ServeEvents));
}

// A copy that was killed leaves its socket file behind; nobody answers on it.
TEST(SingleInstanceTest, StartsDespiteANameLeftByADeadCopy) {
    const QByteArray path = QDir(QDir::tempPath()).filePath(InstanceName()).toLocal8Bit();
    ::unlink(path.constData());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(static_cast<std::size_t>(path.size()), sizeof(addr.sun_path));
    std::memcpy(addr.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ::close(fd);
    ASSERT_FALSE(zbtest::InstanceListens());

    Child first(kProgram, {}, zbtest::ProgramEnvironment());
    ASSERT_TRUE(first.Started());
    EXPECT_TRUE(zbtest::WaitUntil([&] { return zbtest::InstanceListens() || !first.Running(); },
                                  zbtest::ServeEvents));
    EXPECT_TRUE(first.Running()) << first.Stderr().toStdString();
}

}  // namespace
