#include "ui/main/single_instance.h"

#include <QDir>
#include <QLocalSocket>
#include <QLockFile>

#include "ui/main/instance_scope.h"

namespace zb::ui {
namespace {

constexpr int kWaitMs = 2000;
const QByteArray kShowRequest = QByteArrayLiteral("show\n");

}  // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
}

SingleInstance::~SingleInstance() {
    server_.close();
}

QString SingleInstance::NameFor(const QString& title) {
    QString name = title;
    for (QChar& c : name) {
        const bool keep = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                          (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                          (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                          c == QLatin1Char('.') || c == QLatin1Char('_') || c == QLatin1Char('-');
        if (!keep) c = QLatin1Char('_');
    }
    return name + QLatin1Char('-') + InstanceScope();
}

SingleInstance::Role SingleInstance::Claim() {
    // Two starts at the same moment would both find no server and both listen; the lock
    // makes the second wait until the first listens. A lock left by a dead process is stale
    // and taken over.
    QLockFile lock(QDir(QDir::tempPath()).filePath(name_ + QStringLiteral(".lock")));
    lock.setStaleLockTime(0);
    const bool locked = lock.tryLock(3 * kWaitMs);

    QLocalSocket::LocalSocketError error = QLocalSocket::UnknownSocketError;
    if (AskFirstToShow(&error)) return Role::Second;
    // Refused: a copy that died left its socket behind. Any other failure may be a live copy
    // that is slow to answer, whose name must not be taken away from it.
    if (error == QLocalSocket::ConnectionRefusedError) QLocalServer::removeServer(name_);
    if (server_.listen(name_)) return Role::First;
    if (!locked && AskFirstToShow(&error)) return Role::Second;
    return Role::Alone;
}

bool SingleInstance::AskFirstToShow(QLocalSocket::LocalSocketError* error) {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kWaitMs)) {
        *error = socket.error();
        return false;
    }
    socket.write(kShowRequest);
    socket.waitForBytesWritten(kWaitMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kWaitMs);
    return true;
}

void SingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QLocalSocket::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == kShowRequest) Q_EMIT ShowRequested();
            }
            // A peer that sends more than a request without a line end is not one of ours.
            if (socket->bytesAvailable() > 64) socket->abort();
        });
    }
}

}  // namespace zb::ui
