// How a zbctl run ends early: the operator's interrupts (zbctl_system.h turns the system's
// into calls here) and an output whose reader has gone. The first request stops the run:
// no job or step starts, and a modem's writes are never cut. A second interrupt ends the
// program at once, after the run has handed back what it holds.
//
// Any thread may call Interrupt and OutputLost; the callbacks run on the caller's thread.
#pragma once

#include <atomic>
#include <functional>
#include <utility>

namespace zbctl {

// The exit status of a run stopped because its output could not be written: that of a
// program ended by SIGPIPE, which zbctl ignores (and Windows lacks).
inline constexpr int kExitOutputLost = 128 + 13;

class StopRequest {
public:
    // `stop` is called once, for the first request. `end` is called for every later
    // interrupt, with its exit status; it must end the program.
    StopRequest(std::function<void()> stop, std::function<void(int status)> end)
        : stop_(std::move(stop)), end_(std::move(end)) {}

    // An interrupt; `status` is 128 + its signal.
    void Interrupt(int status) {
        if (First(status))
            stop_();
        else
            end_(status);
    }
    // A write to stdout or stderr failed. A stop like the first interrupt, never an end: the
    // run still releases its ports and writes its report as usual.
    void OutputLost() {
        if (First(kExitOutputLost)) stop_();
    }
    // The status the program ends with: that of the first request, 0 when none came.
    int Status() const { return status_.load(); }

private:
    bool First(int status) {
        int none = 0;
        return status_.compare_exchange_strong(none, status);
    }

    std::function<void()> stop_;
    std::function<void(int)> end_;
    std::atomic<int> status_{0};
};

}  // namespace zbctl
