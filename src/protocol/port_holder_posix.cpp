#include "protocol/port_holder_posix.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zb {
namespace {

// The pid a /proc entry names, or 0 for the entries that are not processes.
std::int32_t PidOf(const char* entry) {
    char* end = nullptr;
    const long pid = std::strtol(entry, &end, 10);
    return end != entry && *end == '\0' && pid > 0 && pid <= INT32_MAX
               ? static_cast<std::int32_t>(pid)
               : 0;
}

// The owner of a flock on the file, from /proc/locks: "1: FLOCK ADVISORY WRITE <pid>
// <major>:<minor>:<inode> 0 EOF", the numbers of the file system in hexadecimal.
std::int32_t FlockOwner(const struct stat& file, std::int32_t self) {
    std::ifstream locks("/proc/locks");
    char want[64];
    std::snprintf(want, sizeof want, "%02x:%02x:%llu", major(file.st_dev), minor(file.st_dev),
                  static_cast<unsigned long long>(file.st_ino));
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, id;
        if (!(fields >> number >> kind) || kind != "FLOCK") continue;
        if (!(fields >> mode >> access >> pid >> id) || id != want) continue;
        const std::int32_t owner = PidOf(pid.c_str());
        if (owner != 0 && owner != self) return owner;
    }
    return 0;
}

bool HasOpen(std::int32_t pid, dev_t device) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(fds.c_str());
    if (dir == nullptr) return false;  // gone, or another user's
    bool found = false;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        struct stat st {};
        // stat follows the descriptor's link to the file it has open.
        if (::stat((fds + "/" + e->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
            st.st_rdev == device) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

}  // namespace

std::string ProcessName(std::int32_t pid) {
    if (pid <= 0) return {};
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::optional<PortHolder> FindPortHolder(const std::string& device) {
    struct stat target {};
    if (::stat(device.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) return std::nullopt;
    const std::int32_t self = static_cast<std::int32_t>(::getpid());
    if (const std::int32_t owner = FlockOwner(target, self); owner != 0) {
        std::string name = ProcessName(owner);
        if (!name.empty()) return PortHolder{owner, std::move(name)};
    }
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return std::nullopt;
    std::int32_t lowest = 0;
    while (const dirent* e = ::readdir(proc)) {
        const std::int32_t pid = PidOf(e->d_name);
        if (pid == 0 || pid == self || (lowest != 0 && pid > lowest)) continue;
        if (HasOpen(pid, target.st_rdev)) lowest = pid;
    }
    ::closedir(proc);
    if (lowest == 0) return std::nullopt;
    std::string name = ProcessName(lowest);
    if (name.empty()) return std::nullopt;  // it ended while we looked
    return PortHolder{lowest, std::move(name)};
}

}  // namespace zb
