// Waiting for a PostgreSQL connection's socket (libpq's PQsocket, a SOCKET on Windows) in
// short slices, so that the caller can watch its deadline and a hurry between them. One
// source file per platform (pg_wait_posix.cpp, pg_wait_win32.cpp).
//
// A plain function; any thread.
#pragma once

namespace zb {

// Whether `socket` became readable (`read`) or writable (`write`) within `timeout_ms`. An
// error or a hang-up counts as ready, so that libpq's next call on the connection says what
// happened; a signal that cut the wait short counts as not ready.
bool WaitOnSocket(int socket, bool read, bool write, int timeout_ms);

}  // namespace zb
