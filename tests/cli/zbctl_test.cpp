// zbctl as scripts use it: the built binary against virtual modems on a private port map.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>

#include "version.h"

#include "cli/cli_output.h"
#include "firmware_image.h"
#include "holding_process.h"
#include "jobs/engine/steps.h"
#include "modem_bank.h"
#include "scratch_dir.h"
#include "sim/simulator.h"
#include "spawned_program.h"
#include "wait_until.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

using zbtest::ReadAll;

class Zbctl : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty());
        dir_ = scratch_.path();
    }
    void TearDown() override {
        sim_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    zbsim::Simulator& StartModems(int count, int first_com) {
        sim_ = zbtest::StartModems(dir_, count, first_com);
        return *sim_;
    }

    // Starts zbctl with --ports-dir first; stdout and stderr go to files that Finish reads,
    // or both to `output` when one is given.
    pid_t Start(std::vector<std::string> args, bool with_dir = true, int output = -1) {
        if (with_dir) args.insert(args.begin(), {"--ports-dir", dir_});
        args.insert(args.begin(), ZBCTL_PATH);
        const pid_t pid = zbtest::SpawnProgram(std::move(args), OutPath(), ErrPath(), output);
        EXPECT_NE(pid, -1);
        return pid;
    }
    Result Finish(pid_t pid) {
        Result r;
        if (pid < 0) return r;
        int status = 0;
        EXPECT_EQ(::waitpid(pid, &status, 0), pid);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = ReadAll(OutPath());
        r.err = ReadAll(ErrPath());
        return r;
    }
    Result Run(std::vector<std::string> args, bool with_dir = true) {
        return Finish(Start(std::move(args), with_dir));
    }
    // Waits, with a generous deadline, until the running zbctl has said `text` on stderr.
    bool SaidOnStderr(const std::string& text) {
        return zbtest::WaitUntil(
            [&] { return ReadAll(ErrPath()).find(text) != std::string::npos; });
    }
    std::string OutPath() const { return dir_ + "/stdout"; }
    std::string ErrPath() const { return dir_ + "/stderr"; }

    zbtest::ScratchDir scratch_{"zbctl-test"};
    std::string dir_;
    std::unique_ptr<zbsim::Simulator> sim_;
};

// Whether the terminal at `path` is in exclusive mode. Root opens it even so.
bool Exclusive(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EBUSY;
    int on = 0;
    const bool exclusive = ::ioctl(fd, TIOCGEXCL, &on) == 0 && on != 0;
    ::close(fd);
    return exclusive;
}

// Requests of class `cls` ('G' reads, 'S' writes) the modem received.
int RequestsOfClass(const zbsim::Simulator& sim, int com, char cls) {
    const std::vector<std::string> requests = sim.requests(com);
    return static_cast<int>(std::count_if(requests.begin(), requests.end(), [cls](const auto& r) {
        return r.size() > 1 && r[1] == cls;
    }));
}

std::string DefaultSettingsJson(int com) {
    return "{\"fw_type\": 257, \"baud\": 115200, \"parity\": \"None\", \"databit\": 8, "
           "\"stopbit\": 1, \"interface\": \"RS-232\", \"devtype\": \"Coordinator\", "
           "\"topology\": \"Star\", \"channel\": 11, \"outpower\": 1, \"txmode\": "
           "\"Transparent\", \"panid\": \"1A2B\", \"parent_addr\": \"0000\", \"short_addr\": "
           "\"0000\", \"lnodeid\": 0, \"rnodeid\": 0, \"security\": \"Disable\", "
           "\"startbyte\": \"7E\", "
           "\"aeskey\": \"\", \"fw_version\": \"SIM 1.0.0\", \"devname\": \"SIM-" +
           std::to_string(com) + "\"}";
}

// A router on channel 20 with security on. `panid` is the PAN ID line's value; empty, the
// line is left out.
std::string ConfigText(const std::string& panid) {
    std::string text =
        "[Serial]\nBaud Rate=15\nParity=2\nData Bit=8\nStop Bit=1\nInterface=0\n"
        "[ZigBee]\nDevice Name=LINE-7\nDevice Type=1\nLocal Node ID=9\nDestination Node ID=0\n";
    if (!panid.empty()) text += "PAN ID=" + panid + "\n";
    return text +
           "Channel=9\nOutput Power=3\nTopology=2\nMode=0\nStart Byte=0x7e\nSecurity=1\n"
           "AES Key=00112233445566778899AABBCCDDEEFF\n";
}

TEST_F(Zbctl, ReadPrintsOneJsonObjectPerPortInComOrder) {
    StartModems(2, 3);
    const Result r =
        Run({"--json", "--no-pauses", "--tag", "operator=ana", "read", "COM4", "com3"});
    EXPECT_EQ(r.status, 0) << r.err;
    // One ID for the whole run, in every object and after the results on stderr.
    std::smatch id;
    ASSERT_TRUE(std::regex_search(r.out, id, std::regex("\"run_id\": \"([0-9a-f]{32})\"")));
    EXPECT_NE(r.err.find("\nrun " + id[1].str() + "\n"), std::string::npos) << r.err;
    const std::string label =
        ", \"run_id\": \"" + id[1].str() + "\", \"tags\": {\"operator\": \"ana\"}";
    const std::string expected =
        "[\n"
        "  {\"com\": 3, \"ok\": true, \"message\": \"Get device's settings\", \"connected\": true, "
        "\"upgrade_wait\": false, \"settings\": " +
        DefaultSettingsJson(3) + ", \"holder\": null" + label +
        ", \"error\": \"\"},\n"
        "  {\"com\": 4, \"ok\": true, \"message\": \"Get device's settings\", \"connected\": true, "
        "\"upgrade_wait\": false, \"settings\": " +
        DefaultSettingsJson(4) + ", \"holder\": null" + label +
        ", \"error\": \"\"}\n"
        "]\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_NE(r.err.find("COM3: Inital serial port\n"), std::string::npos);
    EXPECT_NE(r.err.find("COM4: Get device's settings\n"), std::string::npos);

    const Result table = Run({"--no-pauses", "read", "COM3"});
    EXPECT_EQ(table.status, 0);
    EXPECT_NE(table.out.find("COM3  ok      Get device's settings  SIM-3"), std::string::npos)
        << table.out;
}

