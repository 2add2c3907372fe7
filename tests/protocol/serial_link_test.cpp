#include "protocol/serial_link.h"

#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "holding_process.h"
#include "protocol/command_frame.h"
#include "protocol/line_settings_posix.h"
#include "protocol/port_holder_posix.h"
#include "pty_peer.h"

namespace {

using namespace zb;
using zbtest::PortMap;
using zbtest::PtyPeer;
using Clock = std::chrono::steady_clock;

termios base_termios() {
    termios t{};
    t.c_iflag = ICRNL | IXON | IXANY;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS;
    t.c_lflag = ICANON | ECHO;
    return t;
}

TEST(LineSettings, FlowControlChoices) {
    const termios none = *make_termios(base_termios(), 115200, 0, 8, 0, FLOW_NONE);
    EXPECT_FALSE(none.c_cflag & CRTSCTS);
    EXPECT_FALSE(none.c_iflag & (IXON | IXOFF));

    const termios rtscts = *make_termios(base_termios(), 115200, 0, 8, 0, FLOW_RTSCTS);
    EXPECT_TRUE(rtscts.c_cflag & CRTSCTS);
    EXPECT_FALSE(rtscts.c_iflag & (IXON | IXOFF));

    const termios xon = *make_termios(base_termios(), 115200, 0, 8, 0, FLOW_XONXOFF);
    EXPECT_FALSE(xon.c_cflag & CRTSCTS);
    EXPECT_EQ(xon.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));

    const termios other = *make_termios(base_termios(), 115200, 0, 8, 0, 3);
    EXPECT_FALSE(other.c_cflag & CRTSCTS);
    EXPECT_FALSE(other.c_iflag & (IXON | IXOFF));
}

TEST(LineSettings, RawLineWithParityDataAndStopBits) {
    const termios t = *make_termios(base_termios(), 115200, 0, 8, 0, 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB));
    EXPECT_TRUE(t.c_cflag & (CLOCAL | CREAD));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_iflag & ICRNL);

    EXPECT_TRUE(make_termios(base_termios(), 9600, 0, 8, 5, 0)->c_cflag & CSTOPB);
    const tcflag_t parity_bits = PARENB | PARODD | CMSPAR;
    const tcflag_t expected[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                 PARENB | CMSPAR};
    for (std::uint32_t p = 0; p <= 4; ++p) {
        // Only the low byte of the parity code counts.
        const termios pt = *make_termios(base_termios(), 9600, p | 0x100, 7, 0, 0);
        EXPECT_EQ(pt.c_cflag & parity_bits, expected[p]) << p;
        EXPECT_EQ((pt.c_iflag & INPCK) != 0, p != 0) << p;
        EXPECT_EQ(pt.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    }

    EXPECT_FALSE(make_termios(base_termios(), 12345, 0, 8, 0, 0));
    EXPECT_FALSE(make_termios(base_termios(), 9600, 5, 8, 0, 0));
    EXPECT_FALSE(make_termios(base_termios(), 9600, 0, 9, 0, 0));
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    ASSERT_TRUE(out.good()) << path;
}

std::string pid_line(pid_t pid) {
    char line[16];
    std::snprintf(line, sizeof line, "%10d\n", static_cast<int>(pid));
    return line;
}

TEST(PortMap, LooksUpEveryOpenAndFallsBackOnlyWithoutAnEntry) {
    PortMap map;
    EXPECT_EQ(com_device_path(15), "/dev/ttyS14");
    map.link(15, "/dev/null");
    map.link(3, "../relative");
    write_file(map.path() + "/com4", "");
    EXPECT_EQ(com_device_path(15), "/dev/null");
    EXPECT_EQ(com_device_path(3), map.path() + "/../relative");
    EXPECT_EQ(com_device_path(4), map.path() + "/com4");
    const auto ports = com_mapped_ports();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].first, 3);
    EXPECT_EQ(ports[1].first, 15);
}

