// Port links, the zbsim program itself, and a full bank of 1024 modems.
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>

#include "sim_test.h"

namespace {

namespace fs = std::filesystem;
using simtest::RawClient;
using simtest::TempDir;

std::size_t open_descriptors() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

bool is_link(const std::string& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

TEST(PortsDir, LinksAreWrittenOverStaleOnesAndRemovedOnStop) {
    TempDir dir;
    const std::string ports = dir.path() + "/deep/ports";
    fs::create_directories(ports);
    fs::create_symlink("/nonexistent/old", ports + "/com3");

    zbsim::SimOptions options;
    options.count = 3;
    options.first_com = 2;
    options.ports_dir = ports;
    options.pacing = false;
    zbsim::Simulator sim(options);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    for (int com = 2; com <= 4; ++com) {
        const std::string link = ports + "/com" + std::to_string(com);
        ASSERT_TRUE(is_link(link)) << link;
        EXPECT_EQ(fs::read_symlink(link).string(), sim.device_path(com));
    }
    EXPECT_EQ(sim.device_path(1), "");
    EXPECT_EQ(sim.device_path(5), "");
    {
        RawClient client(ports + "/com3");
        ASSERT_TRUE(client.ok());
        EXPECT_EQ(client.ask("?GBN0000"), "!GBN00000SIM-3");
    }
    // A client coming back after the last one left is served as well.
    {
        RawClient client(ports + "/com3");
        EXPECT_EQ(client.ask("?GZC0000"), "!GZC0000011");
    }
    sim.stop();
    for (int com = 2; com <= 4; ++com) EXPECT_FALSE(is_link(ports + "/com" + std::to_string(com)));
}

TEST(PortsDir, SomethingElseInTheWayFailsTheStartAndLeavesNothingBehind) {
    TempDir dir;
    fs::create_directories(dir.path() + "/com2");
    zbsim::SimOptions options;
    options.count = 2;
    options.ports_dir = dir.path();
    const std::size_t before = open_descriptors();
    {
        zbsim::Simulator sim(options);
        std::string error;
        EXPECT_FALSE(sim.start(&error));
        EXPECT_NE(error.find("com2"), std::string::npos) << error;
    }
    EXPECT_FALSE(is_link(dir.path() + "/com1"));
    EXPECT_EQ(open_descriptors(), before);
}

// Raises the descriptor limit for `modems` modems, or says why it cannot.
bool enough_descriptors(int modems) {
    const rlim_t needed = 2 * static_cast<rlim_t>(modems) + 64;
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) != 0) return false;
    if (lim.rlim_cur >= needed) return true;
    if (lim.rlim_max < needed) return false;
    lim.rlim_cur = needed;
    return setrlimit(RLIMIT_NOFILE, &lim) == 0;
}

TEST(Scale, ThousandAndTwentyFourModemsStartAnswerAndStop) {
    if (!enough_descriptors(1024)) GTEST_SKIP() << "RLIMIT_NOFILE cannot be raised far enough";
    const std::size_t before = open_descriptors();
    {
        zbsim::SimOptions options;
        options.count = 1024;
        zbsim::Simulator sim(options);
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        for (int com : {1, 513, 1024}) {
            RawClient client(sim.device_path(com));
            ASSERT_TRUE(client.ok()) << com;
            EXPECT_EQ(client.ask("?GBN0000"), "!GBN00000SIM-" + std::to_string(com));
        }
        sim.stop();
    }
    EXPECT_EQ(open_descriptors(), before);
}

// ---- The program ------------------------------------------------------------------------

class Program {
public:
    explicit Program(std::vector<std::string> args) {
        args.insert(args.begin(), ZBSIM_PATH);
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        if (posix_spawn(&pid_, ZBSIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }
    // The next line of its standard output without the newline; "" at its end or when
    // none comes within the wait.
    std::string line() {
        std::string s;
        char c = 0;
        while (read_char(out_, &c) && c != '\n') s.push_back(c);
        return s;
    }
    std::string all_output() { return drain(out_); }
    std::string all_errors() { return drain(err_); }
    // Exit status, after an optional signal.
    int finish(int signal_number = 0) {
        if (pid_ <= 0) return -1;
        if (signal_number != 0) kill(pid_, signal_number);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    static bool read_char(int fd, char* c) {
        pollfd p{fd, POLLIN, 0};
        return fd >= 0 && ::poll(&p, 1, simtest::kWaitMs) == 1 && ::read(fd, c, 1) == 1;
    }
    static std::string drain(int fd) {
        std::string s;
        char c = 0;
        while (read_char(fd, &c)) s.push_back(c);
        return s;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

TEST(Program, ServesUntilTerminatedAndCleansUp) {
    TempDir dir;
    const std::string ports = dir.path() + "/ports";
    const std::string log = dir.path() + "/requests.log";
    Program zbsim({"--count", "2", "--first-com", "7", "--ports-dir", ports, "--no-pacing",
                   "--fault", "refuse:COM8:ZC", "--log=" + log});
    const std::string first = zbsim.line();
    const std::string second = zbsim.line();
    ASSERT_EQ(zbsim.line(), "ready") << first << "\n" << second << "\n" << zbsim.all_errors();
    EXPECT_EQ(first, "COM7 " + fs::read_symlink(ports + "/com7").string());
    EXPECT_EQ(second, "COM8 " + fs::read_symlink(ports + "/com8").string());
    {
        RawClient com7(ports + "/com7");
        RawClient com8(ports + "/com8");
        EXPECT_EQ(com7.ask("?GZC0000"), "!GZC0000011");
        EXPECT_EQ(com8.ask("?GZC0000"), "!GZC10000");
    }
    EXPECT_EQ(zbsim.finish(SIGTERM), 0);
    EXPECT_FALSE(is_link(ports + "/com7"));
    EXPECT_FALSE(is_link(ports + "/com8"));
    EXPECT_EQ(simtest::read_file(log), "COM7 ?GZC0000\nCOM8 ?GZC0000\n");
}

TEST(Program, HelpDocumentsOptionsAndFaults) {
    Program zbsim({"--help"});
    const std::string help = zbsim.all_output();
    EXPECT_EQ(zbsim.finish(), 0);
    for (const char* word : {"--count", "--first-com", "--ports-dir", "--no-pacing", "--log",
                             "--fault", "stop-after", "mute-block", "loader-ds"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
}

// The refusals themselves are sim_args_test's.
TEST(Program, BadUsageExitsWithTwo) {
    Program zbsim({"--count", "2", "--bogus"});
    EXPECT_EQ(zbsim.finish(), 2);
    EXPECT_NE(zbsim.all_errors().find("zbsim: unknown argument \"--bogus\"\nTry 'zbsim --help'."),
              std::string::npos)
        << zbsim.all_errors();
}

}  // namespace