TEST_F(Zbctl, ApplyWritesOnlyThePortsWhoseReadSucceeded) {
    zbsim::Simulator& sim = StartModems(2, 3);
    sim.add_fault(4, zbsim::Fault::Refusing("ZP"));
    const Result r = Run({"--json", "--no-pauses", "apply", "--set", "channel=16", "--set",
                          "devname=LINE \"7\"", "--set=panid=0x2A2B", "COM3", "COM4"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("\"com\": 3, \"ok\": true, \"message\": \"Apply device's settings\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"devname\": \"LINE \\\"7\\\"\""), std::string::npos) << r.out;
    const zbsim::ModemSnapshot applied = sim.snapshot(3);
    EXPECT_EQ(applied.settings.channel, 16);
    EXPECT_EQ(applied.settings.panid, 0x2A2B);
    EXPECT_EQ(applied.settings.devname, "LINE \"7\"");
    EXPECT_EQ(applied.restarts, 1u);
    const zbsim::ModemSnapshot skipped = sim.snapshot(4);
    EXPECT_EQ(skipped.settings.channel, 11);
    EXPECT_EQ(skipped.restarts, 0u);
}

TEST_F(Zbctl, BadInputIsRefusedBeforeAnyPortIsTouched) {
    zbsim::Simulator& sim = StartModems(1, 3);
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"apply", "--set", "panid=0xFFFE", "COM3"}, "panid must be 0000 to FFFD, not 0xFFFE"},
        {{"apply", "--set", "channel=27", "COM3"}, "channel must be 11 to 26, not 27"},
        {{"apply", "--set", "Channel=27", "COM3"}, "--set channel=27: channel must be 11 to 26"},
        {{"apply", "--set", "parity=mark", "COM3"}, "parity must be one of None, Odd, Even, not"},
        {{"apply", "--set", "colour=2", "COM3"}, "unknown field"},
        {{"apply", "--set", "fw_version=9", "COM3"}, "read from the device"},
        {{"apply", "--set", "security=enable", "COM3"}, "security=Enable needs --set aeskey"},
        {{"apply", "--set", "devname=A\x1b[2J", "COM3"}, "devname=A\\x1b[2J: devname"},
        {{"apply", "--set", "devname=caf\xc3\xa9", "COM3"}, "devname=caf\\xc3\\xa9: devname"},
        {{"apply", "--set", "channel=\x1b[2J", "COM3"}, "channel must be 11 to 26, not \\x1b[2J"},
        {{"apply", "COM3"}, "needs at least one --set"},
        {{"read"}, "no port given"},
        {{"read", "COMx"}, "is not a port"},
        {{"read", "COM1025"}, "is not a port"},
        {{"read", "COM3", "3"}, "named twice"},
        {{"apply", "--set", "lnodeid={com+97}", "COM3"},
         "COM3 (n=1): --set lnodeid=100: lnodeid must be 0 to 99"},
        {{"apply", "--set", "devname=L{com+x}", "COM3"}, "\"{com+x}\" is not a placeholder"},
        {{"apply", "--set", "aeskey={com+C0FFEE}", "COM3"}, "(not shown): a placeholder in it"},
        {{"read", "--verify", "COM3"}, "--verify belongs to the apply, import and watch"},
        {{"read", "--dry-run", "COM3"}, "--dry-run belongs to the apply, import and watch"},
        {{"apply", "--dry-run", "--verify", "--set", "channel=12", "COM3"}, "takes no --verify"},
        {{"read", "--retry", "101", "COM3"}, "--retry takes a number from 0 to 100"},
        {{"read", "--report", dir_ + "/refused.txt", "COM3"}, "not a report of this program"},
        {{"read", "--report", dir_ + "/none/r.csv", "COM3"}, "none: No such file"},
        {{"read", "--report", dir_ + "/notes.json", "COM3"}, "not a JSON array of report rows"},
        {{"read", "--report", dir_ + "/refused.db", "COM1000"}, "COM1000: /dev/ttyS999 does not"},
        {{"watch", "--report", dir_ + "/refused.db", "--upgrade", dir_ + "/text.rom"}, "text.rom"},
        {{"read", "COM7"}, "COM7: " + dir_ + "/com7 is not a link to a device"},
        {{"read", "COM8"}, "COM8: " + dir_ + "/refused.txt is not a serial port"},
        {{"frobnicate", "COM3"}, "unknown command"},
        {{"help", "frobnicate"}, "zbctl: unknown command \"frobnicate\"\nTry 'zbctl --help'."},
        {{"image-info", dir_ + "/text.rom"}, "text.rom: not a firmware image: its first 4 bytes"},
        {{"upgrade", "/nonexistent.rom", "COM3"}, "/nonexistent.rom: No such file"},
        {{"upgrade", dir_ + "/text.rom", "COM3"},
         "text.rom: not a firmware image: its first 4 bytes hold no firmware type"},
        {{"export", dir_ + "/refused.txt", "COM3"}, "refused.txt: not a directory"},
        {{"import", dir_ + "/refused.txt", "COM3"},
         "refused.txt: [ZigBee] PAN ID = 0xFFFE refused (check 9): must be"},
        {{"import", dir_ + "/missing.txt", "COM3"}, "[ZigBee] PAN ID is missing (check 9)"},
        {{"import", dir_ + "/huge.txt", "COM3"},
         "zbctl: cannot read " + dir_ + "/huge.txt: File too large\n"},
        {{"import",
          dir_ + "/b\xc2\x9b"
                 "2J.txt",
          "COM3"},
         "b\\xc2\\x9b2J.txt: [ZigBee] PAN ID"},
        {{"read", "--report", dir_ + "/", "COM3"}, "zbctl: --report needs a file name, not"},
        {{"apply", "--set", "aeskey=C0FFEE", "COM3"}, "--set aeskey=(not shown): aeskey must be"},
        {{"apply", "--set", "AESKY=C0FFEE", "COM3"}, "--set AESKY: unknown field"},
        {{"apply", "--set", "aeskey=@" + dir_ + "/absent.key", "COM3"},
         "cannot read the key file " + dir_ + "/absent.key: No such file"},
        {{"watch", "--set", "aeskey=@" + dir_ + "/bad.key"}, "bad.key: not a key file"},
        {{}, "no command given"},
    };
    std::ofstream(dir_ + "/notes.json") << "[not json at all]";
    std::ofstream(dir_ + "/com7") << "not a device\n";
    fs::create_symlink(dir_ + "/refused.txt", dir_ + "/com8");
    std::ofstream(dir_ + "/refused.txt") << ConfigText("0xFFFE");
    std::ofstream(dir_ + "/missing.txt") << ConfigText("");
    std::ofstream(dir_ + "/huge.txt") << std::string(2 << 20, ';');
    std::ofstream(dir_ + "/text.rom") << "not an image\n";
    std::ofstream(dir_ + "/bad.key") << "C0FFEE\n";
    std::ofstream(dir_ +
                  "/b\xc2\x9b"
                  "2J.txt")
        << ConfigText("0xFFFE");
    for (const auto& c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
        EXPECT_EQ(r.err.find("\xc2\x9b"), std::string::npos);
        EXPECT_EQ(r.err.find("C0FFEE"), std::string::npos);  // no key is repeated
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_EQ(sim.snapshot(3).commands, 0u);
    EXPECT_EQ(ReadAll(dir_ + "/notes.json"), "[not json at all]");
    EXPECT_FALSE(fs::exists(dir_ + "/refused.db"));

    const Result help = Run({"--help"}, false);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: zbctl"), std::string::npos);
    const Result version = Run({"--version"}, false);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("zbctl ") + ZB_VERSION + "\n");
}

