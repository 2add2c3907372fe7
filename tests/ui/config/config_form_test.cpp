// The configuration dialog on hand-made records: what it loads, the enabling rules with their
// colours, the key filters, the checks on OK and what OK, Cancel and Esc store.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <memory>
#include <tuple>

#include <gtest/gtest.h>

#include "scripted_dialogs.h"
#include "ui/config/config_form.h"

namespace {

using zb::ui::MessageKind;

class ConfigFormTest : public ::testing::Test {
protected:
    // A selected record on COM `com` with the defaults of a new port.
    zb::DeviceRecord& Add(int com) {
        return *zb::AddPort(rows_[static_cast<std::size_t>(com - 1)],
                            static_cast<std::uint32_t>(com));
    }
    zb::DeviceRecord& Router(int com, std::uint32_t lnodeid, std::uint32_t rnodeid) {
        zb::DeviceRecord& r = Add(com);
        r.devtype = 1;
        r.lnodeid = lnodeid;
        r.rnodeid = rnodeid;
        return r;
    }

    void Open(int selected_count = 1) {
        form_ = std::make_unique<zb::ui::Tconfig_form>(dialogs_);
        form_->LoadPorts(rows_);
        form_->SetSelectedCount(selected_count);
        form_->show();
    }

    QLineEdit* Edit(const char* name) const {
        return form_->findChild<QLineEdit*>(QLatin1String(name));
    }
    QComboBox* Combo(const char* name) const {
        return form_->findChild<QComboBox*>(QLatin1String(name));
    }
    void Retype(const char* name, const QString& text) {
        QLineEdit* box = Edit(name);
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, text);
    }
    void PressOk() {
        QTest::mouseClick(form_->findChild<QPushButton*>(QStringLiteral("bt_ok")), Qt::LeftButton);
    }
    static QStringList Items(const QComboBox* box) {
        QStringList items;
        for (int i = 0; i < box->count(); ++i) items.append(box->itemText(i));
        return items;
    }
    // Enabled state and background agree: window colour when enabled, button face if not.
    static void ExpectState(const QWidget* box, bool enabled) {
        const QPalette system = QApplication::palette();
        EXPECT_EQ(box->isEnabled(), enabled) << box->objectName().toStdString();
        EXPECT_EQ(box->palette().color(QPalette::Base),
                  system.color(QPalette::Active, enabled ? QPalette::Base : QPalette::Button))
            << box->objectName().toStdString();
    }

    zb::PortTable rows_;
    zb::ui::ScriptedDialogService dialogs_;
    std::unique_ptr<zb::ui::Tconfig_form> form_;
};

TEST_F(ConfigFormTest, ShowsTheLowestSelectedRecord) {
    Add(2).selected = false;
    zb::DeviceRecord& r = Router(5, 7, 3);
    zb::SetText(r.devname, "Z\xE4hler");
    r.panid = 0x1A2;
    r.channel = 5;
    r.parity = 7;  // a value the list lacks
    r.security = true;
    zb::SetText(r.aeskey, "00112233445566778899AABBCCDDEEFF");
    Router(9, 1, 2);
    Open();

    EXPECT_EQ(form_->windowTitle(), "Configurations");
    EXPECT_EQ(form_->findChild<QTabWidget*>()->currentIndex(), 0);
    EXPECT_EQ(Edit("ec_devname")->text(), QString::fromUtf8("Zähler"));
    EXPECT_EQ(Combo("cb_parity")->currentIndex(), -1);
    EXPECT_EQ(Combo("cb_channel")->currentText(), "16");
    EXPECT_EQ(Edit("ec_panid")->text(), "01A2");
    EXPECT_EQ(Edit("ec_lnodeid")->text(), "7");
    EXPECT_EQ(Edit("ec_aeskey")->text(), "00112233445566778899AABBCCDDEEFF");
    ExpectState(Edit("ec_aeskey"), true);
    ExpectState(Combo("cb_databit"), false);
}

struct DevtypeCase {
    const char* name;
    std::uint32_t devtype, txmode;
    QStringList modes;
    QString mode, lnodeid, rnodeid, startbyte;
    bool mode_on, nodes_on, start_on;
};

void PrintTo(const DevtypeCase& c, std::ostream* os) {
    *os << c.name;
}

class DevtypeRuleTest : public ConfigFormTest, public ::testing::WithParamInterface<DevtypeCase> {};

