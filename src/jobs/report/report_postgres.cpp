// The PostgreSQL report: rows go straight into the line's shared database. While its server
// cannot be reached, the rows wait in a spool file on this PC (an SQLite file with the same
// table, one per database URI), and go to the server, oldest first, as soon as an append or
// a later run finds it back. A row sent twice (its insert's answer lost with the
// connection, or two processes sharing a spool sending it) is added once, by its row_id.
// An append's rows, and each batch of the spool, go in one transaction, checked to be in
// the table before it commits; no call waits on the server longer than its deadline
// (pg_link.h), after which the rows are kept as for a lost connection.
#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

#include "jobs/platform/file_storage.h"
#include "jobs/report/pg_link.h"
#include "jobs/report/report_database.h"
#include "jobs/report/report_lost.h"
#include "jobs/report/report_pg_table.h"
#include "jobs/report/report_sqlite.h"

namespace zb {
namespace {

constexpr std::size_t kSpoolBatch = 100;

std::string RowCount(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " report row" : " report rows");
}

// FNV-1a: the spool's name stays the same from run to run and build to build. It is made
// from the URI with its password masked (MaskedUri), so that the name gives nothing away
// about the password and a changed password keeps the same spool.
std::string SpoolPath(const std::string& uri) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : uri) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    char name[48];
    std::snprintf(name, sizeof name, "report-spool-%016llx.db",
                  static_cast<unsigned long long>(hash));
    return StateFilePath("zbctl", name);
}

// Earlier releases named the spool after the whole URI, password included: rows such a
// spool still holds move into today's, oldest first, and the old file goes.
Status AdoptOldSpool(const std::string& old_path, SqliteTable& spool) {
    if (old_path == spool.path() || !PathExists(old_path)) return {};
    Result<std::unique_ptr<SqliteTable>> old = SqliteTable::Open(old_path);
    if (!old) return old.error();
    for (;;) {
        const Result<std::vector<DbCells>> rows = (*old)->Oldest(kSpoolBatch);
        if (!rows) return rows.error();
        if (rows->empty()) break;
        std::vector<std::optional<std::string>> moved;
        for (const DbCells& cells : *rows) {
            if (Status inserted = spool.Insert(cells); !inserted) return inserted;
            moved.push_back(CellOf(cells, "row_id"));
        }
        if (const Result<std::vector<bool>> removed = (*old)->Remove(moved); !removed)
            return removed.error();
    }
    old->reset();
    for (const char* suffix : {"", "-wal", "-shm"}) RemoveFileIfPresent(old_path + suffix);
    return {};
}

class PostgresReport final : public ReportSink {
public:
    // `table` is nullopt when the server is away and its table as this station checked it
    // last; then the rows are kept from the start, and the table checked again once the
    // server is back.
    PostgresReport(std::unique_ptr<PgLink> link, PgTable table, bool checked, ReportNotice notice,
                   std::unique_ptr<SqliteTable> spool)
        : link_(std::move(link)),
          table_(std::move(table)),
          checked_(checked),
          notice_(std::move(notice)),
          spool_(std::move(spool)),
          station_(StationName()) {
        link_->HurryWith([this] { return Hurried(); });
        spool_->GiveUpWhen([this] { return Hurried(); });
        keeping_ = !link_->up();
        lost_reason_ = link_->Why(nullptr);
    }

    ~PostgresReport() override {
        try {
            // A program ending at once does not wait on the server.
            if (!Hurried() && spool_->Count() > 0) {
                (void)Online();
                // Nobody hears of an error now: a row the server refuses stays for the next
                // run, which says so.
                LostRows ignored;
                (void)SendSpool(false, &ignored);
            }
            if (const std::int64_t left = spool_->Count(); left > 0)
                Tell(RowCount(left) + " wait in " + spool_->path() +
                     "; the next run that reports into this database sends them");
        } catch (...) {
            // Out of memory, or a notice that failed: the rows stay in the spool all the same.
        }
    }
    PostgresReport(const PostgresReport&) = delete;
    PostgresReport& operator=(const PostgresReport&) = delete;

    // Sends what an earlier run left in the spool file.
    Status SendEarlierRows() {
        LostRows lost;
        const Status sent = SendSpool(true, &lost);
        const Status told = lost.Told();
        return told ? sent : told;
    }

protected:
    Status AppendRows(const std::vector<ReportRow>& rows) override {
        (void)Online();
        // A row refused, or one the spool could not keep, does not stop the others; all
        // are named.
        LostRows lost;
        const Status sent = SendSpool(true, &lost);
        std::vector<DbCells> cells;
        std::vector<const DbCells*> batch;
        cells.reserve(rows.size());
        for (const ReportRow& row : rows) {
            cells.push_back(DbCellsOf(row, station_, NewRowId()));
            batch.push_back(&cells.back());
        }
        std::vector<std::string> refused(batch.size());
        const bool delivered = Send(batch, &refused);
        std::int64_t kept = 0;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const DbCells& row = *batch[i];
            if (delivered) {
                if (!refused[i].empty()) NameRefused(row, refused[i], &lost);
            } else if (const Status inserted = spool_->Insert(row); inserted) {
                ++kept;
            } else {
                lost.Add(RowName(row), "not kept: " + inserted.reason(),
                         RowName(row) + " not kept: " + inserted.reason());
            }
        }
        if (kept > 0 && !keeping_) {
            keeping_ = true;
            Tell("the PostgreSQL database is unreachable (" + lost_reason_ + "); " +
                 RowCount(kept) + " kept in " + spool_->path() + " until it is back");
        }
        const Status told = lost.Told();
        return told ? sent : told;
    }

