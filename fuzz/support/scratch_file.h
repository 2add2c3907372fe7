// One temporary file per process that a fuzz target rewrites for every input, for code that
// reads a path. Removed at exit. It lives in memory where it can: on ext4, rewriting a
// truncated file forces it to disk at every close, which would cost most of the run.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

namespace zbfuzz {

class ScratchFile {
public:
    explicit ScratchFile(const char* stem) {
        const char* tmp = std::getenv("TMPDIR");
        const char* dir = ::access("/dev/shm", W_OK) == 0  ? "/dev/shm"
                          : tmp != nullptr && *tmp != '\0' ? tmp
                                                           : "/tmp";
        path_ = std::string(dir) + "/" + stem + ".XXXXXX";
        const int fd = ::mkstemp(path_.data());
        if (fd < 0) {
            std::perror("mkstemp");
            std::abort();
        }
        ::close(fd);
    }
    ~ScratchFile() { ::unlink(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& path() const { return path_; }

    // Replaces the content; aborts when the file cannot be written.
    void Write(std::span<const char> bytes) const {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        std::size_t done = 0;
        while (fd >= 0 && done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        if (fd < 0 || done < bytes.size() || ::close(fd) != 0) {
            std::perror(path_.c_str());
            std::abort();
        }
    }

private:
    std::string path_;
};

}  // namespace zbfuzz
