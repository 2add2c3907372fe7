#include "app_test_support.h"

#include <QLocalSocket>

#include "ui/common/string_table.h"
#include "ui/main/single_instance.h"

namespace zbtest {

Child::Child(const QString& program, const QStringList& args, const QProcessEnvironment& env)
    : process_(std::make_unique<QProcess>()) {
    process_->setProcessEnvironment(env);
    process_->setProgram(program);
    process_->setArguments(args);
    process_->start();
    started_ = process_->waitForStarted(static_cast<int>(kDeadline.count()));
}

Child::~Child() {
    Stop();
}

bool Child::WaitExit(std::chrono::milliseconds deadline) {
    return WaitUntil([this] { return process_->state() == QProcess::NotRunning; }, ServeEvents,
                     deadline);
}

QString Child::WaitLine(const QString& prefix, std::chrono::milliseconds deadline) {
    QString found;
    WaitUntil(
        [&] {
            out_ += process_->readAllStandardOutput();
            const qsizetype complete = out_.lastIndexOf('\n');
            if (complete < 0) return process_->state() == QProcess::NotRunning;
            for (const QByteArray& line : out_.left(complete).split('\n')) {
                if (line.startsWith(prefix.toUtf8())) {
                    found = QString::fromUtf8(line).trimmed();
                    return true;
                }
            }
            return process_->state() == QProcess::NotRunning;
        },
        ServeEvents, deadline);
    return found;
}

QString Child::Output() {
    out_ += process_->readAllStandardOutput();
    return QString::fromLocal8Bit(out_);
}

QString Child::Stderr() {
    return QString::fromLocal8Bit(process_->readAllStandardError());
}

void Child::Stop() {
    if (process_->state() == QProcess::NotRunning) return;
    process_->terminate();
    if (!process_->waitForFinished(10000)) {
        process_->kill();
        process_->waitForFinished(10000);
    }
}

QProcessEnvironment ProgramEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

bool InstanceListens() {
    QLocalSocket socket;
    socket.connectToServer(zb::ui::SingleInstance::NameFor(zb::ui::LoadStr(zb::ui::IDS_TITLE)));
    const bool connected = socket.waitForConnected(1000);
    socket.abort();
    return connected;
}

}  // namespace zbtest
