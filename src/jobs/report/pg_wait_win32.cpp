#include <winsock2.h>

#include "jobs/report/pg_wait.h"

namespace zb {

bool WaitOnSocket(int socket, bool read, bool write, int timeout_ms) {
    WSAPOLLFD fd{};
    // libpq hands out the SOCKET as an int.
    fd.fd = static_cast<SOCKET>(socket);
    fd.events = static_cast<SHORT>((read ? POLLRDNORM : 0) | (write ? POLLWRNORM : 0));
    // A failure (a socket already closed) is left to libpq.
    return WSAPoll(&fd, 1, timeout_ms) != 0;
}

}  // namespace zb
