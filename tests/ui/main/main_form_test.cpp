// The main window against virtual modems: adding, deleting and refreshing ports, the list's
// cells and status text, the about box and the help.
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "main_form_fixture.h"
#include "ui/common/string_table.h"
#include "ui/main/about_form.h"

namespace {

using zb::ui::MessageKind;
using zbtest::MainFormTest;
using zbtest::ModalDriver;

TEST_F(MainFormTest, OpensEmptyWithDefaultColumns) {
    EXPECT_EQ(form_->windowTitle(), "ZigBee Modem Configurator");
    // 770 wide, or wider when the default columns need it to be seen whole.
    EXPECT_GE(form_->width(), 770);
    EXPECT_LE(view_->horizontalHeader()->length(), view_->viewport()->width());
    EXPECT_EQ(form_->geometry().center(), form_->screen()->availableGeometry().center());
    EXPECT_EQ(form_->height(), 420);
    EXPECT_EQ(view_->model()->rowCount(), 0);
    QStringList headings;
    for (int c = 0; c < view_->model()->columnCount(); ++c)
        headings.append(view_->model()->headerData(c, Qt::Horizontal).toString());
    EXPECT_EQ(headings, (QStringList{"COM No.", "Device name", "Device type", "Topology", "Mode",
                                     "PAN ID", "Local node ID", "Channel", "F/W version"}));
    // The catalogue widths are minimums; COM1024 with its icon fits whole.
    EXPECT_GE(view_->horizontalHeader()->sectionSize(0),
              std::max(70, view_->fontMetrics().horizontalAdvance("COM1024") + 16));
    EXPECT_EQ(view_->horizontalHeader()->sectionSize(8), 110);
    EXPECT_EQ(status_->text(), " 0 device(s) selected");
    for (const char* name : {"bt_add", "bt_delete", "bt_refresh", "bt_config", "bt_upgrade"}) {
        auto* button = form_->findChild<QWidget*>(QLatin1String(name));
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->size(), QSize(55, 75)) << name;
    }
}

TEST_F(MainFormTest, AddingOffersUnlistedPortsAndReadsTheChosenOnes) {
    zbsim::Simulator& low = Modems(2, 3);  // COM3, COM4
    zbsim::Simulator& high = Modems(1, 12);

    // Cancel adds nothing, runs no job, and leaves the list alone.
    EXPECT_EQ(AddPorts({}, false), (QStringList{"COM3", "COM4", "COM12"}));
    EXPECT_EQ(view_->model()->rowCount(), 0);
    EXPECT_TRUE(low.requests(3).empty());

    EXPECT_EQ(AddPorts({12, 3}), (QStringList{"COM3", "COM4", "COM12"}));
    EXPECT_EQ(zbtest::CountReads(low, 3), 20);
    EXPECT_EQ(zbtest::CountReads(high, 12), 20);
    EXPECT_TRUE(low.requests(4).empty());
    EXPECT_EQ(Captions(), (QStringList{"COM3", "COM12"}));
    EXPECT_EQ(Row(0), (QStringList{"COM3", "SIM-3", "Coordinator", "Star", "Transparent", "0x1A2B",
                                   "N/A", "11", "SIM 1.0.0"}));
    EXPECT_EQ(Row(1)[1], "SIM-12");
    EXPECT_TRUE(view_->selectionModel()->selectedRows().isEmpty());
    EXPECT_TRUE(dialogs_.shown.isEmpty());
    // The marks are gone and the links closed after the job.
    const zb::PortTable& rows = form_->Ports();
    EXPECT_FALSE(rows[2].device->selected);
    EXPECT_FALSE(rows[2].device->is_open);
    EXPECT_FALSE(rows[2].device->link);

    // Listed ports are no longer offered.
    EXPECT_EQ(AddPorts({4}), (QStringList{"COM4"}));
    EXPECT_EQ(Captions(), (QStringList{"COM3", "COM4", "COM12"}));
}

