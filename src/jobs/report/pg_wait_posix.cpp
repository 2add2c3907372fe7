#include <poll.h>

#include <cerrno>

#include "jobs/report/pg_wait.h"

namespace zb {

bool WaitOnSocket(int socket, bool read, bool write, int timeout_ms) {
    pollfd fd{};
    fd.fd = socket;
    fd.events = static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0));
    const int ready = ::poll(&fd, 1, timeout_ms);
    // EINTR is not ready; any other failure (a socket already closed) is left to libpq.
    return ready > 0 || (ready < 0 && errno != EINTR);
}

}  // namespace zb