TEST_F(Zbctl, APortThatCannotBeOpenedSaysWhy) {
    zbsim::Simulator& sim = StartModems(2, 3);
    // Two numbers for one device: the job's own worker on the other number holds it.
    fs::create_symlink(sim.device_path(3), dir_ + "/com5");
    // COM4 is held by another program.
    zbtest::HoldingProcess holder(sim.device_path(4), "zbholder");
    ASSERT_GT(holder.pid(), 0);
    const std::string pid = std::to_string(holder.pid());
    const Result r = Run({"--json", "--no-pauses", "read", "COM3", "COM4", "COM5"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("{\"com\": 4, \"ok\": false, \"message\": \"Open port fail (held by "
                         "zbholder, pid " +
                         pid + ")\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"holder\": {\"pid\": " + pid + ", \"name\": \"zbholder\"}"),
              std::string::npos)
        << r.out;
    const bool three_opened = r.out.find("{\"com\": 3, \"ok\": true,") != std::string::npos;
    const std::string loser = three_opened ? "5" : "3";
    EXPECT_NE(r.out.find("{\"com\": " + loser +
                         ", \"ok\": false, \"message\": \"Open port fail (already open in this "
                         "program)\""),
              std::string::npos)
        << r.out;
    const std::regex held("(in use|already open)");
    const std::string path = sim.device_path(3);
    std::smatch error;
    EXPECT_TRUE(std::regex_search(r.out, error, std::regex("\"error\": \"" + path + " ([^\"]+)\"")))
        << r.out;
    EXPECT_TRUE(std::regex_search(error.str(1), held)) << r.out;
    EXPECT_NE(r.out.find("\"error\": \"\"}"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("zbctl: COM" + loser + ": " + path + " " + error.str(1) + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("refused the line settings"), std::string::npos) << r.err;
}

// An unplugged adapter of a tray fails its port alone: the others run, and its row says why.
TEST_F(Zbctl, AMappedPortWhoseDeviceIsGoneFailsAlone) {
    StartModems(1, 6);
    fs::create_symlink("/nonexistent/dev", dir_ + "/com97");
    const Result r = Run({"--no-pauses", "--report", dir_ + "/r.csv", "read", "COM6", "COM97"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("still failing: COM97\n"), std::string::npos) << r.err;
    EXPECT_NE(ReadAll(dir_ + "/r.csv").find(",COM97,/nonexistent/dev,read,1,failed,\"Open port"),
              std::string::npos);
}

TEST_F(Zbctl, SecondSignalPrintsWhatWasGatheredAndExits) {
    zbsim::Simulator& sim = StartModems(2, 3);
    sim.add_fault(4, zbsim::Fault::Of(zbsim::FaultKind::Silent));  // its read outlasts both signals
    const pid_t pid = Start({"--no-pauses", "read", "COM3", "COM4"});
    ASSERT_GT(pid, 0);
    const bool started =
        SaidOnStderr("COM3: Get device's settings\n") && SaidOnStderr("COM4: Inital serial port\n");
    EXPECT_TRUE(started);
    ::kill(pid, SIGINT);
    // Signals of one kind do not queue: the second is sent once the first has been taken.
    EXPECT_TRUE(SaidOnStderr("zbctl: stopping"));
    ::kill(pid, SIGINT);
    const Result r = Finish(pid);
    ASSERT_TRUE(started);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.out.find("PORT  RESULT"), std::string::npos) << r.out;
    // COM3's read ends at the first signal, unless it was over already.
    EXPECT_TRUE(std::regex_search(
        r.out, std::regex("COM3  FAILED  (Get device's settings|User abort); Interrupted")))
        << r.out;
    EXPECT_NE(r.out.find("COM4  FAILED  Inital serial port; Interrupted"), std::string::npos)
        << r.out;
}

// However a stop comes, no modem is left half written: before the writes every modem stays
// untouched, during them each finishes its sixteen writes and its restart. Every port gets
// its report row, and no exclusive mode or lock file stays behind. Each stop is sent once
// COM3's requests show the step.
TEST_F(Zbctl, AStopLeavesEveryModemWholeAndEveryPortReleased) {
    zbsim::Simulator& sim = StartModems(2, 3);
    // Slow replies: the stop lands in the middle of the step.
    sim.add_fault(0, zbsim::Fault::Paused(zbsim::FaultKind::Gap, 80));
    const zbsim::ModemSettings fresh[] = {sim.snapshot(3).settings, sim.snapshot(4).settings};
    const std::string locks = dir_ + "/locks";
    fs::create_directory(locks);
    ::setenv("ZBCONFIG_LOCK_DIR", locks.c_str(), 1);
    const std::string image = dir_ + "/fw.rom";
    ASSERT_TRUE(zbtest::WriteFile(image, zbtest::MakeImage("0101", zbtest::PatternBody(4096))));
    const std::string report = dir_ + "/r.csv";

    const std::vector<std::string> apply = {"apply",          "--verify", "--set",
                                            "devname=X{com}", "COM3",     "COM4"};
    enum class How { Signal, TwoSignals, OutputClosed };
    const struct {
        std::vector<std::string> command;
        char step;  // 'G' the first read, 'S' the first write
        How how;
        int signal;
        int status;
    } cases[] = {
        {apply, 'G', How::Signal, SIGINT, 130},
        {{"upgrade", image, "COM3", "COM4"}, 'G', How::Signal, SIGINT, 130},
        {apply, 'S', How::Signal, SIGHUP, 129},
        {apply, 'S', How::TwoSignals, SIGTERM, 143},
        {apply, 'S', How::OutputClosed, 0, 141},
    };
    for (const auto& c : cases) {
        const std::string label =
            c.command[0] + " at " + c.step + ", exit " + std::to_string(c.status);
        std::uint64_t restarts[2] = {};
        for (int i = 0; i < 2; ++i) {
            sim.set_settings(3 + i, fresh[i]);
            sim.clear_requests(3 + i);
            restarts[i] = sim.snapshot(3 + i).restarts;
        }
        fs::remove(report);
        std::vector<std::string> args = {"--no-pauses", "--report", report};
        args.insert(args.end(), c.command.begin(), c.command.end());
        int pipe[2] = {-1, -1};
        if (c.how == How::OutputClosed) {
            ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
        }
        const pid_t pid = Start(args, true, pipe[1]);
        if (pipe[1] >= 0) ::close(pipe[1]);
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(zbtest::WaitUntil([&] { return RequestsOfClass(sim, 3, c.step) > 0; }))
            << label;
        if (c.how == How::OutputClosed) {
            ::close(pipe[0]);
        } else {
            ::kill(pid, c.signal);
        }
        if (c.how == How::TwoSignals) {
            EXPECT_TRUE(SaidOnStderr("zbctl: stopping"));
            ::kill(pid, c.signal);
        }
        const Result r = Finish(pid);
        EXPECT_EQ(r.status, c.status) << label << "\n" << r.err;

        for (int i = 0; i < 2; ++i) {
            const int com = 3 + i;
            const zbsim::ModemSnapshot snap = sim.snapshot(com);
            const int writes = RequestsOfClass(sim, com, 'S');
            const bool untouched = writes == 0 && snap.restarts == restarts[i] &&
                                   snap.mode == zbsim::ModemMode::Application;
            const bool written = writes == 16 && snap.restarts == restarts[i] + 1 &&
                                 snap.settings.devname == "X" + std::to_string(com);
            EXPECT_TRUE(c.step == 'G' ? untouched : untouched || written)
                << label << ": COM" << com << " had " << writes << " writes";
            EXPECT_FALSE(Exclusive(sim.device_path(com))) << label << ": COM" << com;
        }
        EXPECT_TRUE(fs::is_empty(locks)) << label;
        const std::string rows = ReadAll(report);
        EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 3) << label << "\n" << rows;
        if (c.step == 'G') {
            EXPECT_NE(rows.find(",User abort,"), std::string::npos) << rows;
        }
    }
    ::unsetenv("ZBCONFIG_LOCK_DIR");
}

TEST_F(Zbctl, PortsListsThePortMapAndUpgradeLoadsAnImage) {
    zbsim::Simulator& sim = StartModems(2, 3);
    const Result ports = Run({"ports"});
    EXPECT_EQ(ports.status, 0);
    EXPECT_EQ(ports.out, "COM3 " + sim.device_path(3) + "\nCOM4 " + sim.device_path(4) + "\n");

    // A scan keeps the map's numbers; a fresh map gets whatever serial ports the machine has.
    const std::string fresh = dir_ + "/fresh";
    fs::create_directory(fresh);
    for (const auto& [dir, mapped] : {std::pair{dir_, true}, std::pair{fresh, false}}) {
        const Result scan = Run({"--ports-dir", dir, "ports", "--scan"}, false);
        EXPECT_EQ(scan.status, 0) << scan.err;
        if (mapped) {
            EXPECT_NE(
                scan.out.find("COM3 " + sim.device_path(3) + "\nCOM4 " + sim.device_path(4) + "\n"),
                std::string::npos)
                << scan.out;
        }
        std::istringstream lines(scan.out);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_TRUE(std::regex_search(line, std::regex("^COM[1-9][0-9]* /[^ ]+( |$)"))) << line;
            // Every port the scan numbered is told on stderr; the map's own are not.
            const std::string com = line.substr(0, line.find(' '));
            const bool kept = mapped && (com == "COM3" || com == "COM4");
            EXPECT_EQ(scan.err.find("zbctl: " + com + " is new: ") == std::string::npos, kept)
                << scan.err;
        }
    }

    std::vector<std::uint8_t> image(32, 0);
    const std::string type = "0101";
    std::copy(type.begin(), type.end(), image.begin());
    std::vector<std::uint8_t> body(300, 0x5A);
    zb::WordSum sum;
    sum.Add(body);
    const std::uint32_t check = sum.Finish();
    image[8] = static_cast<std::uint8_t>(body.size() & 0xFF);
    image[9] = static_cast<std::uint8_t>(body.size() >> 8);
    for (int i = 0; i < 4; ++i)
        image[16 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(check >> (8 * i));
    const std::string version = "CLI 9";
    std::copy(version.begin(), version.end(), image.begin() + 20);
    image.insert(image.end(), body.begin(), body.end());
    const std::string path = dir_ + "/fw.rom";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));

    const Result info = Run({"--json", "image-info", path});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "{\"path\": \"" + path +
                            "\", \"type\": 257, \"version\": \"CLI 9\", \"body_size\": 300, "
                            "\"checksum_ok\": true}\n");
    const std::string damaged = dir_ + "/damaged.rom";
    image.back() ^= 1;
    ASSERT_TRUE(zbtest::WriteFile(damaged, image));
    const Result shown = Run({"image-info", damaged});
    EXPECT_EQ(shown.status, 1) << shown.err;
    EXPECT_EQ(shown.out,
              "path: " + damaged +
                  "\ntype: 0x0101\nversion: CLI 9\nbody size: 300 bytes\nchecksum: no\n");

    const Result r = Run({"--json", "--no-pauses", "upgrade", path, "COM4"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"ok\": true, \"message\": \"Upgrade successfully\""), std::string::npos);
    EXPECT_NE(r.out.find("\"fw_version\": \"CLI 9\", \"devname\": \"SIM-4\""), std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("COM4: 100% (332 / 332)"), std::string::npos) << r.err;
    EXPECT_EQ(sim.snapshot(4).settings.fw_version, "CLI 9");
    EXPECT_EQ(sim.snapshot(3).commands, 0u);

    const std::string other = dir_ + "/other.rom";
    ASSERT_TRUE(zbtest::WriteFile(other, zbtest::MakeImage("0102", zbtest::PatternBody(300))));
    const Result refused = Run({"--json", "--no-pauses", "upgrade", other, "COM4"});
    EXPECT_EQ(refused.status, 1);
    for (const std::string* said : {&refused.out, &refused.err})
        EXPECT_NE(said->find("Firmware type is invalid (image 0x0102, modem 0x0101)"),
                  std::string::npos)
            << *said;

    // One port failing: the other is still read afresh, and its row has the new version.
    sim.add_fault(3, zbsim::Fault::Refusing("XF"));
    const std::string report = dir_ + "/upgrade.json";
    const Result failed =
        Run({"--json", "--no-pauses", "--report", report, "upgrade", path, "COM3", "COM4"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.out.find("\"message\": \"Request upgrade fail\", \"connected\": true, "
                              "\"upgrade_wait\": false, \"settings\": null"),
              std::string::npos)
        << failed.out;
    EXPECT_NE(failed.out.find("\"fw_version\": \"CLI 9\", \"devname\": \"SIM-4\""),
              std::string::npos)
        << failed.out;
    EXPECT_NE(ReadAll(report).find("\"command\": \"upgrade\", \"try\": 1, \"result\": \"ok\", "
                                   "\"message\": \"Upgrade successfully\", \"fw_before\": \"CLI "
                                   "9\", \"fw_after\": \"CLI 9\""),
              std::string::npos)
        << ReadAll(report);
    // A stop once the image is in: with the real pauses it comes before the read-back.
    const pid_t pid = Start({"--report", report, "upgrade", path, "COM4"});
    EXPECT_TRUE(SaidOnStderr("COM4: Upgrade successfully\n"));
    ::kill(pid, SIGINT);
    EXPECT_EQ(Finish(pid).status, 130);
    const std::string stopped =
        "ok\", \"message\": \"Upgrade successfully; stopped before the firmware was read again\", "
        "\"fw_before\": \"CLI 9\", \"fw_after\": \"\"";
    EXPECT_NE(ReadAll(report).find(stopped), std::string::npos) << ReadAll(report);
}

