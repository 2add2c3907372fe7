// One running copy of the program per user (on Windows, per user and session).
//
// The first start listens on a local socket named after the product title and the user. A
// later start connects, asks the first to show its window, and ends without a window of its
// own. A name left behind by a copy that died is cleared, so the next start still comes up.
// GUI thread only; ShowRequested arrives through the event loop.
#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QString>

namespace zb::ui {

class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Role {
        First,   // this process runs the program and now listens
        Second,  // another copy runs and was asked to show itself
        Alone,   // nothing could be set up; the program runs without the rule
    };

    explicit SingleInstance(QString name, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket name for `title` and the current user: the title with every character
    // other than letters, digits, '.', '_' and '-' replaced by '_', then '-' and the
    // instance scope (instance_scope.h): the user id, on Windows the session and the SID.
    static QString NameFor(const QString& title);

    // Decides the role; blocks for at most a few seconds.
    Role Claim();

Q_SIGNALS:
    // A later start asked this copy to show its window.
    void ShowRequested();

private:
    bool AskFirstToShow(QLocalSocket::LocalSocketError* error);
    void OnNewConnection();

    QString name_;
    QLocalServer server_;
};

}  // namespace zb::ui
