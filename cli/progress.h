// zbctl's progress on stderr. On a terminal: one line per phase of the run (reading,
// upgrading, ...), rewritten in place, with the ports done, failed and in all, the time
// since the run began and, while upgrading, the bytes sent and the time left; a port that
// fails gets a line of its own above it. Elsewhere (a log file, a pipe): one line per port
// message, and for upgrades one every tenth of the image. Quiet: nothing.
//
// The line's texts come from pure functions. A Progress takes the engine's reports from any
// thread under one mutex; on a terminal a ticker thread of its own redraws the line every
// second while a job runs, so that a long wait (a loader slow to answer) still shows time
// passing. Phase is called by the controlling thread between jobs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "jobs/model/progress_bar.h"

namespace zbctl {

enum class ProgressMode { Quiet, Lines, Line };

using Millis = std::chrono::milliseconds;

struct ProgressState {
    std::string_view phase;
    std::size_t done = 0;  // ports whose part of the phase ended well
    std::size_t failed = 0;
    std::size_t total = 0;
    Millis elapsed{0};
    std::uint64_t sent = 0;  // upgrades: bytes acknowledged, all ports together
    std::uint64_t size = 0;  // upgrades: bytes to send, all ports together; 0 otherwise
    std::optional<Millis> left;
    // Some ports have not said yet how much they send: `size` is no total, and not shown.
    bool size_partial = false;
};

// "0:07", "12:34", "1:02:03".
std::string DurationText(Millis time);
// "900 B", "17.5 KB", "18.0 MB", in units of 1024.
std::string BytesText(std::uint64_t bytes);
// "upgrading: 1000 done, 3 failed, 1024 ports, 0:52; 11.4 MB of 16.8 MB sent, 0:21 left";
// "...; 0 B sent" while the size is partial.
std::string ProgressLineText(const ProgressState& state);
// The time the rest takes at the pace so far; none before any byte was sent.
std::optional<Millis> TimeLeft(std::uint64_t sent, std::uint64_t size, Millis sending);

class Progress {
public:
    Progress() = default;
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Before the first job.
    void SetMode(ProgressMode mode) { mode_ = mode; }
    // The name of the phase whose job starts next.
    void Phase(std::string_view name);

    // The engine's reports. Each returns false when writing to stderr failed.
    bool JobStarted(std::size_t ports);
    bool PortMessage(std::int32_t com, std::string_view text);
    bool PortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total);
    void PortFailed(std::int32_t com);
    bool PortBar(std::int32_t com, const zb::ProgressBarState& bar);
    bool JobFinished();

    // A line of its own on stderr, above the progress line, from any thread.
    void Note(std::string_view line);
    // Ends the progress line for good, before the results are printed; nothing is drawn
    // after it. Any thread.
    void Close();

private:
    using Clock = std::chrono::steady_clock;
    bool Draw(bool end_line);  // under mutex_
    void Tick();

    ProgressMode mode_ = ProgressMode::Lines;
    std::string phase_ = "working";
    std::mutex mutex_;
    std::condition_variable ticked_;
    bool job_running_ = false;
    bool closed_ = false;
    std::thread ticker_;
    std::optional<Clock::time_point> run_start_;
    std::optional<Clock::time_point> sending_start_;
    Clock::time_point last_draw_{};
    std::size_t ports_ = 0;
    std::size_t line_width_ = 0;  // of the line last drawn, to blank what a shorter one leaves
    std::set<std::int32_t> ended_;
    std::set<std::int32_t> failed_;
    std::set<std::int32_t> failure_untold_;  // failed, its message still to be printed
    std::map<std::int32_t, std::pair<std::uint64_t, std::uint64_t>> bytes_;  // done, total
    std::uint64_t sent_ = 0;
    std::uint64_t size_ = 0;
    std::map<std::int32_t, int> tenths_shown_;
};

}  // namespace zbctl