TEST_F(Zbctl, ExportWritesOneFilePerPortOrNoneAtAll) {
    zbsim::Simulator& sim = StartModems(10, 3);
    zbsim::ModemSettings twelve = sim.snapshot(12).settings;
    twelve.panid = 0x0BEE;
    twelve.channel = 20;
    twelve.devname = "LINE 12";
    sim.set_settings(12, twelve);
    const std::string out = dir_ + "/out";
    fs::create_directory(out);

    const Result r = Run({"--json", "--no-pauses", "export", out + "/", "COM12", "COM3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"file\": \"" + out + "/KRB7310_Config12.txt\""), std::string::npos)
        << r.out;
    const std::string three = ReadAll(out + "/KRB7310_Config3.txt");
    const std::string file12 = ReadAll(out + "/KRB7310_Config12.txt");
    EXPECT_NE(three.find("Device Name=SIM-3\n"), std::string::npos) << three;
    EXPECT_NE(three.find("PAN ID=0x1a2b\n"), std::string::npos) << three;
    for (const char* line : {"Device Name=LINE 12\n", "PAN ID=0x0bee\n", "Channel=9\n"})
        EXPECT_NE(file12.find(line), std::string::npos) << file12;

    sim.add_fault(4, zbsim::Fault::Of(zbsim::FaultKind::Silent));
    const std::string none = dir_ + "/none";
    fs::create_directory(none);
    const Result partial = Run({"--no-pauses", "export", none, "COM3", "COM4"});
    EXPECT_EQ(partial.status, 1);
    EXPECT_NE(partial.out.find("COM4  FAILED  Connection fail"), std::string::npos) << partial.out;
    EXPECT_TRUE(fs::is_empty(none));
}

