// The main window against virtual modems: adding, deleting and refreshing ports, the list's
// cells and status text, the about box and the help.
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <filesystem>

#include <gtest/gtest.h>

#include "about_form.h"
#include "dialog_service.h"
#include "main_form.h"
#include "port_form.h"
#include "string_table.h"
#include "ui_test_support.h"

namespace {

using zb::ui::MessageKind;
using zbtest::ModalDriver;

std::vector<zb::ui::SystemPort> NoSystemPorts() {
    return {};
}

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        form_ = std::make_unique<zb::ui::TForm1>(dialogs_, &NoSystemPorts);
        form_->show();
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
        view_ = form_->findChild<QTableView*>(QStringLiteral("m_listview"));
        status_ = form_->findChild<QLabel*>(QStringLiteral("m_status_panel"));
        ASSERT_NE(view_, nullptr);
        ASSERT_NE(status_, nullptr);
    }

    void TearDown() override { form_.reset(); }

    zbsim::Simulator& Modems(int count, int first_com) {
        sims_.push_back(zbtest::StartModems(ports_.path(), count, first_com));
        return *sims_.back();
    }

    // Runs the add-port command: picks `coms` from the offered list (all of them with the
    // keyboard when `coms` is empty) and presses Connect, or Cancel. Returns the offered list.
    QStringList AddPorts(const std::vector<int>& coms, bool connect = true) {
        QStringList offered;
        ModalDriver<zb::ui::Tport_form> driver([&](zb::ui::Tport_form* dialog) {
            EXPECT_EQ(dialog->windowTitle(), "Add Connection Port");
            auto* list = dialog->findChild<QListWidget*>(QStringLiteral("lb_comport"));
            for (int i = 0; i < list->count(); ++i) offered.append(list->item(i)->text());
            if (!connect) {
                QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Button2")),
                                  Qt::LeftButton);
            } else if (coms.empty()) {
                QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClick(list, Qt::Key_Return);
            } else {
                for (int i = 0; i < list->count(); ++i) {
                    const auto com = zb::ui::ComOfCaption(list->item(i)->text());
                    list->item(i)->setSelected(std::find(coms.begin(), coms.end(), *com) !=
                                               coms.end());
                }
                QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Button1")),
                                  Qt::LeftButton);
            }
        });
        Key(Qt::Key_Insert);
        EXPECT_TRUE(driver.ran());
        return offered;
    }

    // A shortcut reaches the window only while it is the active one; a closed dialog may
    // leave no window active.
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
        QTest::keyClick(form_.get(), key, modifiers);
    }

    QStringList Row(int row) const {
        QStringList cells;
        for (int c = 0; c < view_->model()->columnCount(); ++c)
            cells.append(view_->model()->index(row, c).data().toString());
        return cells;
    }
    QStringList Captions() const {
        QStringList captions;
        for (int r = 0; r < view_->model()->rowCount(); ++r)
            captions.append(view_->model()->index(r, 0).data().toString());
        return captions;
    }

    void ClickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QRect rect = view_->visualRect(view_->model()->index(row, 1));
        QTest::mouseClick(view_->viewport(), Qt::LeftButton, modifiers, rect.center());
    }

    QStringList Messages() const {
        QStringList texts;
        for (const auto& shown : dialogs_.shown) texts.append(shown.text);
        return texts;
    }

    zbtest::ScopedPortMap ports_;
    std::vector<std::unique_ptr<zbsim::Simulator>> sims_;
    zb::ui::ScriptedDialogService dialogs_;
    std::unique_ptr<zb::ui::TForm1> form_;
    QTableView* view_ = nullptr;
    QLabel* status_ = nullptr;
};

TEST_F(MainFormTest, OpensEmptyWithDefaultColumns) {
    EXPECT_EQ(form_->windowTitle(), "ZigBee Modem Configurator");
    EXPECT_EQ(form_->width(), 770);
    EXPECT_EQ(form_->height(), 420);
    EXPECT_EQ(view_->model()->rowCount(), 0);
    QStringList headings;
    for (int c = 0; c < view_->model()->columnCount(); ++c)
        headings.append(view_->model()->headerData(c, Qt::Horizontal).toString());
    EXPECT_EQ(headings, (QStringList{"COM No.", "Device name", "Device type", "Topology", "Mode",
                                     "PAN ID", "Local node ID", "Channel", "F/W version"}));
    EXPECT_EQ(view_->horizontalHeader()->sectionSize(0), 70);
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
    std::filesystem::create_symlink("/nonexistent/tty",
                                    std::filesystem::path(ports_.path()) / "com7");
    std::filesystem::create_symlink(low.device_path(3),
                                    std::filesystem::path(ports_.path()) / "com1500");

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
    zbsim::Fault refuse;
    refuse.kind = zbsim::FaultKind::Refuse;
    refuse.code = "ZP";
    sim.add_fault(2, refuse);
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
        EXPECT_EQ(about->size(), QSize(321, 196));
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
    EXPECT_EQ(dialogs_.shown[0].text, "File not found.");
}

}  // namespace
