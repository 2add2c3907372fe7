#include "jobs/engine/job_engine.h"

#include <array>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "jobs/engine/pause.h"
#include "jobs/engine/port_job.h"
#include "jobs/platform/worker_thread.h"

namespace zb {

struct JobEngine::Active {
    struct Slot {
        std::int32_t com = -1;  // -1: free
        bool done = true;
        detail::WorkerThread thread;
    };

    detail::ManualResetEvent release;  // lets the supervisor begin, or end unused
    bool run = false;                  // set before `release`: the job is to run
    detail::ManualResetEvent start_event;
    std::mutex slots_mutex;
    std::condition_variable slot_done;
    std::array<Slot, kPortTableSize> slots;
    detail::WorkerThread supervisor;
};

JobEngine::JobEngine(JobReporter& reporter) : recorder_(reporter), context_(recorder_) {}

JobEngine::~JobEngine() {
    Wait();
}

void JobEngine::LoadPorts(const PortTable& rows) {
    if (IsRunning()) throw std::logic_error("JobEngine::LoadPorts while a job runs");
    rows_ = rows;
}

void JobEngine::StorePorts(PortTable& rows) const {
    rows = rows_;
}

void JobEngine::SetPortCount(std::uint32_t n) {
    if (IsRunning()) throw std::logic_error("JobEngine::SetPortCount while a job runs");
    port_count = n;
}

void JobEngine::SetFirmwareFile(std::string path) {
    if (IsRunning()) throw std::logic_error("JobEngine::SetFirmwareFile while a job runs");
    context_.SetFirmwareFile(std::move(path));
}

bool JobEngine::IsRunning() const {
    return running_.load();
}

void JobEngine::Start() {
    if (IsRunning()) throw std::logic_error("JobEngine::Start while a job runs");
    Wait();  // a finished job's supervisor may not have been joined yet
    recorder_.Clear();

    // The supervisor exists before anything is reported or changed, so that a failure to
    // create it leaves nothing behind; it holds still until JobStarted has been reported.
    auto active = std::make_unique<Active>();
    Active& a = *active;
    running_.store(true);
    const int err = a.supervisor.Start([this, &a] {
        a.release.Wait();
        if (a.run) Supervise(a);
    });
    if (err != 0) {
        running_.store(false);
        throw std::system_error(err, std::system_category(), "cannot start the job");
    }
    active_ = std::move(active);

    try {
        context_.ResetForJob();
        std::vector<std::int32_t> coms;
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            DeviceRecord* record = rows_[i].device.get();
            if (record == nullptr || !record->selected) continue;
            // The COM number is the row's; a record saying otherwise would report as
            // another port's row.
            record->com_no = static_cast<std::uint32_t>(i + 1);
            record->job_failed = false;
            if (!record->progress_bar) record->progress_bar = std::make_shared<ProgressBar>();
            (void)record->progress_bar->Reset();
            coms.push_back(static_cast<std::int32_t>(i + 1));
        }
        context_.reporter().JobStarted(coms);
    } catch (...) {
        // Out of memory before the job began: the supervisor ends without running it.
        a.release.Set();
        Wait();
        running_.store(false);
        throw;
    }
    a.run = true;
    a.release.Set();
}

void JobEngine::Wait() {
    if (!active_) return;
    active_->supervisor.Join();
    active_.reset();
}

void JobEngine::ReleaseProgressBars() {
    if (IsRunning()) throw std::logic_error("JobEngine::ReleaseProgressBars while a job runs");
    for (PortRow& row : rows_)
        if (row.device) row.device->progress_bar.reset();
}

void JobEngine::Supervise(Active& a) {
    JobPause();

    bool any_upgrade = false;
    std::size_t started = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        DeviceRecord* record = rows_[i].device.get();
        if (record == nullptr || !record->selected) continue;
        any_upgrade = any_upgrade || record->upgrade_pending;
        Active::Slot& slot = a.slots[i];
        {
            std::lock_guard lock(a.slots_mutex);
            slot.com = static_cast<std::int32_t>(i + 1);
            slot.done = false;
        }
        if (slot.thread.Start([this, &a, i] { Work(a, i); }) == 0) {
            ++started;
            continue;
        }
        // No worker for this port: it fails here instead of leaving the job waiting for
        // a worker that will never report.
        {
            std::lock_guard lock(a.slots_mutex);
            slot.com = -1;
            slot.done = true;
        }
        // No pause: the supervisor goes on starting the other ports' workers.
        context_.ReportFailure(*record, "Worker start fail",
                               record->apply_pending ? FailCounters::Both : FailCounters::Fail,
                               FailureKind::StepFailed);
    }

    a.start_event.Set();

    // Every started worker is collected, whatever port_count says: a worker left running
    // would go on using its record after the job is declared over.
    std::size_t collected = 0;
    std::vector<std::size_t> finished;
    while (collected < started) {
        {
            std::unique_lock lock(a.slots_mutex);
            a.slot_done.wait(lock, [&] {
                finished.clear();
                for (std::size_t i = 0; i < a.slots.size(); ++i)
                    if (a.slots[i].com != -1 && a.slots[i].done) finished.push_back(i);
                return !finished.empty();
            });
            for (std::size_t i : finished) {
                a.slots[i].com = -1;
                a.slots[i].done = false;
            }
        }
        for (std::size_t i : finished) a.slots[i].thread.Join();
        collected += finished.size();
    }

    if (any_upgrade) {
        context_.SetJobMode(JobMode::Normal);
        JobPause();
    }
    running_.store(false);
    context_.reporter().JobFinished();
}

void JobEngine::Work(Active& a, std::size_t index) {
    detail::YieldPriorityToInteractiveThreads();
    JobPause();
    a.start_event.Wait();
    // A reference of its own keeps the record alive even if the row is dropped.
    const std::shared_ptr<DeviceRecord> record = rows_[index].device;
    if (record) RunPort(context_, *record);
    {
        std::lock_guard lock(a.slots_mutex);
        a.slots[index].done = true;
    }
    a.slot_done.notify_all();
}

}  // namespace zb