struct BadEntry {
    const char* name;
    void (*make)(const PortMap&);
    const char* reason;
    int error;
};

class BadMapEntries : public ::testing::TestWithParam<BadEntry> {};

// COM 1 would fall back to /dev/ttyS0: an entry that exists must never get there.
TEST_P(BadMapEntries, FailToOpenWithTheirReason) {
    PortMap map;
    GetParam().make(map);
    ComHandle link;
    EXPECT_EQ(com_open(1, &link), ST_NO_PORT);
    EXPECT_TRUE(link.is_null());
    EXPECT_NE(com_last_error().find(GetParam().reason), std::string::npos) << com_last_error();
    EXPECT_EQ(com_last_error().find("/dev/ttyS"), std::string::npos) << com_last_error();
    EXPECT_EQ(com_last_errno(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, BadMapEntries,
    ::testing::Values(BadEntry{"dangling", [](const PortMap& m) { m.link_missing(1); },
                               "/com1 leads to ", ENOENT},
                      BadEntry{"plainFile",
                               [](const PortMap& m) { write_file(m.path() + "/com1", "x"); },
                               "/com1 is not a symbolic link to a device", 0},
                      BadEntry{"linkToAFile",
                               [](const PortMap& m) {
                                   write_file(m.path() + "/file", "x");
                                   m.link(1, m.path() + "/file");
                               },
                               "/file, which is not a serial port", 0},
                      BadEntry{"linkToNull", [](const PortMap& m) { m.link(1, "/dev/null"); },
                               "/dev/null is not a serial port", ENOTTY}),
    [](const auto& p) { return std::string(p.param.name); });

class LinkTest : public zbtest::PtyLinkTest {
protected:
    LinkTest() : PtyLinkTest(12) {}
    void SetUp() override {
        PtyLinkTest::SetUp();
        ASSERT_EQ(com_set_timeouts(link, 0, 0, 0, 0, 0), ST_OK);
        ASSERT_EQ(com_purge(link, PURGE_INPUT), ST_OK);
    }
};

TEST_F(LinkTest, OpenIsExclusiveAndLeavesTheHandleUntouched) {
    ComHandle second = ComHandle::from_native(4242);
    EXPECT_EQ(com_open(12, &second), ST_NO_PORT);
    EXPECT_EQ(second.native(), 4242);
    EXPECT_NE(com_last_error().find("already open in this program"), std::string::npos);
    ComHandle absent;
    EXPECT_EQ(com_open(99, &absent), ST_NO_PORT);
    EXPECT_TRUE(absent.is_null());

    // After closing, the port can be opened again.
    ASSERT_EQ(com_close(link), ST_OK);
    link = ComHandle();
    ASSERT_EQ(com_open(12, &link), ST_OK);
    EXPECT_EQ(com_last_error(), "");
}

TEST_F(LinkTest, SetupAcceptsEveryFlowChoiceOnAPseudoTerminal) {
    for (std::uint32_t flow : {0u, 1u, 2u, 3u})
        EXPECT_EQ(com_setup(link, 115200, 0, 8, 0, flow), ST_OK) << flow;
    EXPECT_EQ(com_setup(link, 9600, 0, 8, 1, 0), ST_OK);
    EXPECT_EQ(com_setup(link, 12345, 0, 8, 0, 0), ST_IO);
    // A pseudo-terminal always keeps 8 data bits and no parity: a line it silently changes
    // is refused, not reported as set.
    EXPECT_EQ(com_setup(link, 9600, 2, 7, 0, 0), ST_IO);
}

TEST_F(LinkTest, NullHandleCodes) {
    std::uint8_t b = 0;
    const ComHandle null;
    EXPECT_EQ(com_setup(null, 115200, 0, 8, 0, 0), ST_BAD_ARG);
    EXPECT_EQ(com_read_long(null, &b, 1), ST_BAD_ARG);
    EXPECT_EQ(com_read_short(null, &b, 1), ST_BAD_ARG);
    EXPECT_EQ(com_write(null, &b, 1), ST_BAD_ARG);
    EXPECT_EQ(com_set_timeouts(null, 0, 0, 0, 0, 0), ST_IO);
    EXPECT_EQ(com_purge(null, PURGE_INPUT), ST_IO);
    EXPECT_EQ(com_close(null), ST_IO);
}

TEST_F(LinkTest, WritesEveryByteAndReadsWhatArrives) {
    std::string big(3000, 'x');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    std::string received;
    std::thread reader([&] { received = peer.receive(big.size(), 10000); });
    EXPECT_EQ(com_write(link, reinterpret_cast<const std::uint8_t*>(big.data()),
                        static_cast<std::uint32_t>(big.size())),
              static_cast<std::int32_t>(big.size()));
    reader.join();
    EXPECT_EQ(received, big);

    peer.send("AB");
    std::uint8_t buf[2] = {};
    EXPECT_EQ(com_read_short(link, buf, 2), 2);
    EXPECT_EQ(buf[0], 'A');
    EXPECT_EQ(buf[1], 'B');
}

TEST_F(LinkTest, BytesAfterAReplyStayForTheNextReadAndPurgeDropsThem) {
    peer.send("!GSB0000012\nXYZ");
    peer.wait_queued(15);
    char reply[REPLY_BUF_SIZE];
    ASSERT_EQ(cmd_read_reply(link, reply, sizeof reply), 12);
    std::uint8_t b[2] = {};
    ASSERT_EQ(com_read_short(link, b, 1), 1);
    EXPECT_EQ(b[0], 'X');

    EXPECT_EQ(com_purge(link, PURGE_TXCLEAR), ST_OK);
    ASSERT_EQ(com_read_short(link, b, 1), 1);
    EXPECT_EQ(b[0], 'Y');

    peer.send("stale");
    peer.wait_queued(5);
    ASSERT_EQ(com_read_short(link, b, 1), 1);
    EXPECT_EQ(com_purge(link, PURGE_INPUT), ST_OK);
    peer.send("N");
    ASSERT_EQ(com_read_short(link, b, 1), 1);
    EXPECT_EQ(b[0], 'N');
}

TEST_F(LinkTest, ShortReadTimesOutAfterTwoSecondsAndLosesNothing) {
    const zbtest::RealWaits real;
    std::uint8_t b = 0;
    const auto start = Clock::now();
    EXPECT_EQ(com_read_short(link, &b, 1), ST_TIMEOUT);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_GE(waited.count(), 1990);
    EXPECT_LT(waited.count(), 2600);

    peer.send("L");
    EXPECT_EQ(com_read_short(link, &b, 1), 1);
    EXPECT_EQ(b, 'L');
}

TEST_F(LinkTest, LongReadFailsAfterFiveSeconds) {
    const zbtest::RealWaits real;
    std::uint8_t b = 0;
    const auto start = Clock::now();
    EXPECT_EQ(com_read_long(link, &b, 1), ST_IO);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_GE(waited.count(), 4990);
    EXPECT_LT(waited.count(), 5800);
    peer.send("M");
    EXPECT_EQ(com_read_long(link, &b, 1), 1);
    EXPECT_EQ(b, 'M');
}

TEST_F(LinkTest, HangUpIsAnIoFailureNotATimeout) {
    peer.close_master();
    std::uint8_t b = 0;
    const auto start = Clock::now();
    EXPECT_EQ(com_read_short(link, &b, 1), ST_IO);
    EXPECT_EQ(com_read_long(link, &b, 1), ST_IO);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1900));
}

