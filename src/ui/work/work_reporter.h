// The job window's side of the job engine's reporting interface.
//
// Reports arrive on the engine's threads (up to 1024 workers at once). Each becomes a
// StatusUpdate pushed onto a lock-free list in arrival order, which keeps every worker's
// own order, and the GUI thread takes the whole list at once: one queued call is posted
// when the list stops being empty, so a burst of reports costs the GUI thread one call
// instead of one per report. The list takes no lock, so taking it never waits for a worker
// that was preempted in the middle of a push (with a thousand threads on a few cores that
// wait can reach tens of milliseconds). The sink runs on the thread the reporter lives in
// (the GUI thread) and sees every report once, in order.
#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "jobs/engine/job_reporter.h"
#include "ui/work/work_status.h"

namespace zb::ui {

class WorkReporter final : public QObject, public zb::JobReporter {
    Q_OBJECT
public:
    using Sink = std::function<void(std::span<const StatusUpdate>)>;
    explicit WorkReporter(Sink sink, QObject* parent = nullptr);
    ~WorkReporter() override;
    WorkReporter(const WorkReporter&) = delete;
    WorkReporter& operator=(const WorkReporter&) = delete;

    void JobStarted(const std::vector<std::int32_t>& coms) override;
    void SetPortMessage(std::int32_t com, std::string_view text) override;
    void SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) override;
    void SetProgressBar(std::int32_t com, const zb::ProgressBarState& state) override;
    void SetPortFailed(std::int32_t com) override;
    void SetJobMode(zb::JobMode mode) override;
    void JobFinished() override;

private:
    struct Node {
        StatusUpdate update;
        Node* next = nullptr;
    };
    void Push(StatusUpdate update);
    void Deliver();
    static void Free(Node* list);

    Sink sink_;
    std::atomic<Node*> newest_{nullptr};  // the pending reports, newest first
    std::atomic<bool> delivery_posted_{false};
};

}  // namespace zb::ui
