#include "cli/progress.h"

#include <cstdio>

#include "cli/cli_output.h"

namespace zbctl {
namespace {

// A line drawn more often than this is not read, only written: a thousand ports' blocks
// would otherwise redraw it tens of thousands of times a second.
constexpr Millis kRedrawGap{100};
constexpr Millis kTick{1000};

}  // namespace

std::string DurationText(Millis time) {
    const auto seconds = static_cast<long long>(time.count() / 1000);
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

std::string BytesText(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    char text[32];
    const double kb = static_cast<double>(bytes) / 1024;
    if (kb < 1024)
        std::snprintf(text, sizeof text, "%.1f KB", kb);
    else
        std::snprintf(text, sizeof text, "%.1f MB", kb / 1024);
    return text;
}

std::string ProgressLineText(const ProgressState& state) {
    std::string line = std::string(state.phase) + ": " + std::to_string(state.done) + " done, " +
                       std::to_string(state.failed) + " failed, " + std::to_string(state.total) +
                       (state.total == 1 ? " port, " : " ports, ") + DurationText(state.elapsed);
    if (state.size_partial) {
        line += "; " + BytesText(state.sent) + " sent";
    } else if (state.size != 0) {
        line += "; " + BytesText(state.sent) + " of " + BytesText(state.size) + " sent";
        if (state.left) line += ", " + DurationText(*state.left) + " left";
    }
    return line;
}

std::optional<Millis> TimeLeft(std::uint64_t sent, std::uint64_t size, Millis sending) {
    if (sent == 0 || sent >= size)
        return sent >= size && sent != 0 ? std::optional(Millis{0}) : std::nullopt;
    const double per_byte = static_cast<double>(sending.count()) / static_cast<double>(sent);
    return Millis{static_cast<long long>(per_byte * static_cast<double>(size - sent))};
}

Progress::~Progress() {
    {
        const std::lock_guard lock(mutex_);
        job_running_ = false;
    }
    ticked_.notify_all();
    if (ticker_.joinable()) ticker_.join();
}

void Progress::Phase(std::string_view name) {
    const std::lock_guard lock(mutex_);
    phase_ = name;
}

bool Progress::JobStarted(std::size_t ports) {
    if (mode_ != ProgressMode::Line) return true;
    {
        const std::lock_guard lock(mutex_);
        if (!run_start_) run_start_ = Clock::now();
        sending_start_.reset();
        ports_ = ports;
        ended_.clear();
        failed_.clear();
        failure_untold_.clear();
        bytes_.clear();
        sent_ = size_ = 0;
        job_running_ = true;
        if (!Draw(false)) return false;
    }
    // The previous job's ticker has been joined by its JobFinished.
    ticker_ = std::thread([this] { Tick(); });
    return true;
}

bool Progress::PortMessage(std::int32_t com, std::string_view text) {
    const std::lock_guard lock(mutex_);
    if (mode_ == ProgressMode::Lines)
        return std::fprintf(stderr, "COM%d: %s\n", com, Printable(text).c_str()) >= 0;
    if (mode_ != ProgressMode::Line || failure_untold_.erase(com) == 0) return true;
    const std::string said = "COM" + std::to_string(com) + ": " + Printable(text);
    const std::string blank(line_width_ > said.size() ? line_width_ - said.size() : 0, ' ');
    line_width_ = 0;
    return std::fprintf(stderr, "\r%s%s\n", said.c_str(), blank.c_str()) >= 0 && Draw(false);
}

bool Progress::PortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) {
    if (total == 0) return true;
    const std::lock_guard lock(mutex_);
    if (mode_ == ProgressMode::Lines) {
        const auto tenth = static_cast<int>(done * 10 / total);
        int& shown = tenths_shown_[com];
        if (done == 0) shown = 0;
        if (tenth <= shown) return true;
        shown = tenth;
        return std::fprintf(stderr, "COM%d: %d%% (%llu / %llu)\n", com, tenth * 10,
                            static_cast<unsigned long long>(done),
                            static_cast<unsigned long long>(total)) >= 0;
    }
    if (mode_ != ProgressMode::Line) return true;
    auto& [port_done, port_total] = bytes_[com];
    sent_ = sent_ - port_done + done;
    size_ = size_ - port_total + total;
    port_done = done;
    port_total = total;
    if (done != 0 && !sending_start_) sending_start_ = Clock::now();
    return Draw(false);
}

void Progress::PortFailed(std::int32_t com) {
    if (mode_ != ProgressMode::Line) return;
    const std::lock_guard lock(mutex_);
    failed_.insert(com);
    failure_untold_.insert(com);
}

bool Progress::PortBar(std::int32_t com, const zb::ProgressBarState& bar) {
    if (mode_ != ProgressMode::Line || bar.max == 0 || bar.position < bar.max) return true;
    const std::lock_guard lock(mutex_);
    ended_.insert(com);
    return Draw(false);
}

bool Progress::JobFinished() {
    if (mode_ != ProgressMode::Line) return true;
    bool ok = true;
    {
        const std::lock_guard lock(mutex_);
        job_running_ = false;
        last_draw_ = {};
        ok = Draw(true);
    }
    ticked_.notify_all();
    if (ticker_.joinable()) ticker_.join();
    return ok;
}

void Progress::Note(std::string_view line) {
    const std::lock_guard lock(mutex_);
    const std::string blank(line_width_ > line.size() ? line_width_ - line.size() : 0, ' ');
    std::fprintf(stderr, "%s%.*s%s\n", line_width_ != 0 ? "\r" : "", static_cast<int>(line.size()),
                 line.data(), blank.c_str());
    line_width_ = 0;
    if (job_running_) (void)Draw(false);
}

void Progress::Close() {
    const std::lock_guard lock(mutex_);
    if (line_width_ != 0) std::fputc('\n', stderr);
    line_width_ = 0;
    closed_ = true;
}

bool Progress::Draw(bool end_line) {
    if (closed_) return true;
    const Clock::time_point now = Clock::now();
    if (!end_line && now - last_draw_ < kRedrawGap && line_width_ != 0) return true;
    last_draw_ = now;
    ProgressState state;
    state.phase = phase_;
    for (const std::int32_t com : ended_) state.done += failed_.count(com) == 0 ? 1 : 0;
    state.failed = failed_.size();
    state.total = ports_;
    state.elapsed = std::chrono::duration_cast<Millis>(now - run_start_.value_or(now));
    state.sent = sent_;
    state.size = size_;
    // Each port says its size when its transfer begins, one after another: until every port
    // has said it or ended, the sum would grow under the reader's eyes.
    std::size_t sized = bytes_.size();
    for (const std::int32_t com : ended_) sized += bytes_.count(com) == 0 ? 1 : 0;
    for (const std::int32_t com : failed_)
        sized += bytes_.count(com) == 0 && ended_.count(com) == 0 ? 1 : 0;
    state.size_partial = size_ != 0 && sized < ports_;
    if (sending_start_ && !state.size_partial)
        state.left =
            TimeLeft(sent_, size_, std::chrono::duration_cast<Millis>(now - *sending_start_));
    const std::string line = ProgressLineText(state);
    // Blanks rather than an erase sequence: a console that knows no escapes shows them too.
    const std::string blank(line_width_ > line.size() ? line_width_ - line.size() : 0, ' ');
    line_width_ = end_line ? 0 : line.size();
    const int printed =
        std::fprintf(stderr, "\r%s%s%s", line.c_str(), blank.c_str(), end_line ? "\n" : "");
    return printed >= 0 && std::fflush(stderr) == 0;
}

void Progress::Tick() {
    std::unique_lock lock(mutex_);
    while (job_running_) {
        if (ticked_.wait_for(lock, kTick, [this] { return !job_running_; })) break;
        last_draw_ = {};
        (void)Draw(false);
    }
}

}  // namespace zbctl
