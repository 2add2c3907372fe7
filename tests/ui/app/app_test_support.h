// Running the built programs from the tests: processes with a chosen environment, and
// waits on conditions with generous deadlines.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "serve_events.h"
#include "wait_until.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace zbtest {

constexpr std::chrono::milliseconds kDeadline{30000};

// A child process that is stopped (SIGTERM, then SIGKILL) if it still runs at the end.
class Child {
public:
    Child(const QString& program, const QStringList& args, const QProcessEnvironment& env);
    ~Child();
    bool Started() const { return started_; }
    bool Running() const { return process_->state() != QProcess::NotRunning; }
    // True when the process ended within the deadline.
    bool WaitExit(std::chrono::milliseconds deadline = kDeadline);
    int ExitCode() const { return process_->exitCode(); }
    bool Crashed() const { return process_->exitStatus() == QProcess::CrashExit; }
    // Waits for a line of standard output that starts with `prefix`; returns it, or "".
    QString WaitLine(const QString& prefix, std::chrono::milliseconds deadline = kDeadline);
    // Everything written to standard output so far.
    QString Output();
    QString Stderr();
    void Stop();

private:
    std::unique_ptr<QProcess> process_;
    QByteArray out_;
    bool started_ = false;
};

// The environment of the programs under test: offscreen, unless told otherwise.
QProcessEnvironment ProgramEnvironment();

// Whether a copy of the program listens on the single-instance name. The probe sends no
// request, so it does not bring that copy's window forward.
bool InstanceListens();

}  // namespace zbtest
