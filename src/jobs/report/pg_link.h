// One connection to a PostgreSQL server, none of whose waits is without bound: a connect
// waits up to its connect timeout, the calls after Within share one deadline, and either
// ends within a tenth of a second of a hurry. A wait that ends so drops the connection, and
// so does a call that finds it broken; Connect makes a new one. libpq's asynchronous calls
// on a socket polled in slices (pg_wait.h): a server gone silent behind a router or a proxy
// that still acknowledges every packet holds the program no longer than the deadline.
//
// One object belongs to one thread at a time; the hurry function may be set from another
// thread's object only before use, and is then asked from this one.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jobs/model/result.h"

namespace zb {

struct PgResultFree {
    void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultFree>;

// libpq's messages span lines ("...failed: No such file or directory\n\tIs the server
// running...?\n"): the first line says what happened.
std::string FirstLine(const char* message);

// Whether the server answered a call as done (a command or rows).
bool Answered(const PGresult* result);

class PgLink {
public:
    explicit PgLink(std::string uri) : uri_(std::move(uri)) {}
    ~PgLink() { Drop(); }
    PgLink(const PgLink&) = delete;
    PgLink& operator=(const PgLink&) = delete;

    // Asked between slices of every wait; true ends the wait, and no wait starts after.
    void HurryWith(std::function<bool()> hurried) { hurried_ = std::move(hurried); }

    // Connects anew, within the URI's connect_timeout, or 5 s when it sets none. Fails with
    // libpq's first line, or why the wait ended.
    Status Connect();
    bool up() const { return conn_ != nullptr; }
    // Whether the last Connect failed as the server refused the user or its password (or
    // none was given for a server that asks for one): trying again cannot help.
    bool login_refused() const { return login_refused_; }

    // The calls from now until the next Within share one deadline `wait` away.
    void Within(std::chrono::milliseconds wait) {
        wait_ = wait;
        deadline_ = std::chrono::steady_clock::now() + wait;
    }
    // Runs `sql`: one statement with `values` for $1.. (texts the server reads as their
    // columns' types, nullptr for NULL), any number without. The first answer that failed,
    // else the last; nullptr, with the connection dropped, when none came.
    PgResult Exec(const std::string& sql, const std::vector<const char*>& values = {});
    // Why a call failed: the server's answer's first line, or why no answer came.
    std::string Why(const PGresult* result) const;
    // Whether the last failure was a deadline or a hurry, so that no new wait should start.
    bool gave_up() const { return gave_up_; }

    void Drop();

private:
    // Waits for the socket until it is ready (true), or the deadline or a hurry (false, the
    // connection dropped and why_ said).
    bool Wait(bool read, bool write, std::chrono::steady_clock::time_point deadline,
              const std::string& late);

    std::string uri_;
    std::function<bool()> hurried_;
    PGconn* conn_ = nullptr;
    std::chrono::milliseconds wait_{0};
    std::chrono::steady_clock::time_point deadline_;
    std::string why_;
    bool gave_up_ = false;
    bool login_refused_ = false;
};

}  // namespace zb
