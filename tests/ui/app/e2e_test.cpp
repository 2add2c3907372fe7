// End to end on a real X server: the built zbconfig under Xvfb adds two virtual modems
// through the keyboard, reads them, renames one through the configuration dialog with the
// keyboard only, turns a second start away, and ends with Alt+F4.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <map>
#include <set>

#include <gtest/gtest.h>

#include "app_test_support.h"

namespace {

using zbtest::Child;

const QString kProgram = QStringLiteral(ZBCONFIG_BIN);
const QString kSimulator = QStringLiteral(ZBSIM_BIN);
const QString kZbctl = QStringLiteral(ZBCTL_BIN);
const QString kTitle = QStringLiteral("ZigBee Modem Configurator");
constexpr int kFirstCom = 1001;  // last in the offered list, after any real port here

// The read requests per COM number in a zbsim log ("COM1001 ?GSB00001").
std::map<int, int> ReadsInLog(const QString& path) {
    static const std::set<QString> kCodes{"SB", "SD", "SS", "SP", "SI", "DS", "BN",
                                          "ZC", "ZE", "ZP", "ZO", "ZT", "ZM", "ZA",
                                          "ZU", "ZN", "ZF", "ZS", "@V"};
    static const QRegularExpression kLine(QStringLiteral("^COM(\\d+) (\\S+)"));
    std::map<int, int> reads;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return reads;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const auto match = kLine.match(QString::fromLatin1(raw));
        if (match.hasMatch() && match.captured(2).size() >= 4 &&
            kCodes.contains(match.captured(2).mid(2, 2)))
            ++reads[match.captured(1).toInt()];
    }
    return reads;
}

class XvfbTest : public ::testing::Test {
protected:
    void SetUp() override {
        xvfb_path_ = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        xdotool_path_ = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (xvfb_path_.isEmpty() || xdotool_path_.isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("xwininfo")).isEmpty())
            GTEST_SKIP() << "Xvfb, xdotool and xwininfo are needed (scripts/setup installs them)";
        // -displayfd picks a free display and prints its number once the server accepts.
        xvfb_ = std::make_unique<Child>(
            xvfb_path_,
            QStringList{"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
            QProcessEnvironment::systemEnvironment());
        const QString number = xvfb_->WaitLine(QString());
        ASSERT_FALSE(number.isEmpty()) << xvfb_->Stderr().toStdString();
        display_ = QLatin1Char(':') + number;

        Child info(QStringLiteral("xwininfo"), {"-root", "-int"}, XEnvironment());
        ASSERT_TRUE(info.Started() && info.WaitExit());
        static const QRegularExpression kId(QStringLiteral("Window id: (\\d+)"));
        root_window_ = kId.match(info.Output()).captured(1);
        ASSERT_FALSE(root_window_.isEmpty());
    }

    QProcessEnvironment XEnvironment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // In the sanitizer build, a leak in a system library would fail the exit code.
        QString lsan = env.value(QStringLiteral("LSAN_OPTIONS"));
        if (!lsan.isEmpty()) lsan += QLatin1Char(':');
        env.insert(QStringLiteral("LSAN_OPTIONS"),
                   lsan + QStringLiteral("suppressions=" ZB_LSAN_SUPPRESSIONS));
        return env;
    }

    // Runs xdotool to its end; its output, or nothing when it failed.
    std::optional<QString> Xdo(const QStringList& args) {
        Child xdo(xdotool_path_, args, XEnvironment());
        if (!xdo.Started() || !xdo.WaitExit() || xdo.Crashed() || xdo.ExitCode() != 0)
            return std::nullopt;
        return xdo.Output();
    }
    // The first visible window whose name matches, once it exists; "" when none came.
    QString FindWindow(const QString& name_regex) {
        const auto found = Xdo({"search", "--sync", "--onlyvisible", "--name", name_regex});
        return found ? found->section(QLatin1Char('\n'), 0, 0).trimmed() : QString();
    }
    // The first visible window whose name matches, or "" when there is none yet.
    QString VisibleWindow(const QString& name_regex) {
        const auto found = Xdo({"search", "--onlyvisible", "--name", name_regex});
        return found ? found->section(QLatin1Char('\n'), 0, 0).trimmed() : QString();
    }
    // Focuses the window and types the keys into it. Without a window manager nobody hands
    // the focus back to the main window when a modal window closes, and a window that has the
    // X focus already gets no focus event that would make Qt activate it; so the focus goes
    // to the root window first.
    bool Keys(const QString& window, const QStringList& keys) {
        Xdo({"windowfocus", root_window_});
        if (!Xdo({"windowfocus", "--sync", window})) return false;
        QStringList args{"key", "--delay", "50"};
        args += keys;
        return Xdo(args).has_value();
    }

    QString xvfb_path_;
    QString xdotool_path_;
    QString display_;
    QString root_window_;
    std::unique_ptr<Child> xvfb_;
};

