// Shared pieces of the main-window tests: private directories, the ports the system lists for
// virtual modems, and a driver for the modal dialogs a command opens.
#pragma once

#include <QApplication>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "port_map.h"
#include "protocol/port_discovery.h"
#include "scratch_dir.h"
#include "sim/simulator.h"

// Readable QStrings in gtest's messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace zbtest {

// A directory of its own, removed with the object.
using TempDir = ScratchDir;

// The serial ports the system lists for the modems of `sims`: none on Linux, where their
// port-map entries name them; on Windows their COMn names, as the registry would list them.
std::vector<zb::SystemPort> ListedModemPorts(
    const std::vector<std::unique_ptr<zbsim::Simulator>>& sims);

// The twenty read commands of a read-settings job that `sim` received for `com`.
int CountReads(const zbsim::Simulator& sim, int com);

// Runs `action` on the first visible modal widget of type T, polling from the event loop, so
// that a command that opens it modally can be called directly. Gives up after `deadline`.
template <class T>
class ModalDriver {
public:
    explicit ModalDriver(std::function<void(T*)> action,
                         std::chrono::milliseconds deadline = std::chrono::seconds(20))
        : action_(std::move(action)), deadline_(std::chrono::steady_clock::now() + deadline) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Poll(); });
        timer_.start();
    }
    bool ran() const { return ran_; }

private:
    void Poll() {
        if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget());
            widget != nullptr && widget->isVisible()) {
            timer_.stop();
            ran_ = true;
            action_(widget);
        } else if (std::chrono::steady_clock::now() > deadline_) {
            timer_.stop();
        }
    }

    std::function<void(T*)> action_;
    std::chrono::steady_clock::time_point deadline_;
    QTimer timer_;
    bool ran_ = false;
};

// A named child of `parent`, a test failure when there is none.
template <class T>
T* Child(QWidget* parent, const char* name) {
    auto* child = parent->findChild<T*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// Clicks the named button of `parent`.
void Click(QWidget* parent, const char* name);

// The whole file, empty when it cannot be read.
std::string ReadText(const std::string& path);

}  // namespace zbtest
