// The GUI thread's responsiveness while the job window runs a read job over 1024 paced
// virtual modems with the real pauses: a 1 ms timer measures how late the event loop
// serves it. Target: maximum lateness under 100 ms.
//
// Then the same measure while the work that runs off the GUI thread runs: the export's
// 1024 configuration files, each synced, and the job report saved to a PostgreSQL server
// that takes the connection and never answers. Target: maximum lateness under 50 ms.
//
// Beside it, the longest single event the GUI thread handled, on the wall clock and in
// the thread's own CPU time: an event that took long on the wall but little CPU was
// waiting for a processor, not doing our work.
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "jobs/model/port_table.h"
#include "scripted_dialogs.h"
#include "sim/simulator.h"
#include "ui/config/export_form.h"
#include "ui/main/main_form.h"
#include "ui/main/report_form.h"
#include "ui/work/work_form.h"

namespace {

constexpr int kPorts = 1024;
constexpr double kTargetMaxMs = 100.0;
constexpr double kBackgroundTargetMaxMs = 50.0;

void RaiseFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) std::perror("setrlimit");
}

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct EventStats {
    int repaints = 0;
    double longest_wall_ms = 0;
    double its_cpu_ms = 0;
    int its_type = 0;
    double longest_cpu_ms = 0;
    int cpu_type = 0;
};

class TimedApplication final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        const auto t0 = std::chrono::steady_clock::now();
        const double cpu0 = ThreadCpuMs();
        const int type = event->type();
        if (type == QEvent::UpdateRequest) ++stats.repaints;
        const bool result = QApplication::notify(receiver, event);
        const double cpu = ThreadCpuMs() - cpu0;
        const double wall =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count();
        if (wall > stats.longest_wall_ms) {
            stats.longest_wall_ms = wall;
            stats.its_cpu_ms = cpu;
            stats.its_type = type;
        }
        if (cpu > stats.longest_cpu_ms) {
            stats.longest_cpu_ms = cpu;
            stats.cpu_type = type;
        }
        return result;
    }
    EventStats stats;
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// How late a 1 ms timer on the GUI thread fires, from the probe's start to its Stop: a GUI
// thread blocked throughout shows as one gap as long as the block. With `during`, the object
// name of a window, only the time that window was shown counts: the gaps cut to it.
class LatenessProbe final : public QObject {
public:
    explicit LatenessProbe(QString during = {}) : during_(std::move(during)) {
        if (!during_.isEmpty()) {
            shown_ns_ = std::numeric_limits<qint64>::max();
            qApp->installEventFilter(this);
        }
        ticks_.reserve(100000);
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, &timer_,
                         [this] { ticks_.push_back(clock_.nsecsElapsed()); });
        clock_.start();
        ticks_.push_back(0);
        timer_.start();
    }
    void Stop() {
        timer_.stop();
        ticks_.push_back(clock_.nsecsElapsed());
        qApp->removeEventFilter(this);
        for (std::size_t i = 1; i < ticks_.size(); ++i) {
            const qint64 from = std::max(ticks_[i - 1], shown_ns_);
            const qint64 to = std::min(ticks_[i], hidden_ns_);
            if (from > to) continue;
            late_ms.push_back(std::max(0.0, static_cast<double>(to - from) / 1e6 - 1.0));
            if (late_ms.back() > 10)
                std::fprintf(stderr, "late %.1f ms at %.3f s\n", late_ms.back(),
                             static_cast<double>(ticks_[i]) / 1e9);
        }
    }
    // The figures against `target_ms`; whether the target was met.
    bool Print(double target_ms) const {
        const double max_ms =
            late_ms.empty() ? 0 : *std::max_element(late_ms.begin(), late_ms.end());
        std::printf(
            "event-loop lateness over %zu ticks: max %.1f ms, p99 %.1f ms, median %.2f ms "
            "(target: max < %.0f ms): %s\n",
            late_ms.size(), max_ms, Percentile(late_ms, 0.99), Percentile(late_ms, 0.5), target_ms,
            max_ms < target_ms ? "met" : "MISSED");
        return max_ms < target_ms;
    }

    std::vector<double> late_ms;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) &&
            watched->objectName() == during_)
            (event->type() == QEvent::Show ? shown_ns_ : hidden_ns_) = clock_.nsecsElapsed();
        return false;
    }

private:
    QString during_;
    QElapsedTimer clock_;
    QTimer timer_;
    std::vector<qint64> ticks_;
    // Without `during`, the whole run.
    qint64 shown_ns_ = 0;
    qint64 hidden_ns_ = std::numeric_limits<qint64>::max();
};

// Runs `action` once on the first modal widget of type T, polled from the event loop.
template <class T>
void OnModal(QObject* context, std::function<void(T*)> action) {
    auto* poll = new QTimer(context);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action = std::move(action)] {
        if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget());
            widget != nullptr && widget->isVisible()) {
            poll->deleteLater();
            poll->stop();
            action(widget);
        }
    });
    poll->start(5);
}

