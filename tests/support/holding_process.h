// Another program that holds a serial device: a child process, with a command name the test
// chooses, that opens the device, takes a flock on it and waits until it is killed. pid() is
// 0 when the child could not be started or could not take the device.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace zbtest {

class HoldingProcess {
public:
    // `name`: at most 15 characters, the length of a Linux command name.
    HoldingProcess(const std::string& device, const char* name) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        const pid_t child = ::fork();
        if (child == 0) {
            // Only async-signal-safe calls between fork and _exit.
            ::close(ready[0]);
            const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
            if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) ::_exit(1);
            ::prctl(PR_SET_NAME, name);
            (void)!::write(ready[1], "r", 1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char byte = 0;
        const bool holds = child > 0 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        if (child > 0 && !holds) ::waitpid(child, nullptr, 0);
        if (holds) pid_ = child;
    }
    ~HoldingProcess() { Stop(); }
    HoldingProcess(const HoldingProcess&) = delete;
    HoldingProcess& operator=(const HoldingProcess&) = delete;

    pid_t pid() const { return pid_; }
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

private:
    pid_t pid_ = 0;
};

}  // namespace zbtest