TEST_F(XvfbTest, AddsTwoModemsByKeyboardAndEndsWithAltF4) {
    const QString dir = QDir::tempPath();
    const QString ports = dir + QStringLiteral("/e2e-ports");
    const QString log = dir + QStringLiteral("/e2e-zbsim.log");
    Child sim(kSimulator,
              {"--count", "2", "--first-com", QString::number(kFirstCom), "--ports-dir", ports,
               "--log", log},
              QProcessEnvironment::systemEnvironment());
    ASSERT_FALSE(sim.WaitLine(QStringLiteral("ready")).isEmpty()) << sim.Stderr().toStdString();

    QProcessEnvironment env = XEnvironment();
    env.insert(QStringLiteral("ZBCONFIG_PORTS"), ports);
    Child program(kProgram, {}, env);
    ASSERT_TRUE(program.Started());
    const QString main_window = FindWindow(QLatin1Char('^') + kTitle + QLatin1Char('$'));
    ASSERT_FALSE(main_window.isEmpty()) << program.Stderr().toStdString();

    // Ins opens the add-port dialog; the two modems are the last two ports it offers (any
    // real port of this machine comes first and is left alone).
    ASSERT_TRUE(Keys(main_window, {"Insert"}));
    const QString dialog = FindWindow(QStringLiteral("^Add Connection Port"));
    ASSERT_FALSE(dialog.isEmpty());
    ASSERT_TRUE(Keys(dialog, {"End", "shift+Up", "Return"}));

    EXPECT_TRUE(zbtest::WaitUntil(
        [&] {
            const auto reads = ReadsInLog(log);
            const auto count = [&](int com) {
                const auto it = reads.find(com);
                return it == reads.end() ? 0 : it->second;
            };
            return count(kFirstCom) >= 20 && count(kFirstCom + 1) >= 20;
        },
        zbtest::ServeEvents, std::chrono::seconds(60)));
    const auto reads = ReadsInLog(log);
    EXPECT_EQ(reads.at(kFirstCom), 20);
    EXPECT_EQ(reads.at(kFirstCom + 1), 20);

    // Ctrl+Home moves to the first row without selecting it, Down and Up select it
    // (COM1001) wherever the current cell was;
    // Ctrl+F reads it and opens the dialog with the name box focused; Enter presses OK, and
    // Enter again closes the summary.
    // The keys reach the main window once the add's job window has closed; until then they
    // are sent again.
    QString config;
    ASSERT_TRUE(zbtest::WaitUntil(
        [&] {
            Keys(main_window, {"ctrl+Home", "Down", "Up", "ctrl+f"});
            return zbtest::WaitUntil(
                [&] {
                    config = VisibleWindow(QStringLiteral("^Configurations$"));
                    return !config.isEmpty();
                },
                zbtest::ServeEvents, std::chrono::seconds(5));
        },
        zbtest::ServeEvents, std::chrono::seconds(60)));
    ASSERT_TRUE(Keys(config, {"ctrl+a", "L", "i", "n", "e", "space", "9", "Return"}));
    const QString summary = FindWindow(QStringLiteral("^Information$"));
    ASSERT_FALSE(summary.isEmpty());
    ASSERT_TRUE(Keys(summary, {"Return"}));

    Child second(kProgram, {}, env);
    ASSERT_TRUE(second.Started());
    ASSERT_TRUE(second.WaitExit());
    EXPECT_EQ(second.ExitCode(), 0) << second.Stderr().toStdString();
    EXPECT_TRUE(program.Running());

    // Alt+F4 reaches the main window once the job window has closed; until then it is sent
    // again, each time after a click that activates the window.
    EXPECT_TRUE(zbtest::WaitUntil(
        [&] {
            Keys(main_window, {"alt+F4"});
            return program.WaitExit(std::chrono::seconds(2));
        },
        zbtest::ServeEvents, std::chrono::seconds(60)));
    EXPECT_FALSE(program.Crashed());
    EXPECT_EQ(program.ExitCode(), 0) << program.Stderr().toStdString();

    // What the modems hold now, asked of them directly.
    Child read(kZbctl, {"--json", "--no-pauses", "--ports-dir", ports, "read", "1001", "1002"},
               QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(read.WaitExit());
    const QString json = read.Output();
    EXPECT_EQ(read.ExitCode(), 0) << read.Stderr().toStdString();
    const qsizetype second_port = json.indexOf(QStringLiteral("\"com\": 1002"));
    EXPECT_GT(json.indexOf(QStringLiteral("\"devname\": \"SIM-1002\"")), second_port);
    const qsizetype renamed = json.indexOf(QStringLiteral("\"devname\": \"Line 9\""));
    EXPECT_TRUE(renamed >= 0 && renamed < second_port) << json.toStdString();
}

}  // namespace
