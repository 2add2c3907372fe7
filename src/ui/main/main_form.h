// The main window (TForm1): the device list of the added COM ports with their modems'
// settings, and the commands that add and remove ports, re-read, configure and upgrade the
// modems, export and import their settings, choose the list's columns, and show the about
// box and the help.
//
// It owns the port table and the column lists for the whole run. Every command is one
// straight flow on the GUI thread; the dialogs, job windows and busy windows it opens are
// modal and live only for that command, and the jobs and the writing of files run on other
// threads meanwhile. While a job window runs, its workers own the records of the marked
// ports; the window touches a record's guarded flags only under the row's port_lock.
#pragma once

#include <QMainWindow>

#include <cstdint>
#include <string_view>
#include <vector>

#include "jobs/model/port_table.h"
#include "jobs/report/report_row.h"
#include "jobs/run/port_run.h"
#include "ui/main/device_list.h"
#include "ui/main/port_scan.h"

class QAction;
class QLabel;
class QMenu;
class QShowEvent;
class QStatusBar;
class QTableView;
class QToolBar;
class QToolButton;

namespace zb::ui {

class DialogService;
class DeviceListModel;
class Twork_form;

class TForm1 final : public QMainWindow {
    Q_OBJECT
public:
    // `dialogs` must outlive the window. `list_ports` feeds the add-port dialog's scan.
    explicit TForm1(DialogService& dialogs, SystemPortLister list_ports = ListSystemSerialPorts,
                    QWidget* parent = nullptr);
    ~TForm1() override;  // FormDestroy

    // Commands.
    void act_portadd();
    void act_portdel();
    void act_refresh();
    void act_config();
    void act_import();
    void act_export();
    void act_upgrade();
    void act_options();
    // View › Last job report...: the last job's ports, their results and messages.
    void act_report();
    void act_about();
    void mu_helpClick();
    void act_exit();

    // A later start of the program asked for this window.
    void ShowFromOtherInstance();

    // The device list.
    void BuildColumns();
    void FillDeviceList();
    void RefreshView();
    // MarkPorts: over every row with a record (all) or the selected list rows.
    void MarkPorts(bool all, bool mark);
    void MarkUpgrade(bool on);
    // One warning per selected port left waiting in its loader, ascending. True if any.
    bool ReportUpgradeAgain();
    // Export: one configuration file per selected record into the remembered export folder.
    // A file that could not be written is reported in one warning; true when all were.
    bool WriteConfigFiles();
    // Import: the remembered import file into every selected record; false, changing
    // nothing, for a refused file. A record the configuration dialog's rules would refuse
    // with the file's settings is left as it was and unmarked, and its port goes to
    // *refused, failed with the rule's message.
    bool ReadConfigFile(std::vector<zb::PortOutcome>* refused);
    // The port numbers of the selected list rows, read from their captions, in list order.
    std::vector<std::int32_t> SelectedPorts() const;
    int ListRowCount() const;

    zb::PortTable& Ports() { return rows_; }
    ColumnLists& Columns() { return columns_; }
    // The width column `id` is shown with: its catalogue width, widened to fit its texts.
    int ColumnWidth(int id) const;
    // The widths of COM No. and the shown columns.
    int ColumnsWidth() const;
    // The width the list needs to show its columns whole: the columns, the frame and a
    // vertical scroll bar.
    int ListWidth() const;
    // The free area of the window's screen, less the window's frame; empty without a screen.
    QRect FreeArea() const;

    // The remembered paths, empty at start and kept until the program ends.
    QString ImportFile() const { return import_file_; }
    QString ExportFolder() const { return export_folder_; }
    QString FirmwareFile() const { return firmware_file_; }

protected:
    void showEvent(QShowEvent* event) override;  // FormShow
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateDeviceList();
    void m_listviewSelectItem();
    // A job window took the keyboard; the list gets it back for its keys.
    void FocusList();
    void m_listviewContextPopup(const QPoint& pos);
    // A read job over the marked ports in the job window, kept as `command`'s report.
    void ReadMarked(Twork_form& work, zb::RunCommand command);
    // Keeps the rows of the ports whose part of `run` has ended, for act_report.
    void KeepReport(zb::PortRun& run);
    void Warn(int string_id);
    void Inform(int string_id);

    DialogService& dialogs_;
    SystemPortLister list_ports_;
    zb::PortTable rows_;
    ColumnLists columns_;
    QString import_file_;
    QString export_folder_;
    QString firmware_file_;
    std::vector<zb::ReportRow> last_report_;
    QString report_file_;
    bool shown_ = false;

    QToolBar* m_toolbar = nullptr;
    QTableView* m_listview = nullptr;
    DeviceListModel* m_model = nullptr;
    QStatusBar* m_statusbar = nullptr;
    QLabel* m_status_panel = nullptr;
    QMenu* m_popupmenu = nullptr;

    QAction* mu_addport = nullptr;
    QAction* mu_delport = nullptr;
    QAction* mu_exit = nullptr;
    QAction* mu_config = nullptr;
    QAction* mu_import = nullptr;
    QAction* mu_export = nullptr;
    QAction* mu_upgrade = nullptr;
    QAction* mu_refresh = nullptr;
    QAction* mu_options = nullptr;
    QAction* mu_report = nullptr;
    QAction* mu_help = nullptr;
    QAction* mu_about = nullptr;
};

}  // namespace zb::ui