private:
    // Sends the rows in one transaction, within one deadline. True when it committed:
    // `refused` then says why the server refused a row, and is empty for a row added. False
    // when the rows may not have gone in (the connection lost, or given up on). A failure
    // that is no refusal reconnects once and sends them again (their row_ids add each once
    // should the first try have gone in after all); a deadline or a hurry does not.
    bool Send(const std::vector<const DbCells*>& rows, std::vector<std::string>* refused) {
        if (rows.empty()) return true;
        for (int attempt = 0; link_->up() && !Hurried(); ++attempt) {
            link_->Within(kQueryWait);
            std::fill(refused->begin(), refused->end(), std::string());
            if (Transact(rows, refused)) return true;
            lost_reason_ = link_->Why(nullptr);
            link_->Drop();
            if (attempt > 0 || link_->gave_up() || !Online()) break;
        }
        if (Hurried()) lost_reason_ = "not waited for as the program ends";
        return false;
    }

    static void NameRefused(const DbCells& cells, const std::string& why, LostRows* lost) {
        lost->Add(RowName(cells), "the PostgreSQL database refused them: " + why,
                  "the PostgreSQL database refused a row (" + RowName(cells) + "): " + why);
    }

    // One transaction: each row inserted, those the server refuses named in `refused` and
    // left out (the transaction begun again without them), and the others checked to be in
    // the table before it commits. False when the connection failed: nothing is known to
    // have gone in. A commit refused (a deferred constraint) sends each row alone.
    bool Transact(const std::vector<const DbCells*>& rows, std::vector<std::string>* refused) {
        for (bool again = true; again;) {
            again = false;
            std::vector<const DbCells*> sent;
            if (!Command(*link_, "BEGIN")) return false;
            for (std::size_t i = 0; i < rows.size() && !again; ++i) {
                if (!(*refused)[i].empty()) continue;
                const PgResult result = Execute(*link_, table_, *rows[i]);
                if (result && Answered(result.get())) {
                    sent.push_back(rows[i]);
                    continue;
                }
                if (!RefusesRow(result.get())) return false;
                (*refused)[i] = link_->Why(result.get());
                if (!Command(*link_, "ROLLBACK")) return false;
                again = true;
            }
            if (again) continue;
            if (sent.empty()) return Command(*link_, "ROLLBACK").ok();
            const PgResult landed = Landed(*link_, sent);
            if (!landed || !Answered(landed.get())) return false;
            std::vector<std::string> held;
            held.reserve(static_cast<std::size_t>(PQntuples(landed.get())));
            for (int r = 0; r < PQntuples(landed.get()); ++r)
                held.emplace_back(PQgetvalue(landed.get(), r, 0));
            for (std::size_t i = 0; i < rows.size(); ++i)
                if ((*refused)[i].empty() &&
                    std::find(held.begin(), held.end(), CellOf(*rows[i], "row_id").value_or("")) ==
                        held.end())
                    (*refused)[i] =
                        "the table " + std::string(kReportTable) + " did not keep the row";
            const PgResult committed = link_->Exec("COMMIT");
            if (committed && Answered(committed.get())) return true;
            if (!RefusesRow(committed.get())) return false;
            if (sent.size() == 1) {
                for (std::size_t i = 0; i < rows.size(); ++i)
                    if (rows[i] == sent[0]) (*refused)[i] = link_->Why(committed.get());
                return true;
            }
            for (std::size_t i = 0; i < rows.size(); ++i) {
                if (!(*refused)[i].empty()) continue;
                std::vector<std::string> alone(1);
                if (!Transact({rows[i]}, &alone)) return false;
                (*refused)[i] = alone[0];
            }
        }
        return true;
    }

    // Whether the connection is up, connecting once if it is not, and never once hurried.
    // A table this run has not checked yet (the server was away when it started) is checked
    // first; until it passes, the rows are kept.
    bool Online() {
        if (link_->up()) return true;
        if (Hurried()) return false;
        if (const Status connected = link_->Connect(); !connected) {
            lost_reason_ = connected.reason();
            return false;
        }
        if (!checked_) {
            Result<PgTable> table = CheckTable(*link_, notice_);
            if (!table) {
                lost_reason_ = link_->up() ? "no usable table " + std::string(kReportTable) + ": " +
                                                 table.error().reason
                                           : table.error().reason;
                link_->Drop();
                return false;
            }
            table_ = std::move(*table);
            checked_ = true;
            RememberColumns(spool_->path(), table_);
        }
        keeping_ = false;
        return true;
    }

    // Sends the spooled rows, oldest first, a batch at a time, while the connection holds:
    // each batch in one transaction, then taken out of the spool in one, by row_id. A row the
    // server refuses leaves the spool, named in `lost`, so that it does not hold back the
    // rows after it; or, not `drop_refused`, stays and stops the sending. Counts the rows
    // this process took out of the spool: another one that shares it may be sending the same
    // rows.
    Status SendSpool(bool drop_refused, LostRows* lost) {
        std::int64_t sent = 0;
        Status ok;
        for (bool more = true; more && link_->up() && !Hurried();) {
            const Result<std::vector<DbCells>> rows = spool_->Oldest(kSpoolBatch);
            if (!rows) ok = rows.error();
            if (!ok || rows->empty()) break;
            std::vector<const DbCells*> batch;
            for (const DbCells& cells : *rows) batch.push_back(&cells);
            std::vector<std::string> refused(batch.size());
            if (!Send(batch, &refused)) break;
            std::vector<std::optional<std::string>> done;
            std::vector<bool> added;
            for (std::size_t i = 0; i < rows->size(); ++i) {
                if (!refused[i].empty() && !drop_refused) {
                    more = false;
                    continue;
                }
                done.push_back(CellOf((*rows)[i], "row_id"));
                added.push_back(refused[i].empty());
                if (!refused[i].empty()) NameRefused((*rows)[i], refused[i], lost);
            }
            const Result<std::vector<bool>> removed = spool_->Remove(done);
            if (!removed) {
                ok = removed.error();
                break;
            }
            for (std::size_t i = 0; i < removed->size(); ++i)
                if ((*removed)[i] && added[i]) ++sent;
        }
        if (sent > 0)
            Tell(RowCount(sent) + " kept in " + spool_->path() +
                 " sent to the PostgreSQL database");
        return ok;
    }

    void Tell(const std::string& text) const {
        if (notice_) notice_(text);
    }

    std::unique_ptr<PgLink> link_;
    PgTable table_;
    bool checked_;  // the table checked since this sink was opened
    ReportNotice notice_;
    std::unique_ptr<SqliteTable> spool_;
    std::string station_;
    bool keeping_ = false;  // rows went to the spool since the connection was last up
    std::string lost_reason_;
};

}  // namespace

