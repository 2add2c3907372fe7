#include "job_test_support.h"

#include <atomic>
#include <filesystem>
#include <fstream>

#include "jobs/engine/pause.h"
#include "jobs/engine/steps.h"
#include "scratch_dir.h"

namespace zbtest {

void RecordingReporter::Add(Event e) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(e));
}

void RecordingReporter::JobStarted(const std::vector<std::int32_t>& coms) {
    for (std::int32_t com : coms) Add(MakeEvent(Event::Started, com));
}

void RecordingReporter::SetPortMessage(std::int32_t com, std::string_view text) {
    Event e = MakeEvent(Event::Message, com);
    e.text = std::string(text);
    Add(std::move(e));
}

void RecordingReporter::SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) {
    Event e = MakeEvent(Event::Progress, com);
    e.done = done;
    e.total = total;
    Add(std::move(e));
    if (on_progress) on_progress(com, done);
}

void RecordingReporter::SetProgressBar(std::int32_t com, const zb::ProgressBarState& state) {
    Event e = MakeEvent(Event::Bar, com);
    e.bar = state;
    Add(std::move(e));
    if (on_bar) on_bar(com, state);
}

void RecordingReporter::SetPortFailed(std::int32_t com) {
    Add(MakeEvent(Event::Failed, com));
}

void RecordingReporter::SetJobMode(zb::JobMode mode) {
    Event e = MakeEvent(Event::Mode);
    e.mode = mode;
    Add(std::move(e));
}

void RecordingReporter::JobFinished() {
    Add(MakeEvent(Event::Finished));
}

std::vector<Event> RecordingReporter::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<Event> RecordingReporter::EventsOf(std::int32_t com, Event::Kind kind) const {
    std::vector<Event> out;
    for (const Event& e : Events())
        if (e.com == com && e.kind == kind) out.push_back(e);
    return out;
}

std::vector<std::string> RecordingReporter::Messages(std::int32_t com) const {
    std::vector<std::string> out;
    for (const Event& e : EventsOf(com, Event::Message)) out.push_back(e.text);
    return out;
}

std::vector<std::int32_t> RecordingReporter::StartedComs() const {
    std::vector<std::int32_t> out;
    for (const Event& e : Events())
        if (e.kind == Event::Started) out.push_back(e.com);
    return out;
}

std::vector<zb::JobMode> RecordingReporter::ModeChanges() const {
    std::vector<zb::JobMode> out;
    for (const Event& e : Events())
        if (e.kind == Event::Mode) out.push_back(e.mode);
    return out;
}

void RecordingReporter::Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

void RunJob(zb::JobEngine& job, const zb::PortTable& table, std::uint32_t count,
            const std::string& fw_file) {
    job.LoadPorts(table);
    job.SetPortCount(count);
    job.SetFirmwareFile(fw_file);
    job.Run();
}

namespace {

// Temporary files live in their own scratch folder, made on first use.
const std::string& TempDir() {
    static const ScratchDir dir("zbimages");
    return dir.path();
}

}  // namespace

TempFile::TempFile(const std::vector<std::uint8_t>& bytes) {
    static std::atomic<int> next{0};
    EXPECT_FALSE(TempDir().empty());
    path_ = TempDir() + "/image-" + std::to_string(next++);
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << path_;
}

TempFile::~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

void TempFile::Truncate(std::size_t size) const {
    std::error_code ec;
    std::filesystem::resize_file(path_, size, ec);
    EXPECT_FALSE(ec) << ec.message();
}

namespace {

const PortMap* ports = nullptr;

// Jobs leave a port open for the next job. The link goes when its test ends, so that the next
// test can open the same COM number: on Windows a port is one program's at a time.
class LinkCloser : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override {
        for (zb::PortRow& row : TakeRowsMade()) zb::RemovePort(row);
    }
};

}  // namespace

const PortMap& Ports() {
    return *ports;
}

}  // namespace zbtest

// The port map and the pause scale are set before any test starts a thread.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const zbtest::PortMap ports;
    if (ports.path().empty()) return 1;
    zbtest::ports = &ports;
    zb::SetPauseScale(0.01);
    zbtest::KeepRowsMade();
    ::testing::UnitTest::GetInstance()->listeners().Append(new zbtest::LinkCloser);
    return RUN_ALL_TESTS();
}
