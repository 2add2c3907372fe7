// The GUI thread's responsiveness while the job window runs a read job over 1024 paced
// virtual modems with the real pauses: a 1 ms timer measures how late the event loop
// serves it. Target: maximum lateness under 100 ms.
//
// Beside it, the longest single event the GUI thread handled, on the wall clock and in
// the thread's own CPU time: an event that took long on the wall but little CPU was
// waiting for a processor, not doing our work.
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "jobs/model/port_table.h"
#include "scripted_dialogs.h"
#include "sim/simulator.h"
#include "ui/work/work_form.h"

namespace {

constexpr int kPorts = 1024;
constexpr double kTargetMaxMs = 100.0;

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

    std::vector<double> late_ms;
    late_ms.reserve(100000);
    QElapsedTimer clock;
    qint64 last_ns = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, &form, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last_ns != 0)
            late_ms.push_back(std::max(0.0, static_cast<double>(now - last_ns) / 1e6 - 1.0));
        if (!late_ms.empty() && late_ms.back() > 10)
            std::fprintf(stderr, "late %.1f ms at %.3f s\n", late_ms.back(),
                         static_cast<double>(now) / 1e9);
        last_ns = now;
    });

    clock.start();
    probe.start();
    app.stats = {};
    const double cpu0 = ThreadCpuMs();
    form.exec();
    const double gui_cpu_ms = ThreadCpuMs() - cpu0;
    probe.stop();
    const double job_s = static_cast<double>(clock.nsecsElapsed()) / 1e9;

    const double max_ms = late_ms.empty() ? 0 : *std::max_element(late_ms.begin(), late_ms.end());
    std::printf("read job over %d paced modems: %.2f s, failed ports %u, warnings %lld\n", kPorts,
                job_s, form.FailCount(), static_cast<long long>(dialogs.shown.size()));
    std::printf(
        "event-loop lateness over %zu ticks: max %.1f ms, p99 %.1f ms, median %.2f ms "
        "(target: max < %.0f ms): %s\n",
        late_ms.size(), max_ms, Percentile(late_ms, 0.99), Percentile(late_ms, 0.5), kTargetMaxMs,
        max_ms < kTargetMaxMs ? "met" : "MISSED");
    std::printf("GUI thread: %.0f ms CPU, %d repaints\n", gui_cpu_ms, app.stats.repaints);
    std::printf(
        "longest event on the GUI thread: %.1f ms wall, %.1f ms CPU (type %d); "
        "most CPU in one event: %.1f ms (type %d)\n",
        app.stats.longest_wall_ms, app.stats.its_cpu_ms, app.stats.its_type,
        app.stats.longest_cpu_ms, app.stats.cpu_type);

    sim.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return max_ms < kTargetMaxMs ? 0 : 2;
}
