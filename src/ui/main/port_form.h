// The add-port dialog (Tport_form): offers the machine's serial ports that are not in the
// device list yet and adds the chosen ones to its copy of the port table.
//
// Lives for one run of the add-port command. The command copies the port table in, shows
// the dialog modally and copies the table back whichever button closed it, since the scan
// also moves rows between "absent" and "present". GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <map>

#include "jobs/model/port_table.h"
#include "ui/main/port_scan.h"

class QListWidget;
class QPushButton;
class QShowEvent;

namespace zb::ui {

class Tport_form final : public QDialog {
    Q_OBJECT
public:
    // `list_ports` lists the system's serial devices for the scan.
    explicit Tport_form(SystemPortLister list_ports, QWidget* parent = nullptr);

    void LoadPorts(const zb::PortTable& rows) { rows_ = rows; }
    void StorePorts(zb::PortTable& rows) const { rows = rows_; }
    // The ports added by the last press of "Connect".
    std::uint32_t AddedCount() const { return added_count_; }

    // Sees which ports the machine has now and merges that into the dialog's table.
    void ScanSerialPorts();

protected:
    void showEvent(QShowEvent* event) override;  // FormShow

private:
    void OKClick();

    SystemPortLister list_ports_;
    zb::PortTable rows_;
    PortPresence port_present_;
    std::uint32_t added_count_ = 0;
    std::map<std::int32_t, QString> descriptions_;

    QListWidget* lb_comport = nullptr;
    QPushButton* Button1 = nullptr;  // "Connect"
    QPushButton* Button2 = nullptr;  // "Cancel"
};

}  // namespace zb::ui