// COM5, a coordinator, would become a router with its local node ID 0: it is refused.
TEST_F(Zbctl, ImportGivesEveryModemTheFileButKeepsItsLocalNodeId) {
    zbsim::Simulator& sim = StartModems(3, 3);
    for (int com = 3; com <= 4; ++com) {
        zbsim::ModemSettings s = sim.snapshot(com).settings;
        s.devtype = 1;
        s.lnodeid = com + 10;
        sim.set_settings(com, s);
    }
    const std::string file = dir_ + "/line7.txt";
    std::ofstream(file) << ConfigText("0x0bee");
    const Result r = Run({"--no-pauses", "import", file, "COM3", "COM4", "COM5"});
    EXPECT_EQ(r.status, 1) << r.err << r.out;
    EXPECT_NE(r.out.find("COM5  FAILED  The local node ID is invalid. Only coordinator can "
                         "set it to 0."),
              std::string::npos)
        << r.out;
    EXPECT_EQ(RequestsOfClass(sim, 5, 'S'), 0);
    for (int com = 3; com <= 4; ++com) {
        const zbsim::ModemSnapshot snap = sim.snapshot(com);
        const zbsim::ModemSettings& m = snap.settings;
        EXPECT_EQ(m.lnodeid, com + 10);
        EXPECT_EQ(std::tie(m.devname, m.panid, m.channel, m.baud, m.parity, m.stopbit, m.topology,
                           m.security, m.aeskey),
                  std::make_tuple("LINE-7", 0x0BEE, 20, 15, 2, 1, 2, true,
                                  "00112233445566778899AABBCCDDEEFF"));
        EXPECT_EQ(snap.restarts, 1u);
    }
}

