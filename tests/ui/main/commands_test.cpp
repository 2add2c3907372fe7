// The commands that change modems and the view, against virtual modems: configuration,
// export and import, firmware upgrade, and the column options.
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableWidget>
#include <QToolButton>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "firmware_image.h"
#include "jobs/platform/file_storage.h"
#include "main_form_fixture.h"
#include "ui/common/string_table.h"
#include "ui/config/config_form.h"
#include "ui/config/export_form.h"
#include "ui/config/options_form.h"
#include "ui/main/report_form.h"

namespace {

namespace fs = std::filesystem;
using zb::ui::MessageKind;
using zbtest::MainFormTest;
using zbtest::ModalDriver;

int CountWrites(const zbsim::Simulator& sim, int com) {
    int n = 0;
    for (const std::string& r : sim.requests(com)) n += r.size() > 1 && r[1] == 'S';
    return n;
}

using zbtest::Child;
using zbtest::Click;

std::string ReadText(const fs::path& path) {
    return zbtest::ReadText(path.string());
}

using CommandsTest = MainFormTest;

TEST_F(CommandsTest, ConfigWritesTheSameValuesToEverySelectedModem) {
    zbsim::Simulator& low = Modems(2, 3);  // COM3, COM4
    zbsim::Simulator& high = Modems(1, 12);
    AddPorts({});
    ClickRow(0);
    ClickRow(2, Qt::ControlModifier);

    ModalDriver<zb::ui::Tconfig_form> driver([](zb::ui::Tconfig_form* dialog) {
        auto* name = Child<QLineEdit>(dialog, "ec_devname");
        EXPECT_EQ(name->text(), "SIM-3");  // the lowest selected port
        name->setText(QStringLiteral("Line 4"));
        Child<QLineEdit>(dialog, "ec_panid")->setText(QStringLiteral("0bee"));
        Click(dialog, "bt_ok");
    });
    Key(Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(driver.ran());

    EXPECT_EQ(Messages(),
              (QStringList{zb::ui::LoadStr(305), "Apply configurations successfully."}));
    EXPECT_EQ(dialogs_.shown[0].kind, MessageKind::Confirm);
    EXPECT_EQ(dialogs_.shown[1].kind, MessageKind::Information);
    for (auto [sim, com] : {std::pair{&low, 3}, std::pair{&high, 12}}) {
        const zbsim::ModemSnapshot modem = sim->snapshot(com);
        EXPECT_EQ(modem.settings.devname, "Line 4") << com;
        EXPECT_EQ(modem.settings.panid, 0x0BEE) << com;
        EXPECT_EQ(modem.restarts, 1u) << com;
    }
    EXPECT_EQ(CountWrites(low, 4), 0);
    EXPECT_EQ(Row(0)[1], "Line 4");
    EXPECT_EQ(Row(2)[5], "0x0BEE");
    for (const zb::PortRow& row : form_->Ports()) {
        if (!row.device) continue;
        EXPECT_FALSE(row.device->selected);
        EXPECT_FALSE(row.device->apply_pending);
        EXPECT_FALSE(row.device->link);
    }
}

TEST_F(CommandsTest, ConfigOpensNoDialogWithoutSelectionOrAfterAFailedRead) {
    zbsim::Simulator& sim = Modems(3, 10);  // COM10 .. COM12
    AddPorts({});
    int dialogs_opened = 0;
    const auto cancel = [&](zb::ui::Tconfig_form* dialog) {
        ++dialogs_opened;
        QTest::keyClick(dialog, Qt::Key_Escape);
    };

    // No selection: nothing at all. The shortcut's command has run when Key returns; a
    // dialog it opened would have been cancelled by then.
    {
        ModalDriver<zb::ui::Tconfig_form> driver(cancel);
        Key(Qt::Key_F, Qt::ControlModifier);
    }
    EXPECT_EQ(dialogs_opened, 0);
    EXPECT_EQ(zbtest::CountReads(sim, 10), 20);  // only the add's read

    view_->selectAll();
    sim.add_fault(11, zbsim::Fault::Refusing("ZP"));
    form_->act_config();
    EXPECT_EQ(Messages(), (QStringList{zb::ui::LoadStr(303)}));

    // A modem waiting in its loader is named instead.
    sim.clear_faults(11);
    sim.set_mode(12, zbsim::ModemMode::Loader);
    dialogs_.shown.clear();
    view_->selectAll();
    form_->act_config();
    EXPECT_EQ(Messages(), (QStringList{"[COM12] : Need to upgrade firmware again."}));

    // Cancel writes nothing and says nothing.
    sim.set_mode(12, zbsim::ModemMode::Application);
    dialogs_.shown.clear();
    view_->selectRow(0);
    {
        ModalDriver<zb::ui::Tconfig_form> driver(cancel);
        form_->act_config();
    }
    EXPECT_EQ(dialogs_opened, 1);
    EXPECT_TRUE(dialogs_.shown.isEmpty());
    for (int com = 10; com <= 12; ++com) EXPECT_EQ(CountWrites(sim, com), 0) << com;
}

TEST_F(CommandsTest, ExportTwoModemsThenImportOneFileIntoThree) {
    zbsim::Simulator& low = Modems(2, 3);  // COM3, COM4
    zbsim::Simulator& high = Modems(1, 12);
    zbsim::ModemSettings router;
    router.devtype = 1;
    router.lnodeid = 5;
    router.panid = 0x01A2;
    router.devname = "Pump house";
    low.set_settings(3, router);
    zbsim::ModemSettings other;
    other.lnodeid = 7;
    low.set_settings(4, other);
    other.lnodeid = 9;
    high.set_settings(12, other);
    AddPorts({});
    zbtest::TempDir folder;
    const QString folder_text = QString::fromStdString(folder.path());

    const auto export_two = [&] {
        dialogs_.shown.clear();
        ClickRow(0);
        ClickRow(2, Qt::ControlModifier);
        dialogs_.file_answers = {folder_text};
        ModalDriver<zb::ui::Texport_form> driver([](zb::ui::Texport_form* chooser) {
            Click(chooser, "bt_browse");
            Click(chooser, "bt_ok");
        });
        form_->act_export();
        EXPECT_TRUE(driver.ran());
    };
    // A folder that is not there is named with the reason before any device is read.
    const std::string missing = folder.path() + "/gone";
    const int reads_before = zbtest::CountReads(low, 3);
    dialogs_.shown.clear();
    ClickRow(0);
    dialogs_.file_answers = {QString::fromStdString(missing)};
    ModalDriver<zb::ui::Texport_form> refused([](zb::ui::Texport_form* chooser) {
        Click(chooser, "bt_browse");
        Click(chooser, "bt_ok");
    });
    form_->act_export();
    EXPECT_TRUE(refused.ran());
    ASSERT_EQ(dialogs_.shown.size(), 1);
    EXPECT_EQ(dialogs_.shown[0].kind, MessageKind::Warning);
    EXPECT_TRUE(
        dialogs_.shown[0].text.contains(QDir::toNativeSeparators(QString::fromStdString(missing))))
        << dialogs_.shown[0].text.toStdString();
    EXPECT_EQ(zbtest::CountReads(low, 3), reads_before);

    // A file that cannot be written is named with the reason, and success is not claimed.
    const fs::path in_the_way = fs::path(folder.path()) / "KRB7310_Config12.txt";
    fs::create_directory(in_the_way);
    export_two();
    ASSERT_EQ(dialogs_.shown.size(), 1);
    EXPECT_EQ(dialogs_.shown[0].kind, MessageKind::Warning);
    EXPECT_TRUE(dialogs_.shown[0].text.contains(QString::fromStdString(in_the_way.string())));
    EXPECT_TRUE(dialogs_.shown[0].text.contains("directory"))
        << dialogs_.shown[0].text.toStdString();
    fs::remove(in_the_way);

    export_two();
    EXPECT_EQ(Messages(), (QStringList{"Export configurations successfully."}));
    EXPECT_EQ(form_->ExportFolder(), QDir::fromNativeSeparators(folder_text));
    const fs::path file = fs::path(folder.path()) / "KRB7310_Config3.txt";
    EXPECT_TRUE(fs::exists(fs::path(folder.path()) / "KRB7310_Config12.txt"));
    EXPECT_FALSE(fs::exists(fs::path(folder.path()) / "KRB7310_Config4.txt"));
    // The system's line ends: CRLF on Windows.
    const std::string end(zb::TextLineEnd());
    EXPECT_NE(ReadText(file).find("Device Name=Pump house" + end + "Device Type=1" + end +
                                  "Local Node ID=5" + end),
              std::string::npos);

    // A refused file changes no record and sends nothing.
    const fs::path bad = fs::path(folder.path()) / "bad.txt";
    std::ofstream(bad) << ReadText(file).replace(ReadText(file).find("0x01a2"), 6, "0xfffe");
    const auto import = [&](const fs::path& path) {
        dialogs_.shown.clear();
        view_->selectAll();
        ModalDriver<zb::ui::Texport_form> driver([&](zb::ui::Texport_form* chooser) {
            auto* box = Child<QLineEdit>(chooser, "ec_filepath");
            box->clear();
            QTest::keyClicks(box, QString::fromStdString(path.string()));
            QTest::keyClick(box, Qt::Key_Return);
        });
        form_->act_import();
        EXPECT_TRUE(driver.ran());
    };
    import(bad);
    EXPECT_EQ(Messages(), (QStringList{"Import an invalid parameter."}));
    EXPECT_EQ(form_->ImportFile(),
              QDir::fromNativeSeparators(QString::fromStdString(bad.string())));
    EXPECT_EQ(CountWrites(low, 3) + CountWrites(low, 4) + CountWrites(high, 12), 0);

    import(file);
    EXPECT_EQ(Messages(), (QStringList{"Import configurations successfully."}));
    const std::vector<std::tuple<zbsim::Simulator*, int, int>> expected{
        {&low, 3, 5}, {&low, 4, 7}, {&high, 12, 9}};
    for (auto [sim, com, lnodeid] : expected) {
        const zbsim::ModemSettings s = sim->snapshot(com).settings;
        EXPECT_EQ(s.devname, "Pump house") << com;
        EXPECT_EQ(s.devtype, 1) << com;
        EXPECT_EQ(s.panid, 0x01A2) << com;
        EXPECT_EQ(s.lnodeid, lnodeid) << com;  // each keeps its own
    }

    // COM4, a coordinator again, would be a router with local node ID 0: refused, not written.
    low.set_settings(4, zbsim::ModemSettings{});
    form_->act_refresh();
    const int writes_4 = CountWrites(low, 4), writes_12 = CountWrites(high, 12);
    import(file);
    EXPECT_EQ(Messages(), (QStringList{"Apply configurations fail."}));
    EXPECT_EQ(CountWrites(low, 4), writes_4);
    EXPECT_GT(CountWrites(high, 12), writes_12);
    ModalDriver<zb::ui::Treport_form> report([](zb::ui::Treport_form* dialog) {
        auto* rows = Child<QTableWidget>(dialog, "m_rows");
        ASSERT_EQ(rows->rowCount(), 3);
        EXPECT_EQ(rows->item(1, 2)->text(),
                  "The local node ID is invalid. Only coordinator can set it to 0.");
        Click(dialog, "bt_close");
    });
    form_->act_report();
    EXPECT_TRUE(report.ran());
}

TEST_F(CommandsTest, UpgradeRefreshesOnlyAfterEveryPortSucceeded) {
    zbsim::Simulator& sim = Modems(2, 11);  // COM11, COM12
    zbsim::ModemSettings other_type;
    other_type.fw_type = 0x0202;
    sim.set_settings(12, other_type);
    AddPorts({});
    zbtest::TempDir folder;
    const std::string image = folder.path() + "/new.rom";
    ASSERT_TRUE(zbtest::WriteFile(image, zbtest::MakeImage("0101", zbtest::PatternBody(1000))));
    const QString image_text = QString::fromStdString(image);

    view_->selectAll();
    dialogs_.file_answers = {image_text};
    ModalDriver<zb::ui::Texport_form> browse([](zb::ui::Texport_form* chooser) {
        EXPECT_EQ(chooser->windowTitle(), "Upgrade Firmware");
        Click(chooser, "bt_browse");
        Click(chooser, "bt_ok");
    });
    sim.clear_requests(11);
    form_->act_upgrade();
    EXPECT_EQ(Messages(), (QStringList{"There is one device upgrading firmware fail."}));
    EXPECT_EQ(sim.snapshot(11).upgrades, 1u);
    EXPECT_EQ(zbtest::CountReads(sim, 11), 1);  // the image check's type read, no refresh
    EXPECT_EQ(Row(0)[8], "SIM 1.0.0");

    sim.set_settings(12, zbsim::ModemSettings{});
    sim.clear_requests(11);
    dialogs_.shown.clear();
    ModalDriver<zb::ui::Texport_form> preset([&](zb::ui::Texport_form* chooser) {
        EXPECT_EQ(Child<QLineEdit>(chooser, "ec_filepath")->text(),
                  QDir::toNativeSeparators(image_text));
        Click(chooser, "bt_ok");
    });
    form_->act_upgrade();
    EXPECT_EQ(Messages(), (QStringList{"Upgrade firmware successfully."}));
    EXPECT_GE(zbtest::CountReads(sim, 11), 20);
    EXPECT_EQ(Row(0)[8], "SIM 2.0.0");
    EXPECT_EQ(Row(1)[8], "SIM 2.0.0");
}

TEST_F(CommandsTest, ColumnOptionsRebuildTheListAndSizeTheWindow) {
    Modems(1, 1000);
    AddPorts({});
    const auto options = [&](const std::vector<const char*>& buttons) {
        ModalDriver<zb::ui::Toptions_form> driver([&](zb::ui::Toptions_form* dialog) {
            for (const char* name : buttons) Click(dialog, name);
        });
        form_->act_options();
        EXPECT_TRUE(driver.ran());
    };

    options({"m_delall", "bt_ok"});
    EXPECT_EQ(view_->model()->columnCount(), 1);
    EXPECT_EQ(form_->width(), 770);
    EXPECT_EQ(Captions(), (QStringList{"COM1000"}));

    options({"m_selall", "bt_ok"});
    ASSERT_EQ(view_->model()->columnCount(), 18);
    // "<<" put the shown columns after the hidden ones; ">>" keeps that order.
    EXPECT_EQ(view_->model()->headerData(1, Qt::Horizontal).toString(), "Baud rate");
    EXPECT_EQ(view_->model()->headerData(10, Qt::Horizontal).toString(), "Device name");
    // The COM No. column, the frame and a scroll bar count too.
    const auto list_width = [&] {
        return view_->horizontalHeader()->length() + 2 * view_->frameWidth() +
               view_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    };
    EXPECT_TRUE(form_->screen()->availableGeometry().contains(form_->frameGeometry()));
    // Every heading fits its column, "Output power" included.
    for (int c = 0; c < 18; ++c) {
        const QString heading = view_->model()->headerData(c, Qt::Horizontal).toString();
        EXPECT_GT(view_->horizontalHeader()->sectionSize(c),
                  view_->horizontalHeader()->fontMetrics().horizontalAdvance(heading))
            << heading.toStdString();
    }

    const std::vector<int> before = form_->Columns().visible;
    options({"m_default", "bt_cancel"});
    EXPECT_EQ(form_->Columns().visible, before);
    EXPECT_EQ(view_->model()->columnCount(), 18);

    // The default columns' catalogue widths ask for 770 px; drawn, they need a little more.
    options({"m_default", "bt_ok"});
    EXPECT_EQ(form_->width(), std::max(770, list_width()));
}

}  // namespace