// A port held another way; the lock folder is the port map's private one.
class HeldPort : public ::testing::Test {
protected:
    HeldPort() : peer(map, 7) {
        const std::string& dev = peer.path();
        lock_file = map.lock_dir() + "/LCK.." + dev.substr(dev.rfind('/') + 1);
    }
    // Refused with `reason`, the handle untouched.
    void expect_refused(const std::string& reason) {
        ComHandle link;
        EXPECT_EQ(com_open(7, &link), ST_NO_PORT);
        EXPECT_TRUE(link.is_null());
        EXPECT_EQ(com_last_error(), reason);
    }

    PortMap map;
    PtyPeer peer;
    std::string lock_file;
};

TEST_F(HeldPort, EachHolderIsRefusedWithItsReason) {
    const int fd = ::open(peer.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    expect_refused(peer.path() + " is in use by another program (it holds a flock)");
    ::close(fd);

    // Refused also as root, and the holder keeps its exclusive mode.
    peer.set_exclusive(true);
    expect_refused(peer.path() + " is in use by another program (exclusive mode set)");
    EXPECT_TRUE(peer.exclusive());
    peer.set_exclusive(false);

    write_file(lock_file, pid_line(1));
    const std::string init = ProcessName(1);
    const std::string who = init.empty() ? "process 1" : init + ", pid 1";
    expect_refused(peer.path() + " is in use by " + who + " (lock file " + lock_file + ")");
    EXPECT_EQ(com_last_holder().pid, init.empty() ? 0 : 1);
    EXPECT_EQ(read_file(lock_file), pid_line(1));

    // None of the refusals left anything behind that keeps the port closed.
    ::unlink(lock_file.c_str());
    ComHandle link;
    ASSERT_EQ(com_open(7, &link), ST_OK);
    EXPECT_TRUE(peer.exclusive());
    EXPECT_EQ(read_file(lock_file), pid_line(::getpid()));
    EXPECT_EQ(com_close(link), ST_OK);
    EXPECT_FALSE(peer.exclusive());
    EXPECT_FALSE(std::filesystem::exists(lock_file));
}

TEST_F(HeldPort, AHolderProcessIsNamed) {
    zbtest::HoldingProcess holder(peer.path(), "zbholder");
    ASSERT_GT(holder.pid(), 0);
    const std::string pid = std::to_string(holder.pid());
    expect_refused(peer.path() + " is in use by zbholder, pid " + pid + " (it holds a flock)");
    EXPECT_EQ(com_last_open_note(), "held by zbholder, pid " + pid);
    EXPECT_EQ(com_last_holder().name, "zbholder");
    EXPECT_EQ(com_last_holder().pid, holder.pid());

    holder.Stop();
    ComHandle link;
    ASSERT_EQ(com_open(7, &link), ST_OK);
    EXPECT_EQ(com_last_open_note(), "");
    EXPECT_EQ(com_last_holder().pid, 0);
    EXPECT_EQ(com_close(link), ST_OK);
}

TEST_F(HeldPort, StaleLockFilesAreTakenOverAndOnlyOurOwnIsRemoved) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    for (const std::string& stale : {pid_line(child), std::string("garbage\n"), std::string()}) {
        write_file(lock_file, stale);
        ComHandle link;
        ASSERT_EQ(com_open(7, &link), ST_OK) << stale << com_last_error();
        EXPECT_EQ(read_file(lock_file), pid_line(::getpid()));
        EXPECT_EQ(com_close(link), ST_OK);
        EXPECT_FALSE(std::filesystem::exists(lock_file));
    }

    // A file that another program put in place of ours after taking ours for stale.
    ComHandle link;
    ASSERT_EQ(com_open(7, &link), ST_OK);
    ::unlink(lock_file.c_str());
    write_file(lock_file, pid_line(1));
    EXPECT_EQ(com_close(link), ST_OK);
    EXPECT_EQ(read_file(lock_file), pid_line(1));
}