// --set values are each modem's own, on top of the file's; braces in the file are its text.
TEST_F(Zbctl, ImportWithSetGivesEachModemItsOwnValues) {
    zbsim::Simulator& sim = StartModems(2, 3);
    const std::string file = dir_ + "/line8.txt";
    std::string text = ConfigText("0x0bee");
    text.replace(text.find("LINE-7"), 6, "L8-{com}");
    std::ofstream(file) << text;
    const Result literal = Run({"--no-pauses", "import", "--set", "lnodeid=5", file, "COM3"});
    EXPECT_EQ(literal.status, 0) << literal.err;
    EXPECT_EQ(sim.snapshot(3).settings.devname, "L8-{com}");
    const Result own = Run({"--no-pauses", "import", "--set", "devname=X-{com}", "--set",
                            "lnodeid={n}", file, "COM4", "COM3"});
    EXPECT_EQ(own.status, 0) << own.err << own.out;
    for (const auto& [com, n] : {std::pair{3, 2}, std::pair{4, 1}}) {
        const zbsim::ModemSettings m = sim.snapshot(com).settings;
        EXPECT_EQ(std::tie(m.devname, m.lnodeid, m.panid),
                  std::make_tuple("X-" + std::to_string(com), n, 0x0BEE));
    }
}

// The key comes from a file, out of sight of ps, and goes out as its fingerprint, to stdout
// unless --show-keys and to reports always. A file that others may read is taken, with a
// warning.
TEST_F(Zbctl, TheKeyComesFromAFileAndGoesOutAsItsFingerprint) {
    zbsim::Simulator& sim = StartModems(1, 3);
    const std::string key = "00112233445566778899aabbccddeeff";
    const std::string file = dir_ + "/line7.key";
    std::ofstream(file) << " " << key << "\r\n";
    for (const bool show : {false, true}) {
        fs::permissions(
            file, show ? fs::perms::owner_read : fs::perms::owner_read | fs::perms::group_read);
        std::vector<std::string> args = {
            "--json", "--no-pauses",     "--report", dir_ + "/r.csv",   "apply",
            "--set",  "security=enable", "--set",    "aeskey=@" + file, "COM3"};
        if (show) args.insert(args.begin(), "--show-keys");
        const Result r = Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(sim.snapshot(3).settings.aeskey, key);
        EXPECT_EQ(
            r.err.find("zbctl: warning: other users may read the key file") == std::string::npos,
            show)
            << r.err;
        EXPECT_NE(r.out.find("\"aeskey\": \"" + (show ? key : "sha256:20aff5a3") + "\""),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find(key) != std::string::npos, show);
    }
    const std::string report = ReadAll(dir_ + "/r.csv");
    EXPECT_NE(report.find(",Enable,7E,sha256:20aff5a3,"), std::string::npos) << report;
    EXPECT_EQ(report.find(key), std::string::npos);
}

