// The configuration dialog (Tconfig_form): four tabs in which the operator edits the
// settings of the modems on the selected ports. It shows the first selected record (lowest
// COM number) and, on OK, after the checks and a confirmation for several devices, stores
// the same values into every selected record and sets their apply_pending. It never talks
// to a device.
//
// GUI thread only, while no job runs. The caller hands in a copy of the port table (whose
// rows share the records) and the number of selected list rows before showing it.
#pragma once

#include <QDialog>

#include "jobs/model/port_table.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace zb {
struct NodeBoxes;
struct SettingsBoxes;
}  // namespace zb

namespace zb::ui {

class DialogService;

class Tconfig_form final : public QDialog {
    Q_OBJECT
public:
    // `dialogs` must outlive the dialog.
    explicit Tconfig_form(DialogService& dialogs, QWidget* parent = nullptr);

    void LoadPorts(const zb::PortTable& rows);
    void StorePorts(zb::PortTable& rows) const;
    void SetSelectedCount(int n);

    // OK runs FormCloseQuery; a refused close keeps the dialog open with every edit.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;                  // FormShow
    bool eventFilter(QObject* watched, QEvent* event) override;  // the key filters

private:
    void FormCreate();
    void FormShow();
    void cb_devtypeChange();
    void cb_txmodeChange();
    void chk_security_Click();
    bool FormCloseQuery();
    bool ApplyCheck();
    void SaveSettings();
    const zb::DeviceRecord& ShownRecord() const;
    void ShowNodeBoxes(const zb::NodeBoxes& boxes);
    zb::SettingsBoxes BoxesShown() const;

    DialogService& dialogs_;
    zb::PortTable rows_;
    int selected_count_ = 0;
    const zb::DeviceRecord* shown_ = nullptr;  // the record the boxes were loaded from

    QTabWidget* m_tabs = nullptr;
    QLineEdit* ec_devname = nullptr;
    QComboBox* cb_baud = nullptr;
    QComboBox* cb_parity = nullptr;
    QComboBox* cb_databit = nullptr;
    QComboBox* cb_stopbit = nullptr;
    QComboBox* cb_interface = nullptr;
    QComboBox* cb_devtype = nullptr;
    QLineEdit* ec_panid = nullptr;
    QComboBox* cb_channel = nullptr;
    QComboBox* cb_topology = nullptr;
    QComboBox* cb_outpower = nullptr;
    QComboBox* cb_txmode = nullptr;
    QLineEdit* ec_lnodeid = nullptr;
    QLineEdit* ec_rnodeid = nullptr;
    QLineEdit* ec_startbyte = nullptr;
    QCheckBox* chk_security = nullptr;
    QLineEdit* ec_aeskey = nullptr;
    QPushButton* bt_ok = nullptr;
    QPushButton* bt_cancel = nullptr;
};

}  // namespace zb::ui