// The main window's export over every modem, into a folder of `dir`; the lateness is that
// of the files' writing alone, while its busy window shows.
bool ExportCase(const std::string& dir) {
    const QString folder = QString::fromStdString(dir + "/export");
    std::filesystem::create_directories(folder.toStdString());
    zb::ui::ScriptedDialogService dialogs;
    zb::ui::TForm1 form(dialogs, [] { return std::vector<zb::SystemPort>{}; });
    for (int com = 1; com <= kPorts; ++com)
        zb::AddPort(form.Ports()[static_cast<std::size_t>(com - 1)],
                    static_cast<std::uint32_t>(com));
    form.RefreshView();
    form.findChild<QTableView*>(QStringLiteral("m_listview"))->selectAll();
    OnModal<zb::ui::Texport_form>(&form, [&](zb::ui::Texport_form* chooser) {
        chooser->SetExportFolder(folder);
        chooser->accept();
    });
    QElapsedTimer clock;
    LatenessProbe probe(QStringLiteral("BusyWindow"));
    clock.start();
    form.act_export();
    probe.Stop();
    const auto files = std::distance(std::filesystem::directory_iterator(folder.toStdString()),
                                     std::filesystem::directory_iterator{});
    std::printf(
        "export of %d modems' files (read job included): %.2f s, %lld files, %s\n", kPorts,
        static_cast<double>(clock.nsecsElapsed()) / 1e9, static_cast<long long>(files),
        dialogs.shown.isEmpty() ? "no message" : dialogs.shown.back().text.toUtf8().constData());
    return probe.Print(kBackgroundTargetMaxMs);
}

// The report window's Save to a PostgreSQL server that never answers: a socket that listens
// and never accepts, whose backlog completes the connection for the client.
bool SilentDatabaseCase() {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listener");
        return false;
    }
    zb::ui::ScriptedDialogService dialogs;
    dialogs.file_answers = {
        QStringLiteral("postgresql://bench@127.0.0.1:%1/bench?connect_timeout=3")
            .arg(ntohs(address.sin_port))};
    zb::ReportRow row;
    row.com = 1;
    row.command = "read";
    zb::ui::Treport_form form(dialogs, {row}, QString());
    QElapsedTimer clock;
    LatenessProbe probe;
    clock.start();
    form.findChild<QPushButton*>(QStringLiteral("bt_save"))->click();
    probe.Stop();
    close(listener);
    const QString message =
        dialogs.shown.isEmpty() ? QStringLiteral("no message") : dialogs.shown.back().text;
    std::printf("report saved to a silent database: %.2f s, %s\n",
                static_cast<double>(clock.nsecsElapsed()) / 1e9,
                message.simplified().toUtf8().constData());
    return probe.Print(kBackgroundTargetMaxMs);
}

}  // namespace

int main(int argc, char** argv) {
    RaiseFileLimit();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    char tmpl[] = "/tmp/zbbench-ui-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    const std::string dir = tmpl;
    setenv("ZBCONFIG_PORTS", dir.c_str(), 1);

    TimedApplication app(argc, argv);
    zbsim::SimOptions options;
    options.count = kPorts;
    options.first_com = 1;
    options.ports_dir = dir;
    options.pacing = true;
    auto sim = std::make_unique<zbsim::Simulator>(options);
    std::string error;
    if (!sim->start(&error)) {
        std::fprintf(stderr, "zbsim: %s\n", error.c_str());
        return 1;
    }

    zb::PortTable table;
    for (int com = 1; com <= kPorts; ++com)
        zb::AddPort(table[static_cast<std::size_t>(com - 1)], static_cast<std::uint32_t>(com));

    zb::ui::ScriptedDialogService dialogs;
    zb::ui::Twork_form form(dialogs);
    form.LoadPorts(table);
    form.SetPortCount(kPorts);

    QElapsedTimer clock;
    clock.start();
    LatenessProbe probe;
    app.stats = {};
    const double cpu0 = ThreadCpuMs();
    form.exec();
    const double gui_cpu_ms = ThreadCpuMs() - cpu0;
    probe.Stop();
    const double job_s = static_cast<double>(clock.nsecsElapsed()) / 1e9;

    std::printf("read job over %d paced modems: %.2f s, failed ports %u, warnings %lld\n", kPorts,
                job_s, form.FailCount(), static_cast<long long>(dialogs.shown.size()));
    bool met = probe.Print(kTargetMaxMs);
    std::printf("GUI thread: %.0f ms CPU, %d repaints\n", gui_cpu_ms, app.stats.repaints);
    std::printf(
        "longest event on the GUI thread: %.1f ms wall, %.1f ms CPU (type %d); "
        "most CPU in one event: %.1f ms (type %d)\n",
        app.stats.longest_wall_ms, app.stats.its_cpu_ms, app.stats.its_type,
        app.stats.longest_cpu_ms, app.stats.cpu_type);

    // The read job leaves its ports open; the export's job opens them again.
    for (zb::PortRow& row : table) zb::UnmarkPort(row);
    met = ExportCase(dir) && met;
    met = SilentDatabaseCase() && met;

    sim.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return met ? 0 : 2;
}
