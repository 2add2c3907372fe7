// Finding which process holds a serial device, for messages such as "held by minicom,
// pid 4242". It looks through /proc/<pid>/fd, so it finds only the processes whose
// descriptors this user may see, and never this process. Safe from any thread; it only
// reads /proc.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zb {

struct PortHolder {
    std::int32_t pid = 0;
    std::string name;  // the process's command name, as /proc/<pid>/comm gives it
};

// The process that holds `device` (a path; links are followed), other than this one: the
// owner of a flock on it when there is one, else a process with it open (the lowest pid when
// there are several). Nothing when the device does not exist, is not a character device, or
// no visible process has it.
std::optional<PortHolder> FindPortHolder(const std::string& device);

// The command name of a process, or "" when it is gone or not visible.
std::string ProcessName(std::int32_t pid);

}  // namespace zb
