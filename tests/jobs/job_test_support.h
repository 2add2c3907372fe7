// Shared pieces of the job tests: a recording reporter, virtual modems on a private port
// map, and firmware images.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "firmware_image.h"
#include "jobs/engine/job_engine.h"
#include "jobs/model/port_table.h"
#include "port_map.h"
#include "sim/simulator.h"

namespace zbtest {

// The program's port map, made by main() before any test starts.
const PortMap& Ports();

// Every report, in the order received.
struct Event {
    enum Kind { Started, Message, Progress, Bar, Failed, Mode, Finished } kind = Started;
    std::int32_t com = 0;
    std::string text;
    std::uint64_t done = 0, total = 0;
    zb::ProgressBarState bar;
    zb::JobMode mode = zb::JobMode::Normal;
};

inline Event MakeEvent(Event::Kind kind, std::int32_t com = 0) {
    Event e;
    e.kind = kind;
    e.com = com;
    return e;
}

class RecordingReporter : public zb::JobReporter {
public:
    void JobStarted(const std::vector<std::int32_t>& coms) override;
    void SetPortMessage(std::int32_t com, std::string_view text) override;
    void SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) override;
    void SetProgressBar(std::int32_t com, const zb::ProgressBarState& state) override;
    void SetPortFailed(std::int32_t com) override;
    void SetJobMode(zb::JobMode mode) override;
    void JobFinished() override;

    std::vector<Event> Events() const;
    std::vector<Event> EventsOf(std::int32_t com, Event::Kind kind) const;
    std::vector<std::string> Messages(std::int32_t com) const;
    std::vector<std::int32_t> StartedComs() const;
    std::vector<zb::JobMode> ModeChanges() const;
    void Clear();

    // Called on the reporting thread after each progress report (e.g. to stop a job).
    std::function<void(std::int32_t com, std::uint64_t done)> on_progress;
    // The same after each bar report.
    std::function<void(std::int32_t com, const zb::ProgressBarState& bar)> on_bar;

private:
    void Add(Event e);
    mutable std::mutex mutex_;
    std::vector<Event> events_;
};

// Runs one job to its end with the engine.
void RunJob(zb::JobEngine& job, const zb::PortTable& table, std::uint32_t count,
            const std::string& fw_file = "");

// A temporary file removed with the object.
class TempFile {
public:
    explicit TempFile(const std::vector<std::uint8_t>& bytes);
    ~TempFile();
    const std::string& path() const { return path_; }
    void Truncate(std::size_t size) const;

private:
    std::string path_;
};

}  // namespace zbtest
