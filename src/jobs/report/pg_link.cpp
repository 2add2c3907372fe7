#include "jobs/report/pg_link.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "jobs/report/pg_wait.h"

namespace zb {
namespace {

constexpr int kConnectSeconds = 5;
constexpr auto kHurrySlice = std::chrono::milliseconds(100);

void Quiet(void*, const char*) {}

// The URI's connect_timeout where it sets one. libpq waits without end for 0, and takes at
// least 2 s; a station must not wait without end.
int ConnectSeconds(PGconn* conn) {
    int seconds = kConnectSeconds;
    PQconninfoOption* options = PQconninfo(conn);
    for (const PQconninfoOption* o = options; o && o->keyword; ++o)
        if (std::string_view(o->keyword) == "connect_timeout" && o->val)
            seconds = std::atoi(o->val);
    PQconninfoFree(options);
    return seconds <= 0 ? kConnectSeconds : std::max(seconds, 2);
}

// In its verbose form, a server's message gives its code after the severity ("FATAL:
// 28P01: password authentication failed ..."): the code is taken out, and the message kept
// as libpq gives it otherwise.
std::string TakeCode(std::string* message) {
    for (std::size_t at = message->find(":  "); at != std::string::npos;
         at = message->find(":  ", at + 1)) {
        const std::size_t code = at + 3;
        if (message->size() < code + 7 || message->compare(code + 5, 2, ": ") != 0) continue;
        std::string found = message->substr(code, 5);
        if (std::all_of(found.begin(), found.end(),
                        [](unsigned char c) { return std::isdigit(c) || std::isupper(c); })) {
            message->erase(code, 7);
            return found;
        }
    }
    return {};
}

}  // namespace

bool Answered(const PGresult* result) {
    const ExecStatusType status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

std::string FirstLine(const char* message) {
    std::string text = message ? message : "";
    text = text.substr(0, text.find('\n'));
    return text.empty() ? "unknown error" : text;
}

Status PgLink::Connect() {
    Drop();
    gave_up_ = false;
    login_refused_ = false;
    // A server gone silent (a cable pulled) fails a query within about half a minute even
    // past our deadline's drop, so the server side lets go too. The URI comes last, so that
    // settings of its own win over ours.
    const char* const keys[] = {"connect_timeout",
                                "keepalives_idle",
                                "keepalives_interval",
                                "keepalives_count",
                                "tcp_user_timeout",
                                "dbname",
                                nullptr};
    const std::string seconds = std::to_string(kConnectSeconds);
    const char* const values[] = {seconds.c_str(), "10", "5", "3", "10000", uri_.c_str(), nullptr};
    conn_ = PQconnectStartParams(keys, values, 1);
    if (!conn_) return Status::Fail(why_ = "out of memory");
    // Only the verbose form of a refusal gives its code, told apart from any other failure.
    PQsetErrorVerbosity(conn_, PQERRORS_VERBOSE);
    const int timeout = ConnectSeconds(conn_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
    const std::string late = "no connection within " + std::to_string(timeout) + " s";
    PostgresPollingStatusType polled =
        PQstatus(conn_) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
    while (polled != PGRES_POLLING_OK) {
        if (polled == PGRES_POLLING_FAILED) {
            std::string message = FirstLine(PQerrorMessage(conn_));
            const std::string code = TakeCode(&message);
            login_refused_ = PQconnectionNeedsPassword(conn_) || code.starts_with("28");
            why_ = message;
            Drop();
            return Status::Fail(why_);
        }
        if (!Wait(polled == PGRES_POLLING_READING, polled == PGRES_POLLING_WRITING, deadline, late))
            return Status::Fail(why_);
        polled = PQconnectPoll(conn_);
    }
    PQsetErrorVerbosity(conn_, PQERRORS_DEFAULT);
    // The server's notices ("relation ... already exists, skipping") are not the operator's.
    PQsetNoticeProcessor(conn_, Quiet, nullptr);
    if (PQsetnonblocking(conn_, 1) != 0) {
        why_ = FirstLine(PQerrorMessage(conn_));
        Drop();
        return Status::Fail(why_);
    }
    return {};
}

bool PgLink::Wait(bool read, bool write, std::chrono::steady_clock::time_point deadline,
                  const std::string& late) {
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (hurried_ && hurried_()) {
            why_ = "not waited for as the program ends";
            break;
        }
        if (now >= deadline) {
            why_ = late;
            break;
        }
        const int socket = PQsocket(conn_);
        const auto slice =
            std::min<std::chrono::steady_clock::duration>(kHurrySlice, deadline - now);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(slice).count() + 1;
        if (socket < 0 || WaitOnSocket(socket, read, write, static_cast<int>(ms))) return true;
    }
    gave_up_ = true;
    Drop();
    return false;
}

PgResult PgLink::Exec(const std::string& sql, const std::vector<const char*>& values) {
    if (!conn_) return nullptr;
    const auto lost = [this] {
        why_ = FirstLine(PQerrorMessage(conn_));
        Drop();
        return nullptr;
    };
    const std::string late = "no answer within " + std::to_string(wait_.count() / 1000) + " s";
    const int sent = values.empty()
                         ? PQsendQuery(conn_, sql.c_str())
                         : PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()),
                                             nullptr, values.data(), nullptr, nullptr, 0);
    if (!sent) return lost();
    // A query longer than the socket's buffer goes out in parts; the server may answer
    // meanwhile.
    for (int flushed = PQflush(conn_); flushed != 0; flushed = PQflush(conn_)) {
        if (flushed < 0) return lost();
        if (!Wait(true, true, deadline_, late)) return nullptr;
        if (!PQconsumeInput(conn_)) return lost();
    }
    PgResult answer;
    for (;;) {
        while (PQisBusy(conn_)) {
            if (!Wait(true, false, deadline_, late)) return nullptr;
            if (!PQconsumeInput(conn_)) return lost();
        }
        PgResult next(PQgetResult(conn_));
        if (!next) break;
        if (!answer || Answered(answer.get())) answer = std::move(next);
    }
    // A connection that broke gives an answer without a code, and libpq calls it bad.
    if (!answer || PQstatus(conn_) == CONNECTION_BAD) return lost();
    return answer;
}

std::string PgLink::Why(const PGresult* result) const {
    return result ? FirstLine(PQresultErrorMessage(result)) : why_;
}

void PgLink::Drop() {
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
}

}  // namespace zb
