// The last job's report (View › Last job report...): one row per port with its COM number,
// result and message, and Save, which adds the rows to a report file, CSV or (a name ending
// in .json) JSON, the format zbctl --report writes; the report is opened and written on a
// thread of its own under a busy window (ui/common/background_call.h). Lives for one run of
// the command. GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

#include <vector>

#include "jobs/report/report_row.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace zb::ui {

class DialogService;

class Treport_form final : public QDialog {
    Q_OBJECT
public:
    // `file`: where the chooser starts, the file last saved to.
    Treport_form(DialogService& dialogs, std::vector<zb::ReportRow> rows, QString file,
                 QWidget* parent = nullptr);

    // The file the rows were last saved to, or the one given.
    const QString& File() const { return file_; }

private:
    void bt_saveClick();

    DialogService& dialogs_;
    std::vector<zb::ReportRow> rows_;
    QString file_;

    QLabel* m_summary = nullptr;
    QTableWidget* m_rows = nullptr;
    QPushButton* bt_save = nullptr;
    QPushButton* bt_close = nullptr;
};

}  // namespace zb::ui