TEST_F(MainFormTest, CellsFollowEachDeviceTypeAndMode) {
    zbsim::Simulator& sim = Modems(3, 1);
    zbsim::ModemSettings router;
    router.devtype = 1;
    router.lnodeid = 7;
    router.channel = 26;
    router.devname = "north";
    sim.set_settings(2, router);
    zbsim::ModemSettings addressable;
    addressable.txmode = 1;
    addressable.lnodeid = 42;
    addressable.panid = 5;
    sim.set_settings(3, addressable);

    AddPorts({});  // Ctrl+A, Enter
    ASSERT_EQ(Captions(), (QStringList{"COM1", "COM2", "COM3"}));
    EXPECT_EQ(Row(0).mid(4, 3), (QStringList{"Transparent", "0x1A2B", "N/A"}));
    EXPECT_EQ(Row(1), (QStringList{"COM2", "north", "Router", "Star", "N/A", "0x1A2B", "7", "26",
                                   "SIM 1.0.0"}));
    EXPECT_EQ(Row(2).mid(4, 3), (QStringList{"Addressable", "0x0005", "42"}));

    // A modem whose read fails shows "-" after the next refresh, and its caption.
    sim.add_fault(2, zbsim::Fault::Refusing("ZP"));
    ClickRow(1);
    Key(Qt::Key_F5);
    EXPECT_EQ(Row(1), (QStringList{"COM2", "-", "-", "-", "-", "-", "-", "-", "-"}));
    EXPECT_TRUE(dialogs_.shown.isEmpty());  // a refresh shows no summary
}

TEST_F(MainFormTest, StatusTextCountsTheSelection) {
    Modems(3, 1);
    AddPorts({});
    EXPECT_EQ(status_->text(), " 0 device(s) selected");
    ClickRow(0);
    EXPECT_EQ(status_->text(), " 1 device(s) selected");
    ClickRow(2, Qt::ControlModifier);
    EXPECT_EQ(status_->text(), " 2 device(s) selected");
    ClickRow(1, Qt::ShiftModifier);
    EXPECT_EQ(status_->text(), " 3 device(s) selected");
    ClickRow(1, Qt::ControlModifier);
    EXPECT_EQ(status_->text(), " 2 device(s) selected");
    EXPECT_EQ(form_->SelectedPorts(), (std::vector<std::int32_t>{1, 3}));
    // Rebuilding the list drops the selection, and the status text says so.
    Key(Qt::Key_F5);
    EXPECT_EQ(status_->text(), " 0 device(s) selected");
}

TEST_F(MainFormTest, DeleteAsksAndRemovesOnlyOnYes) {
    Modems(3, 1);
    AddPorts({});
    const auto lock = form_->Ports()[1].port_lock;

    Key(Qt::Key_Delete);  // nothing selected: no question
    EXPECT_TRUE(dialogs_.shown.isEmpty());

    ClickRow(1);
    ClickRow(2, Qt::ControlModifier);
    dialogs_.confirm_answers = {false};
    Key(Qt::Key_Delete);
    ASSERT_EQ(dialogs_.shown.size(), 1);
    EXPECT_EQ(dialogs_.shown[0].kind, MessageKind::Confirm);
    EXPECT_EQ(dialogs_.shown[0].text, "Do you really want to REMOVE selected COM port(s) ?");
    EXPECT_EQ(Captions(), (QStringList{"COM1", "COM2", "COM3"}));

    dialogs_.confirm_answers = {true};
    Key(Qt::Key_Delete);
    EXPECT_EQ(dialogs_.shown.size(), 2);
    EXPECT_EQ(Captions(), (QStringList{"COM1"}));
    const zb::PortRow& row = form_->Ports()[1];
    EXPECT_EQ(row.port_state, 0);
    EXPECT_FALSE(row.device);
    EXPECT_EQ(row.port_lock, lock);  // the lock stays for good
    EXPECT_EQ(status_->text(), " 0 device(s) selected");

    // Deleted ports are offered again, and come back with a fresh record.
    EXPECT_EQ(AddPorts({2}), (QStringList{"COM2", "COM3"}));
    EXPECT_EQ(Captions(), (QStringList{"COM1", "COM2"}));
    EXPECT_EQ(form_->Ports()[1].port_lock, lock);
    EXPECT_EQ(Row(1)[1], "SIM-2");
}

TEST_F(MainFormTest, RefreshReadsTheSelectionOrEverything) {
    zbsim::Simulator& sim = Modems(5, 3);  // COM3 .. COM7
    AddPorts({});
    ASSERT_EQ(view_->model()->rowCount(), 5);
    const auto reads = [&] {
        std::vector<int> counts;
        for (int com = 3; com <= 7; ++com) {
            counts.push_back(zbtest::CountReads(sim, com));
            sim.clear_requests(com);
        }
        return counts;
    };
    reads();

    Key(Qt::Key_F5);  // none selected
    EXPECT_EQ(reads(), (std::vector<int>{20, 20, 20, 20, 20}));

    ClickRow(1);
    ClickRow(3, Qt::ControlModifier);
    Key(Qt::Key_F5);  // two of five
    EXPECT_EQ(reads(), (std::vector<int>{0, 20, 0, 20, 0}));
    EXPECT_EQ(view_->model()->rowCount(), 5);

    view_->selectAll();
    EXPECT_EQ(status_->text(), " 5 device(s) selected");
    Key(Qt::Key_F5);  // all
    EXPECT_EQ(reads(), (std::vector<int>{20, 20, 20, 20, 20}));
    for (const zb::PortRow& row : form_->Ports()) {
        if (!row.device) continue;
        EXPECT_FALSE(row.device->selected);
        EXPECT_FALSE(row.device->link);
    }
}

