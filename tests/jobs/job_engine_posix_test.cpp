// Whole jobs against what only Linux can set up: a port held through flock, a process that
// may create no thread, and modems with answers zbsim never gives on pseudo-terminals of the
// test's own.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "job_test_support.h"
#include "jobs/engine/job_engine.h"
#include "sim/clock.h"
#include "sim/modem.h"
#include "sim/pty.h"

namespace zbtest {
namespace {

using Strings = std::vector<std::string>;

TEST(JobEngine, PortHeldElsewhereFailsToOpenAndDropsItsRequests) {
    const auto modems = Ports().StartModems(2);
    const int fd = ::open(modems->device_path(1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    zb::PortTable table = TableWith({1, 2});
    Rec(table, 1).apply_pending = true;
    Rec(table, 1).upgrade_pending = true;
    Rec(table, 2).apply_pending = true;

    RecordingReporter reporter;
    zb::JobEngine job(reporter);
    RunJob(job, table, 2);
    ::close(fd);

    const zb::DeviceRecord& held = Rec(table, 1);
    EXPECT_EQ(reporter.Messages(1), (Strings{"Inital serial port", "Open port fail"}));
    EXPECT_TRUE(held.job_failed);
    EXPECT_FALSE(held.is_open || held.connected || held.link);
    EXPECT_FALSE(held.apply_pending || held.upgrade_pending);
    EXPECT_EQ(held.progress_bar->State().position, held.progress_bar->State().max);
    EXPECT_EQ(job.FailCount(), 1u);
    EXPECT_EQ(job.ApplyFailCount(), 0u);
    EXPECT_FALSE(Rec(table, 2).job_failed);
}

// Start in a child process that may create no thread: it throws, and reports and changes
// nothing. Exit codes: 0 as expected, 77 no way to limit threads here, others a fault.
int StartWithoutThreads() {
    if (::geteuid() == 0 && ::setresuid(65534, 65534, 65534) != 0) return 77;
    const rlimit none{0, 0};
    if (::setrlimit(RLIMIT_NPROC, &none) != 0) return 77;
    pthread_t probe{};
    if (::pthread_create(
            &probe, nullptr, [](void*) -> void* { return nullptr; }, nullptr) == 0) {
        ::pthread_join(probe, nullptr);
        return 77;
    }
    zb::PortTable table = TableWith({1});
    Rec(table, 1).job_failed = true;
    RecordingReporter reporter;
    zb::JobEngine job(reporter);
    job.LoadPorts(table);
    job.SetPortCount(1);
    try {
        job.Start();
        return 1;
    } catch (const std::system_error&) {
    }
    if (!reporter.Events().empty()) return 2;
    if (job.IsRunning()) return 3;
    if (!Rec(table, 1).job_failed || Rec(table, 1).progress_bar) return 4;
    return 0;
}

TEST(JobEngine, StartThatCannotCreateItsSupervisorReportsNothing) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(StartWithoutThreads());
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "threads cannot be limited here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A virtual modem on COM `com` whose security answer is replaced by `answer`, for answers
// zbsim never gives (it sends "0" or "1" and the key).
class SecurityAnswerPeer {
public:
    SecurityAnswerPeer(int com, std::string answer)
        : modem_(com, 0, nullptr), answer_(std::move(answer)) {
        std::string error;
        EXPECT_TRUE(zbsim::open_pty(&pty_, &error)) << error;
        link_ = Ports().path() + "/com" + std::to_string(com);
        EXPECT_TRUE(zbsim::write_link(link_, pty_.path, &error)) << error;
        thread_ = std::thread([this] { Serve(); });
    }
    ~SecurityAnswerPeer() {
        stop_ = true;
        thread_.join();
        zbsim::remove_link(link_, pty_.path);
        zbsim::close_pty(&pty_);
    }
    SecurityAnswerPeer(const SecurityAnswerPeer&) = delete;
    SecurityAnswerPeer& operator=(const SecurityAnswerPeer&) = delete;

private:
    void Serve() {
        while (!stop_) {
            pollfd p{pty_.master, POLLIN, 0};
            std::uint8_t buf[512];
            if (::poll(&p, 1, 10) <= 0) continue;
            const ssize_t n = ::read(pty_.master, buf, sizeof buf);
            if (n <= 0) continue;
            modem_.receive(buf, static_cast<std::size_t>(n), zbsim::mono_now());
            std::string out;
            modem_.run(zbsim::mono_now(), &out);
            if (out.rfind("!GZS", 0) == 0) out = "!GZS00000" + answer_ + "\n";
            EXPECT_EQ(::write(pty_.master, out.data(), out.size()),
                      static_cast<ssize_t>(out.size()));
        }
    }

    zbsim::Modem modem_;
    std::string answer_;
    zbsim::Pty pty_;
    std::string link_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(JobEngine, OnlyAnExplicitZeroReadsAsSecurityOff) {
    const std::string old_key = "00112233445566778899AABBCCDDEEFF";
    const std::string new_key = "FFEEDDCCBBAA99887766554433221100";
    const struct {
        std::string answer;
        bool was_on, on;
        std::string key;
    } cases[] = {
        {"", false, true, ""},  // no flag at all: not "off", or an apply would switch it off
        {"0", true, false, old_key},
        {"1" + new_key, false, true, new_key},
    };
    for (const auto& c : cases) {
        SecurityAnswerPeer peer(1000, c.answer);
        zb::PortTable table = TableWith({1000});
        zb::DeviceRecord& r = Rec(table, 1000);
        r.security = c.was_on;
        zb::SetText(r.aeskey, old_key);
        RecordingReporter reporter;
        zb::JobEngine job(reporter);
        RunJob(job, table, 1);
        EXPECT_EQ(job.FailCount(), 0u) << c.answer;
        EXPECT_EQ(r.security, c.on) << c.answer;
        EXPECT_EQ(zb::TextOf(r.aeskey), c.key) << c.answer;
        zb::UnmarkPort(table[999]);
    }
}

}  // namespace
}  // namespace zbtest
