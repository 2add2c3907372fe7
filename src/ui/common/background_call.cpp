#include "ui/common/background_call.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>

#include <memory>

namespace zb::ui {
namespace {

// The modal window shown while the work runs: the work's name over a busy bar. It cannot be
// closed, neither with Escape nor from the title bar; it goes when the work has ended.
class BusyWindow final : public QDialog {
public:
    BusyWindow(QWidget* parent, const QString& what) : QDialog(parent) {
        setObjectName(QStringLiteral("BusyWindow"));
        setWindowTitle(what);
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        setWindowModality(Qt::ApplicationModal);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(what + QStringLiteral("..."), this));
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        layout->addWidget(bar);
        setMinimumWidth(320);
    }

    void reject() override {}

protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

}  // namespace

void RunInBackground(QWidget* parent, const QString& what, const std::function<void()>& work) {
    const std::unique_ptr<QThread> thread(QThread::create(work));
    BusyWindow busy(parent, what);
    QEventLoop loop;
    // Queued: the thread ends on its own side, the loop quits on this one, also when the work
    // has ended before the loop started.
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit,
                     Qt::QueuedConnection);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    busy.show();
    thread->start();
    loop.exec();
    thread->wait();
    busy.hide();
    QApplication::restoreOverrideCursor();
}

}  // namespace zb::ui
