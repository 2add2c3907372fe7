#include "sim/pty.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zbsim {
namespace {

std::string failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void close_fd(int* fd) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
}

}  // namespace

bool open_pty(Pty* pty, std::string* error) {
    Pty p;
    p.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (p.master < 0) {
        *error = failure("posix_openpt");
        return false;
    }
    char name[128];
    if (grantpt(p.master) != 0 || unlockpt(p.master) != 0 ||
        ptsname_r(p.master, name, sizeof name) != 0) {
        *error = failure("pseudo-terminal set-up");
        close_pty(&p);
        return false;
    }
    p.path = name;
    p.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    termios tio{};
    if (p.slave < 0 || tcgetattr(p.slave, &tio) != 0) {
        *error = failure(p.path);
        close_pty(&p);
        return false;
    }
    // Raw before the first byte: echo or newline translation would corrupt replies and
    // XMODEM blocks that a client sends before it sets the line itself.
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    const int flags = fcntl(p.master, F_GETFL);
    if (tcsetattr(p.slave, TCSANOW, &tio) != 0 || flags < 0 ||
        fcntl(p.master, F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = failure(p.path);
        close_pty(&p);
        return false;
    }
    *pty = p;
    return true;
}

void close_pty(Pty* pty) {
    close_fd(&pty->master);
    close_fd(&pty->slave);
}

bool make_dirs(const std::string& dir, std::string* error) {
    std::string path;
    std::size_t pos = 0;
    while (pos <= dir.size()) {
        const std::size_t slash = dir.find('/', pos);
        path = dir.substr(0, slash);
        pos = slash == std::string::npos ? dir.size() + 1 : slash + 1;
        if (path.empty()) continue;
        if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
            *error = failure(path);
            return false;
        }
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = dir + ": not a directory";
        return false;
    }
    return true;
}

bool write_link(const std::string& link, const std::string& target, std::string* error) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *error = link + ": exists and is not a symbolic link";
        return false;
    }
    const std::string temp = link + ".new" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0) {
        *error = failure(link);
        return false;
    }
    if (::rename(temp.c_str(), link.c_str()) != 0) {
        *error = failure(link);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void remove_link(const std::string& link, const std::string& target) {
    char buf[512];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof buf &&
        std::string(buf, static_cast<std::size_t>(n)) == target)
        ::unlink(link.c_str());
}

}  // namespace zbsim