TEST_F(Zbctl, ApplyRefusedByTheConfigurationRulesWritesNothing) {
    zbsim::Simulator& sim = StartModems(2, 3);
    zbsim::ModemSettings router = sim.snapshot(4).settings;
    router.devtype = 1;
    router.lnodeid = 5;
    sim.set_settings(4, router);
    // An end device may not keep the coordinator's node ID 0 of COM3.
    const Result r = Run({"--no-pauses", "apply", "--set", "devtype=end device", "COM3", "COM4"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("COM3  FAILED  The local node ID is invalid. Only coordinator can "
                         "set it to 0."),
              std::string::npos)
        << r.out;
    for (const std::string& request : sim.requests(3)) EXPECT_NE(request.substr(0, 2), "?S");
    EXPECT_EQ(sim.snapshot(3).settings.devtype, 0);
    EXPECT_EQ(sim.snapshot(4).settings.devtype, 2);
    EXPECT_EQ(sim.snapshot(4).restarts, 1u);
}

TEST_F(Zbctl, DryRunShowsTheChangesAndWritesNothing) {
    zbsim::Simulator& sim = StartModems(2, 3);
    const std::string report = dir_ + "/dry.csv";
    const std::vector<std::string> apply = {"apply", "--dry-run",     "--set", "channel={com+8}",
                                            "--set", "devname=SIM-3", "COM3",  "COM4"};
    std::vector<std::string> args = {"--no-pauses", "--report", report};
    args.insert(args.end(), apply.begin(), apply.end());
    const Result r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("COM3  ok      no change  "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("would change: devname: SIM-4 \u2192 SIM-3; channel: 11 \u2192 12  SIM-4"),
              std::string::npos)
        << r.out;
    args = {"--json", "--no-pauses"};
    args.insert(args.end(), apply.begin(), apply.end());
    EXPECT_NE(Run(args).out.find("\"to\": \"SIM-3\"}, {\"field\": \"channel\", \"from\": \"11\", "
                                 "\"to\": \"12\"}]"),
              std::string::npos);
    for (const int com : {3, 4}) {
        EXPECT_EQ(zbtest::CountClass(sim, com, 'S'), 0);
        EXPECT_EQ(sim.snapshot(com).settings.channel, 11);
        EXPECT_EQ(sim.snapshot(com).restarts, 0u);
    }
    EXPECT_FALSE(fs::exists(report));
}

TEST_F(Zbctl, PerModemValuesAreExpandedAndCheckedForEveryPort) {
    zbsim::Simulator& sim = StartModems(3, 3);
    // {n} follows the order the ports are given in.
    const Result r =
        Run({"--no-pauses", "apply", "--set", "devname=LINE-{com}{name}", "--set", "lnodeid={n+10}",
             "--set", "rnodeid={com-3}", "--set", "devtype=Router", "COM5", "COM3", "COM4"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto& [com, n] : {std::pair{5, 1}, std::pair{3, 2}, std::pair{4, 3}}) {
        const zbsim::ModemSettings m = sim.snapshot(com).settings;
        EXPECT_EQ(m.devname, "LINE-" + std::to_string(com) + "{name}");
        EXPECT_EQ(m.lnodeid, n + 10);
        EXPECT_EQ(m.rnodeid, com - 3);
    }
    // COM3 is the second port: its 98 + 2 is out of range, and no modem is touched.
    const std::uint64_t before = sim.snapshot(5).commands;
    const Result refused =
        Run({"apply", "--set", "lnodeid={n+98}", "--set", "devtype=Router", "COM5", "COM3"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("COM3 (n=2): --set lnodeid=100: lnodeid must be 0 to 99"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(sim.snapshot(5).commands, before);
}

TEST_F(Zbctl, VerifyReadsBackAndFailsAModemThatKeptItsOldValue) {
    zbsim::Simulator& sim = StartModems(2, 3);
    sim.add_fault(4, zbsim::Fault::KeepingOld("ZC"));
    const Result r = Run({"--json", "--no-pauses", "apply", "--verify", "--set", "channel=16",
                          "--set", "panid=0BEE", "COM3", "COM4"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("\"com\": 3, \"ok\": true, \"message\": \"Apply device's settings\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"verify\": {\"ok\": true, \"diffs\": []}"), std::string::npos);
    EXPECT_NE(r.out.find("\"com\": 4, \"ok\": false, \"message\": \"Verify fail\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"verify\": {\"ok\": false, \"diffs\": [{\"field\": \"channel\", "
                         "\"sent\": \"16\", \"read\": \"11\"}]}"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("COM4: Verify fail: channel: sent 16, read 11\n"), std::string::npos);
    EXPECT_NE(r.err.find("still failing: COM4\n"), std::string::npos) << r.err;

    const Result table = Run({"--no-pauses", "apply", "--verify", "--set", "channel=16", "COM4"});
    EXPECT_EQ(table.status, 1);
    EXPECT_NE(table.out.find("COM4  FAILED  Verify fail: channel: sent 16, read 11"),
              std::string::npos)
        << table.out;
}

TEST_F(Zbctl, RetriesAndReportsAppendOneRowPerPortAndTry) {
    zbsim::Simulator& sim = StartModems(2, 3);
    const zbsim::ModemSettings fresh = sim.snapshot(4).settings;
    // The first channel write is lost, the second one sticks.
    const zbsim::Fault keep_once = zbsim::Fault::KeepingOld("ZC", 1);
    zbsim::ModemSettings odd = sim.snapshot(3).settings;
    odd.devname = "=1+2,\"x\"";
    sim.set_settings(3, odd);
    for (const std::string name : {"r.csv", "r.json"}) {
        const std::string report = dir_ + "/" + name;
        sim.set_settings(4, fresh);
        sim.clear_faults(4);
        sim.add_fault(4, keep_once);
        const Result first = Run({"--no-pauses", "--report", report, "--retry", "2", "apply",
                                  "--verify", "--set", "channel=16", "COM3", "COM4"});
        EXPECT_EQ(first.status, 0) << first.err;
        EXPECT_NE(first.err.find("zbctl: try 2 of 3: COM4\n"), std::string::npos) << first.err;
        EXPECT_EQ(first.err.find("try 3"), std::string::npos) << first.err;
        const Result second = Run({"--no-pauses", "--report", report, "read", "COM3"});
        EXPECT_EQ(second.status, 0) << second.err;

        const std::string text = ReadAll(report);
        const std::string three = sim.device_path(3);
        const std::string four = sim.device_path(4);
        const std::string stamp =
            "20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]Z";
        if (name == "r.csv") {
            // An apply row carries the settings it wrote.
            const std::string written = "257,115200,None,8,1,RS-232,Coordinator,Star,16,[^\n]*,";
            const std::string end = ",[0-9a-f]{32},\\{\\},/dev/[^\n]+\n";
            EXPECT_TRUE(std::regex_match(
                text, std::regex("time,com,device,command,try,result,message,fw_before,fw_after,"
                                 "fw_type,[a-z_,]+,devname,verify,run_id,tags,port_id,file,"
                                 "file_sha256\n" +
                                 stamp + ",COM3," + three +
                                 ",apply,1,ok,Apply device's settings,,," + written + "ok" + end +
                                 stamp + ",COM4," + four + ",apply,1,failed,Verify fail,,," +
                                 written + "\"channel: sent 16, read 11\"" + end + stamp +
                                 ",COM4," + four + ",apply,2,ok,Apply device's settings,,," +
                                 written + "ok" + end + stamp + ",COM3," + three +
                                 ",read,1,ok,Get device's settings,,,257,115200,.*,SIM 1.0.0,"
                                 "\"'=1\\+2,\"\"x\"\"\"," +
                                 end)))
                << text;
        } else {
            EXPECT_EQ(text.rfind("[\n  {\"time\": \"", 0), 0u) << text;
            EXPECT_TRUE(std::regex_search(text, std::regex("\"com\": 4, \"device\": \"" + four +
                                                           "\", \"command\": \"apply\", \"try\": "
                                                           "2, \"result\": \"ok\"")))
                << text;
            EXPECT_NE(text.find("\"channel\": 16, \"outpower\": 1, \"txmode\": \"Transparent\", "
                                "\"panid\": \"1A2B\""),
                      std::string::npos)
                << text;
            EXPECT_NE(text.find("\"verify\": {\"ok\": false, \"diffs\": [{\"field\": "
                                "\"channel\", \"sent\": \"16\", \"read\": \"11\"}]}, \"run_id\": "),
                      std::string::npos)
                << text;
            EXPECT_NE(text.find("\"devname\": \"=1+2,\\\"x\\\"\"}, \"verify\": null, \"run_id\": "),
                      std::string::npos)
                << text;
            std::size_t objects = 0;
            for (std::size_t at = 0; (at = text.find("{\"time\"", at)) != std::string::npos; ++at)
                ++objects;
            EXPECT_EQ(objects, 4u);
        }
    }
    // Every report was replaced in one step: no temporary file is left beside it.
    for (const auto& entry : fs::directory_iterator(dir_))
        EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos)
            << entry.path();
}

}  // namespace
