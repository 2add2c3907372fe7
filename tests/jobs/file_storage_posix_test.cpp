// Files on disk, where only POSIX shows it: the temporary files that crashed writers left,
// and a report folder this user may write but not read.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "jobs/platform/file_storage.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(ReplaceWholeFile, RemovesOnlyTheTemporaryFilesOfGoneWritersFromBeforeTheRun) {
    const zbtest::ScratchDir scratch("zbfiles");
    ASSERT_FALSE(scratch.path().empty());
    const fs::path dir = scratch.path();
    // No process has this pid: it is above every system's pid limit.
    const std::string gone = std::to_string(2147483645);
    const std::string self = std::to_string(::getpid());
    const std::string parent = std::to_string(::getppid());
    const auto before = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const auto after = fs::file_time_type::clock::now() + std::chrono::hours(1);
    struct Leftover {
        std::string name;
        fs::file_time_type written;
        bool removed;
    };
    const Leftover leftovers[] = {
        {"r.csv.zbtmp-" + gone + "-a1B2c3", before, true},
        {"KRB7310_Config3.txt.zbtmp-" + gone + "-7", before, true},
        // A pid of ours on a file older than this run was another process's.
        {"r.json.zbtmp-" + self + "-x0x0x0", before, true},
        {"r.csv.zbtmp-" + parent + "-a1B2c3", before, false},  // its writer lives
        {"r.csv.zbtmp-" + gone + "-d4E5f6", after, false},     // written during this run
        {"r.csv.a1B2c3", before, false},                       // no temporary name of ours
        {".zbtmp-" + gone + "-a1B2c3", before, false},
        {"r.csv.zbtmp-" + gone + "-a1.c3", before, false},
        {"r.csv.zbtmp-x" + gone + "-a1B2c3", before, false},
    };
    for (const Leftover& leftover : leftovers) {
        std::ofstream(dir / leftover.name) << "partial";
        fs::last_write_time(dir / leftover.name, leftover.written);
    }
    const zb::Status written =
        zb::ReplaceWholeFile((dir / "new.txt").string(), "text", false, 0644);
    ASSERT_TRUE(written.ok()) << written.reason();
    for (const Leftover& leftover : leftovers)
        EXPECT_EQ(fs::exists(dir / leftover.name), !leftover.removed) << leftover.name;
    EXPECT_TRUE(fs::exists(dir / "new.txt"));
}

// As root, which reads any folder, the check runs in a child without root's privileges.
TEST(CheckReportFolder, RefusesAFolderTheReportLockCannotOpen) {
    const zbtest::ScratchDir scratch("zbfiles");
    ASSERT_FALSE(scratch.path().empty());
    const fs::path folder = fs::path(scratch.path()) / "drop-box";
    ASSERT_TRUE(fs::create_directory(folder));
    fs::permissions(scratch.path(), fs::perms::owner_all | fs::perms::others_exec);
    fs::permissions(folder, fs::perms::owner_write | fs::perms::owner_exec |
                                fs::perms::others_write | fs::perms::others_exec);
    const std::string expected = folder.string() + ": Permission denied";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        zb::ReportFolderLock lock;
        const zb::Status checked = zb::CheckReportFolder(folder.string());
        const zb::Status locked = lock.Lock(folder.string());
        const bool refused = !checked && !locked;
        ::_exit(refused && checked.reason() == expected && locked.reason() == expected ? 0 : 1);
    }
    int status = 0;
    const bool waited = ::waitpid(child, &status, 0) == child;
    fs::permissions(folder, fs::perms::owner_all);  // so that the scratch folder goes
    ASSERT_TRUE(waited);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: could not leave root's privileges";
}

}  // namespace