TEST_P(DevtypeRuleTest, SetsModeListNodeBoxesAndColours) {
    const DevtypeCase& c = GetParam();
    zb::DeviceRecord& r = Add(3);
    r.devtype = c.devtype;
    r.txmode = c.txmode;
    r.lnodeid = 12;
    r.rnodeid = 34;
    r.startbyte = 0x7E;
    Open();
    EXPECT_EQ(Items(Combo("cb_txmode")), c.modes);
    EXPECT_EQ(Combo("cb_txmode")->currentText(), c.mode);
    EXPECT_EQ(Edit("ec_lnodeid")->text(), c.lnodeid);
    EXPECT_EQ(Edit("ec_rnodeid")->text(), c.rnodeid);
    EXPECT_EQ(Edit("ec_startbyte")->text(), c.startbyte);
    ExpectState(Combo("cb_txmode"), c.mode_on);
    ExpectState(Edit("ec_lnodeid"), c.nodes_on);
    ExpectState(Edit("ec_rnodeid"), c.nodes_on);
    ExpectState(Edit("ec_startbyte"), c.start_on);
}

const QStringList kBothModes{"Transparent", "Addressable"};
INSTANTIATE_TEST_SUITE_P(
    Cases, DevtypeRuleTest,
    ::testing::Values(
        DevtypeCase{"TransparentCoordinator", 0, 0, kBothModes, "Transparent", "N/A", "N/A", "N/A",
                    true, false, false},
        DevtypeCase{"AddressableCoordinator", 0, 1, kBothModes, "Addressable", "0", "-", "7E", true,
                    false, true},
        DevtypeCase{
            "AddressableEndDevice", 2, 1, {"N/A"}, "N/A", "12", "34", "N/A", false, true, false}),
    [](const ::testing::TestParamInfo<DevtypeCase>& p) { return std::string(p.param.name); });

TEST_F(ConfigFormTest, DevtypeModeAndSecurityRulesFollowThePicks) {
    zb::DeviceRecord& r = Router(3, 5, 0);
    r.txmode = 1;
    r.startbyte = 0xA5;
    Open();
    Retype("ec_lnodeid", "42");
    Retype("ec_rnodeid", "43");

    Combo("cb_devtype")->setCurrentIndex(0);
    EXPECT_EQ(Combo("cb_txmode")->currentText(), "Addressable");
    EXPECT_EQ(Edit("ec_startbyte")->text(), "A5");
    ExpectState(Edit("ec_startbyte"), true);
    ExpectState(Edit("ec_lnodeid"), false);

    Combo("cb_txmode")->setCurrentIndex(0);
    EXPECT_EQ(Edit("ec_startbyte")->text(), "N/A");
    ExpectState(Edit("ec_startbyte"), false);

    // Back to a router: the record's node IDs, not the typed ones.
    Combo("cb_devtype")->setCurrentIndex(1);
    EXPECT_EQ(Edit("ec_lnodeid")->text(), "5");
    EXPECT_EQ(Edit("ec_rnodeid")->text(), "0");
    ExpectState(Edit("ec_lnodeid"), true);
    ExpectState(Combo("cb_txmode"), false);

    auto* security = form_->findChild<QCheckBox*>(QStringLiteral("chk_security"));
    ExpectState(Edit("ec_aeskey"), false);
    security->click();
    ExpectState(Edit("ec_aeskey"), true);
    security->click();
    ExpectState(Edit("ec_aeskey"), false);
}

TEST_F(ConfigFormTest, KeyFiltersDropWhatTheBoxCannotHold) {
    zb::DeviceRecord& r = Add(3);
    r.txmode = 1;
    Open();
    Retype("ec_startbyte", "G1zf");
    EXPECT_EQ(Edit("ec_startbyte")->text(), "1f");
    QTest::keyClick(Edit("ec_startbyte"), Qt::Key_Backspace);
    EXPECT_EQ(Edit("ec_startbyte")->text(), "1");

    Combo("cb_devtype")->setCurrentIndex(2);
    for (const char* name : {"ec_lnodeid", "ec_rnodeid"}) {
        Retype(name, "a4-b2");
        EXPECT_EQ(Edit(name)->text(), "42") << name;
        QTest::keyClick(Edit(name), Qt::Key_Home);
        QTest::keyClick(Edit(name), Qt::Key_Delete);
        EXPECT_EQ(Edit(name)->text(), "2") << name;
    }
}

