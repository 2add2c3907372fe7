// The job window: a small borderless modal window that runs one job (read, apply or
// upgrade, as each port's record asks) over every selected port and lists each port's
// progress and latest message. Showing it starts the job; it closes by itself once the
// job's supervisor has collected every worker.
//
// GUI thread only. The job runs on the engine's threads, which report through a
// WorkReporter; their reports are applied here, on the GUI thread, in the order each
// worker made them. While a job runs the window cannot be closed: X only asks the upgrade
// transfers to stop.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "jobs/engine/job_engine.h"
#include "jobs/model/port_table.h"
#include "jobs/run/port_run.h"
#include "ui/common/dialog_service.h"
#include "ui/work/work_reporter.h"
#include "ui/work/work_status.h"

class QLabel;
class QPushButton;
class QTableView;

namespace zb::ui {

// A filled rectangle with a one-pixel outline (the title strip and the body frame).
class TShape final : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    void SetColours(const QColor& fill, const QColor& outline);
    QColor Fill() const { return fill_; }
    QColor Outline() const { return outline_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
    QColor outline_;
};

// A run's jobs (jobs/run) run in it: each one shows the window until the job has ended.
class Twork_form : public QDialog, public zb::JobHost {
    Q_OBJECT
public:
    // How a showing starts the engine's job. It throws std::system_error when the job's
    // threads cannot be created.
    using JobStarter = std::function<void(zb::JobEngine&)>;

    explicit Twork_form(DialogService& dialogs, QWidget* parent = nullptr);
    // As above, with the job started through `starter` instead of JobEngine::Start.
    Twork_form(DialogService& dialogs, JobStarter starter, QWidget* parent = nullptr);
    // Waits for a job that still runs.
    ~Twork_form() override;

    // Not while a job runs.
    void LoadPorts(const zb::PortTable& rows);
    void StorePorts(zb::PortTable& rows) const;
    void SetPortCount(std::uint32_t n);
    void SetFirmwareFile(const QString& path);

    std::uint32_t FailCount() const;
    std::uint32_t ApplyFailCount() const;

    // The ports of the last job, in the window's row order (JobEngine::Outcomes).
    std::vector<zb::PortOutcome> Outcomes() const override;
    // Loads `ports`, with `firmware` for an upgrade, and shows the window (exec). False when
    // the job could not start, which the window has told.
    bool RunJob(const zb::PortTable& ports, std::uint32_t count,
                const std::string& firmware) override;
    // From a successful start until the end of the job has been shown.
    bool IsRunning() const;

    // Shows the window modally and starts a job; returns once the window has closed. The
    // counters start from 0 at every showing.
    int exec() override;
    // Ignored while a job runs. Otherwise waits for the job's supervisor, drops the ports'
    // progress bars and closes.
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    enum class State { Idle, Running };

    void FormShow();
    void btCloseClick();
    void ApplyReports(std::span<const StatusUpdate> batch);
    // The frame's colours for the job's mode.
    void ShowJobMode(zb::JobMode mode);

    DialogService& dialogs_;
    JobStarter starter_;
    State state_ = State::Idle;
    bool started_ = false;  // the last showing started its job
    std::uint32_t port_count_ = 0;

    TShape* Shape1 = nullptr;
    TShape* Shape2 = nullptr;
    QPushButton* btClose = nullptr;
    QLabel* port_status = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* m_count = nullptr;
    QTableView* m_listview = nullptr;
    StatusModel* model_ = nullptr;

    // The engine reports through reporter_, so reporter_ is built before it and outlives it.
    WorkReporter reporter_;
    zb::JobEngine engine_;
};

}  // namespace zb::ui