Result<std::unique_ptr<ReportSink>> OpenPostgresReport(const std::string& uri,
                                                       ReportNotice notice) {
    const std::string shown = MaskedUri(uri);
    // libpq's complaint about a URI quotes the part it stumbled on, which may be the
    // password: with one in the URI, only the masked URI is shown.
    char* parse_error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &parse_error);
    if (!options) {
        std::string malformed = "the PostgreSQL URI is malformed: " + shown;
        if (shown == uri && parse_error) malformed += " (" + FirstLine(parse_error) + ")";
        PQfreemem(parse_error);
        return Error{std::move(malformed)};
    }
    PQconninfoFree(options);
    const std::string spool_path = SpoolPath(shown);
    MakeParentFolders(spool_path);
    auto link = std::make_unique<PgLink>(uri);
    std::optional<PgTable> table;
    if (const Status connected = link->Connect(); !connected) {
        // No spool helps a station whose user or password the server refuses.
        if (link->login_refused())
            return Error{"cannot log in to the PostgreSQL database: " + connected.reason()};
    } else if (Result<PgTable> checked = CheckTable(*link, notice); checked) {
        table = std::move(*checked);
        RememberColumns(spool_path, *table);
    } else if (link->up()) {
        return Error{"the PostgreSQL database has no usable table " + std::string(kReportTable) +
                     ": " + checked.error().reason};
    }
    const bool checked = table.has_value();
    // A server away when the shift starts does not stop a station that has checked its table
    // before: the rows are kept until it is back.
    if (!checked) table = RememberedColumns(spool_path);
    if (!table) return Error{"cannot reach the PostgreSQL database: " + link->Why(nullptr)};
    // The spool is opened now, so that a station whose spool cannot be written learns it
    // before its rows depend on it.
    Result<std::unique_ptr<SqliteTable>> spool = SqliteTable::Open(spool_path);
    if (!spool) return spool.error();
    if (Status adopted = AdoptOldSpool(SpoolPath(uri), **spool); !adopted) return adopted.error();
    if (!checked && notice)
        notice("the PostgreSQL database is unreachable (" + link->Why(nullptr) +
               "); report rows are kept in " + (*spool)->path() + " until it is back");
    auto report = std::make_unique<PostgresReport>(std::move(link), std::move(*table), checked,
                                                   std::move(notice), std::move(*spool));
    if (Status sent = report->SendEarlierRows(); !sent) return sent.error();
    return std::unique_ptr<ReportSink>(std::move(report));
}

}  // namespace zb