TEST_F(HeldPort, PermissionDeniedNamesTheGroupToJoin) {
    if (::geteuid() == 0) GTEST_SKIP() << "root opens the device whatever its mode";
    struct stat st {};
    ASSERT_EQ(::stat(peer.path().c_str(), &st), 0);
    ASSERT_EQ(::chmod(peer.path().c_str(), 0060), 0);
    const group* g = ::getgrgid(st.st_gid);
    ASSERT_NE(g, nullptr);
    expect_refused(peer.path() + ": Permission denied (join the group " + g->gr_name + ")");
    EXPECT_EQ(com_last_open_note(),
              std::string("permission denied: add your user to the ") + g->gr_name + " group");
    ::chmod(peer.path().c_str(), st.st_mode & 07777);
}

TEST_F(HeldPort, ALockFileNamingThisProcessIsOursOnlyWhileALinkHoldsIt) {
    // Left by an earlier process with our pid, as in a container whose lock folder outlives it.
    write_file(lock_file, pid_line(::getpid()));
    ComHandle link;
    ASSERT_EQ(com_open(7, &link), ST_OK) << com_last_error();
    EXPECT_EQ(read_file(lock_file), pid_line(::getpid()));

    // A hard link gives another device's lock path the very file that link holds.
    const PtyPeer other(map, 8);
    const std::string other_lock =
        map.lock_dir() + "/LCK.." + other.path().substr(other.path().rfind('/') + 1);
    ASSERT_EQ(::link(lock_file.c_str(), other_lock.c_str()), 0);
    ComHandle second;
    EXPECT_EQ(com_open(8, &second), ST_NO_PORT);
    const std::string me = ProcessName(::getpid());
    const std::string pid = std::to_string(::getpid());
    EXPECT_EQ(com_last_error(), other.path() + " is in use by " +
                                    (me.empty() ? "process " + pid : me + ", pid " + pid) +
                                    " (lock file " + other_lock + ")");
    EXPECT_EQ(com_close(link), ST_OK);
    EXPECT_FALSE(std::filesystem::exists(lock_file));
}