// Keys go to whatever has the focus, as typed keys do: after the job window the list has it.
TEST_F(MainFormTest, ListKeepsTheKeyboardAfterAJobWindow) {
    Modems(3, 3);
    AddPorts({});
    ASSERT_EQ(view_->model()->rowCount(), 3);
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_End);
    EXPECT_EQ(view_->currentIndex().row(), 2);
    EXPECT_EQ(status_->text(), " 1 device(s) selected");
}

TEST_F(MainFormTest, WarnsAboutEveryPortWaitingForFirmwareInPortOrder) {
    zbsim::Simulator& sim = Modems(4, 3);  // COM3 .. COM6
    AddPorts({});
    sim.set_mode(6, zbsim::ModemMode::Loader);
    sim.set_mode(4, zbsim::ModemMode::Loader);
    Key(Qt::Key_F5);
    EXPECT_EQ(Messages(), (QStringList{"[COM4] : Need to upgrade firmware again.",
                                       "[COM6] : Need to upgrade firmware again."}));
    for (const auto& shown : dialogs_.shown) EXPECT_EQ(shown.kind, MessageKind::Warning);
    EXPECT_EQ(Row(1)[1], "-");
    EXPECT_EQ(Row(3)[1], "-");
    EXPECT_EQ(Row(2)[1], "SIM-5");

    // Only the ports of the job are reported.
    dialogs_.shown.clear();
    ClickRow(3);
    Key(Qt::Key_F5);
    EXPECT_EQ(Messages(), (QStringList{"[COM6] : Need to upgrade firmware again."}));
}

TEST_F(MainFormTest, AboutBox) {
    bool checked = false;
    ModalDriver<zb::ui::Tabout_form> driver([&](zb::ui::Tabout_form* about) {
        EXPECT_EQ(about->windowTitle(), "About");
        EXPECT_GE(about->width(), 321);
        EXPECT_GE(about->height(), 196);
        // Each legal line on a line of its own.
        const auto* legal = about->findChild<QLabel*>(QStringLiteral("m_right"));
        for (const QString& line : zb::ui::LoadStr(603).split(QLatin1Char('\n')))
            EXPECT_LE(legal->fontMetrics().horizontalAdvance(line), legal->contentsRect().width());
        EXPECT_FALSE(about->windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(about->windowFlags() & Qt::WindowSystemMenuHint);
        EXPECT_TRUE(about->windowFlags() & Qt::CustomizeWindowHint);
        EXPECT_EQ(about->findChild<QLabel*>(QStringLiteral("m_title"))->text(),
                  "ZigBee Modem Configurator");
        EXPECT_EQ(about->findChild<QLabel*>(QStringLiteral("m_version"))->text(),
                  "1.0 Build 12013010");
        EXPECT_EQ(about->findChild<QLabel*>(QStringLiteral("m_right"))->text(),
                  zb::ui::LoadStr(603));
        EXPECT_FALSE(about->findChild<QLabel*>(QStringLiteral("Image1"))->pixmap().isNull());
        checked = true;
        QTest::mouseClick(about->findChild<QPushButton*>(QStringLiteral("Button1")),
                          Qt::LeftButton);
    });
    form_->act_about();
    EXPECT_TRUE(driver.ran());
    EXPECT_TRUE(checked);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainFormTest, HelpLooksInTheCurrentDirectory) {
    zbtest::TempDir elsewhere;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(elsewhere.path())));
    form_->mu_helpClick();
    QDir::setCurrent(previous);
    ASSERT_EQ(dialogs_.shown.size(), 1);
    EXPECT_EQ(dialogs_.shown[0].kind, MessageKind::Warning);
    // What is missing, where it was looked for, then the HTML pages the box offers, or none.
    const QStringList lines = dialogs_.shown[0].text.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 6) << dialogs_.shown[0].text.toStdString();
    EXPECT_EQ(lines[0], "File not found.");
    EXPECT_EQ(lines[2], QDir::toNativeSeparators(
                            QDir(QString::fromStdString(elsewhere.path())).canonicalPath()));
    EXPECT_EQ(dialogs_.shown[0].offer.isEmpty(), !QFileInfo(lines[5]).isFile());
}

}  // namespace