TEST_F(ConfigFormTest, FailedCheckKeepsTheDialogOpenWithItsEdits) {
    // A typed 00, and a stored 255 that must reach the check whole rather than cut to "25".
    for (const auto& [stored, typed, message] :
         {std::tuple{5u, "00", "The local node ID is invalid.\nOnly coordinator can set it to 0."},
          std::tuple{255u, "", "The local node ID is invalid."}}) {
        const zb::DeviceRecord& r = Router(3, stored, 1);
        dialogs_.shown.clear();
        Open();
        if (*typed != '\0') Retype("ec_lnodeid", typed);
        const QString shown = Edit("ec_lnodeid")->text();
        EXPECT_EQ(shown, *typed != '\0' ? QString(typed) : QString::number(stored));
        PressOk();
        EXPECT_TRUE(form_->isVisible());
        ASSERT_EQ(dialogs_.shown.size(), 1);
        EXPECT_EQ(dialogs_.shown[0].kind, MessageKind::Warning);
        EXPECT_EQ(dialogs_.shown[0].text, message);
        EXPECT_EQ(Edit("ec_lnodeid")->text(), shown);
        EXPECT_EQ(r.lnodeid, stored);
        EXPECT_FALSE(r.apply_pending);
    }
}

// Asked on every OK press; No keeps the dialog open without a warning, Yes saves.
TEST_F(ConfigFormTest, OkAfterYesStoresTheSameValuesInEverySelectedRecord) {
    zb::DeviceRecord& com3 = Add(3);  // coordinator, Transparent
    com3.startbyte = 0x55;
    com3.lnodeid = 0;
    com3.parity = 9;  // no choice in the list: each record keeps its parity
    zb::DeviceRecord& com7 = Router(7, 4, 1);
    com7.txmode = 1;
    com7.startbyte = 0x22;
    com7.parity = 2;
    dialogs_.confirm_answers = {false};  // then Yes
    Open(2);

    Retype("ec_devname", "Plant");
    Retype("ec_panid", "beef");
    form_->findChild<QCheckBox*>(QStringLiteral("chk_security"))->click();
    Retype("ec_aeskey", "0123456789abcdef0123456789ABCDEF");
    PressOk();
    ASSERT_TRUE(form_->isVisible());
    EXPECT_FALSE(com3.apply_pending);
    PressOk();
    ASSERT_FALSE(form_->isVisible());
    ASSERT_EQ(dialogs_.shown.size(), 2);
    for (const auto& shown : dialogs_.shown) {
        EXPECT_EQ(shown.kind, MessageKind::Confirm);
        EXPECT_EQ(shown.text, "Do you really want to apply settings to ALL selected devices ?");
    }

    for (const zb::DeviceRecord* r : {&com3, &com7}) {
        EXPECT_EQ(zb::TextOf(r->devname), "Plant");
        EXPECT_EQ(r->panid, 0xBEEFu);
        EXPECT_EQ(r->devtype, 0u);
        EXPECT_EQ(r->txmode, 0u);
        EXPECT_TRUE(r->security);
        EXPECT_EQ(zb::TextOf(r->aeskey), "0123456789abcdef0123456789ABCDEF");
        EXPECT_TRUE(r->apply_pending);
    }
    // A coordinator's start byte in Transparent mode and its node IDs stay each record's own.
    EXPECT_EQ(com3.startbyte, 0x55);
    EXPECT_EQ(com7.startbyte, 0x22);
    EXPECT_EQ(com7.lnodeid, 4u);
    EXPECT_EQ(com3.parity, 9u);
    EXPECT_EQ(com7.parity, 2u);
}

TEST_F(ConfigFormTest, EnterSavesWhileCancelAndEscWriteNothing) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_unknown}) {
        zb::DeviceRecord& r = Router(3, 5, 1);
        r.txmode = 1;  // Addressable, which a router's "N/A" list cannot keep
        Open();
        Retype("ec_devname", "changed");
        Retype("ec_lnodeid", "9");
        if (key == Qt::Key_unknown)  // the Cancel button
            QTest::mouseClick(form_->findChild<QPushButton*>(QStringLiteral("bt_cancel")),
                              Qt::LeftButton);
        else
            QTest::keyClick(Edit("ec_devname"), key);
        const bool saved = key == Qt::Key_Return;
        EXPECT_FALSE(form_->isVisible()) << key;
        EXPECT_EQ(form_->result(), saved ? QDialog::Accepted : QDialog::Rejected) << key;
        EXPECT_EQ(zb::TextOf(r.devname), saved ? "changed" : "") << key;
        EXPECT_EQ(r.lnodeid, saved ? 9u : 5u) << key;
        EXPECT_EQ(r.txmode, saved ? 0u : 1u) << key;
        EXPECT_EQ(r.apply_pending, saved) << key;
    }
    EXPECT_TRUE(dialogs_.shown.isEmpty());
}

}  // namespace