TEST_F(HeldPort, WhatIsNoStaleLockFileRefusesThePortAndStays) {
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ASSERT_GT(dead, 0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const auto binary = [](std::int32_t pid) {
        return std::string(reinterpret_cast<const char*>(&pid), sizeof pid);
    };
    const std::string init = ProcessName(1);
    const std::string odd = peer.path() + ": " + lock_file + " is ";
    const struct {
        const char* what;
        std::function<int()> make;
        std::string refusal;  // empty: taken over as stale
    } cases[] = {
        {"symbolic link", [&] { return ::symlink("elsewhere", lock_file.c_str()); },
         odd + "a symbolic link, not a lock file"},
        {"FIFO", [&] { return ::mkfifo(lock_file.c_str(), 0644); },
         odd + "a FIFO, not a lock file"},
        {"binary pid, live",
         [&] {
             write_file(lock_file, binary(1));
             return 0;
         },
         peer.path() + " is in use by " + (init.empty() ? "process 1" : init + ", pid 1") +
             " (lock file " + lock_file + ")"},
        {"binary pid, dead",
         [&] {
             write_file(lock_file, binary(dead));
             return 0;
         },
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.make(), 0);
        struct stat before {};
        ASSERT_EQ(::lstat(lock_file.c_str(), &before), 0);
        ComHandle link;
        if (c.refusal.empty()) {
            ASSERT_EQ(com_open(7, &link), ST_OK) << com_last_error();
            EXPECT_EQ(read_file(lock_file), pid_line(::getpid()));
            EXPECT_EQ(com_close(link), ST_OK);
            continue;
        }
        expect_refused(c.refusal);
        struct stat after {};
        EXPECT_EQ(::lstat(lock_file.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        ::unlink(lock_file.c_str());
    }
}

// A lock folder that takes no new file. The case is made in a child process, which then
// opens COM7: as nobody (root may write anywhere), or in a mount namespace of its own.
struct ClosedFolder {
    const char* name;
    // Makes the case in the child; returns why it cannot be made here, or "".
    std::string (*prepare)(const PortMap& map, const PtyPeer& peer);
};

std::string mount_tmpfs(const std::string& dir, const char* options, unsigned long flags = 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", dir.c_str(), "tmpfs", flags, options) != 0)
        return std::string("mounting a tmpfs (CAP_SYS_ADMIN) is not allowed here: ") +
               std::strerror(errno);
    return "";
}

class LockFolder : public HeldPort, public ::testing::WithParamInterface<ClosedFolder> {
protected:
    // "opened", "opened with a lock file", the refusal, or "skip: " and why.
    std::string open_in_child() {
        int out[2];
        if (::pipe(out) != 0) return "skip: no pipe";
        // No other thread runs here, so the child may use the link as a program does.
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(out[0]);
            std::string said = GetParam().prepare(map, peer);
            ComHandle link;
            if (!said.empty())
                said = "skip: " + said;
            else if (com_open(7, &link) != ST_OK)
                said = com_last_error();
            else
                said =
                    ::access(lock_file.c_str(), F_OK) == 0 ? "opened with a lock file" : "opened";
            (void)!::write(out[1], said.data(), said.size());
            ::_exit(0);
        }
        ::close(out[1]);
        std::string said;
        char buf[256];
        for (ssize_t n = 0; (n = ::read(out[0], buf, sizeof buf)) > 0;)
            said.append(buf, static_cast<std::size_t>(n));
        ::close(out[0]);
        if (child > 0) ::waitpid(child, nullptr, 0);
        return said;
    }
};

TEST_P(LockFolder, OpensThePortWithoutALockFile) {
    const std::string said = open_in_child();
    ::chmod(map.lock_dir().c_str(), 0755);
    if (said.rfind("skip: ", 0) == 0) GTEST_SKIP() << said.substr(6);
    EXPECT_EQ(said, "opened");
    EXPECT_TRUE(std::filesystem::is_empty(map.lock_dir()));
}

INSTANTIATE_TEST_SUITE_P(
    ThatTakesNoFile, LockFolder,
    ::testing::Values(
        ClosedFolder{"unwritable",
                     [](const PortMap& map, const PtyPeer& peer) -> std::string {
                         if (::geteuid() != 0)
                             return ::chmod(map.lock_dir().c_str(), 0555) == 0 ? "" : "no chmod";
                         const passwd* nobody = ::getpwnam("nobody");
                         if (nobody == nullptr) return "no user nobody here";
                         if (::chown(peer.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0 ||
                             ::chmod(map.path().c_str(), 0755) != 0 ||
                             ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                             ::setuid(nobody->pw_uid) != 0)
                             return std::string("cannot become nobody: ") + std::strerror(errno);
                         return ::access(map.path().c_str(), X_OK) == 0
                                    ? ""
                                    : "nobody cannot reach " + map.path();
                     }},
        ClosedFolder{"readOnly",
                     [](const PortMap& map, const PtyPeer&) {
                         return mount_tmpfs(map.lock_dir(), "size=64k", MS_RDONLY);
                     }},
        // The folder's own inode is the only one.
        ClosedFolder{"noFreeInodes",
                     [](const PortMap& map, const PtyPeer&) {
                         return mount_tmpfs(map.lock_dir(), "size=64k,nr_inodes=1");
                     }},
        ClosedFolder{"noFreeBlocks",
                     [](const PortMap& map, const PtyPeer&) {
                         std::string why = mount_tmpfs(map.lock_dir(), "size=4k,nr_inodes=16");
                         const std::string fill = map.lock_dir() + "/fill";
                         const int fd =
                             why.empty() ? ::open(fill.c_str(), O_WRONLY | O_CREAT, 0600) : -1;
                         const std::string block(4096, 'x');
                         while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0) {
                         }
                         if (fd >= 0) ::close(fd);
                         return why;
                     }}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
