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
#include "jobs/report/report_migrate.h"
#include "jobs/report/report_sqlite.h"

namespace zb {
namespace {

// For one batch's transaction, or the table's check, all calls together.
constexpr auto kQueryWait = std::chrono::seconds(10);
constexpr auto kRewriteWait = std::chrono::minutes(5);
constexpr std::size_t kSpoolBatch = 100;
// Taken while creating the table, so that two stations starting at once do not both
// create it; any fixed number of ours.
constexpr const char* kCreateLock = "7472690052";

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

const char* SqlType(DbType type) {
    switch (type) {
        case DbType::Integer:
            return "integer";
        case DbType::Real:
            return "numeric";
        case DbType::Time:
            return "timestamptz";
        case DbType::Json:
            return "jsonb";
        case DbType::Text:
            break;
    }
    return "text";
}

// Run under the lock, so that two stations starting at once do not both make the table.
std::string CreateSql() {
    std::string sql = "CREATE TABLE IF NOT EXISTS " + std::string(kReportTable) +
                      " (\"id\" bigserial PRIMARY KEY";
    for (const DbColumn& column : DbColumns()) {
        sql += ", \"" + column.name + "\" " + SqlType(column.type);
        if (column.name == "row_id") sql += " UNIQUE";
    }
    sql += ")";
    for (const auto& [index, column] : DbIndexes()) sql += "; " + IndexSql(index, column);
    return sql;
}

// The columns of the table a report writes, and the insert that fills them.
struct PgTable {
    std::vector<std::size_t> columns;  // positions in DbColumns
    std::string insert;
};

PgTable TableOf(std::vector<std::size_t> columns) {
    std::string sql =
        "INSERT INTO " + std::string(kReportTable) + " (" + QuotedColumns(columns) + ") VALUES (";
    for (std::size_t i = 0; i < columns.size(); ++i)
        sql += (i == 0 ? "$" : ", $") + std::to_string(i + 1);
    return {std::move(columns), sql + ") ON CONFLICT (\"row_id\") DO NOTHING"};
}

bool Answered(const PGresult* result) {
    const ExecStatusType status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

Status Command(PgLink& conn, const std::string& sql) {
    const PgResult result = conn.Exec(sql);
    if (result && Answered(result.get())) return {};
    return Status::Fail(conn.Why(result.get()));
}

// Whether the server's answer refuses the row itself, so that sending it again cannot help:
// a value it does not take, a constraint, a column or right it lacks, a trigger that raised
// an error. Any other failure, and one without an answer (the connection broke, and libpq
// may say so only on the next call), is taken for a lost connection: the row is sent again
// or kept.
bool RefusesRow(const PGresult* result) {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    if (!state || std::strlen(state) != 5) return false;
    const std::string_view refusing[] = {"09", "22", "23", "27", "42", "44", "P0"};
    return std::find(std::begin(refusing), std::end(refusing), std::string_view(state, 2)) !=
           std::end(refusing);
}

// The values go untyped, as texts, so that the server reads each as its column's type: a
// table of an earlier release, whose settings are text, takes them as well.
PgResult Execute(PgLink& conn, const PgTable& table, const DbCells& cells) {
    std::vector<const char*> values;
    values.reserve(table.columns.size());
    for (const std::size_t i : table.columns)
        values.push_back(i < cells.size() && cells[i] ? cells[i]->c_str() : nullptr);
    return conn.Exec(table.insert, values);
}

// The row_ids of `rows` that the table holds, asked in the transaction that inserted them:
// a trigger may leave a row out or delete it, a rule may do instead of the insert, and the
// server calls each done. A row there already was sent before, and counts as added.
PgResult Landed(PgLink& conn, const std::vector<const DbCells*>& rows) {
    std::string ids = "{";
    for (const DbCells* cells : rows) {
        if (ids.size() > 1) ids += ',';
        ids += '"';
        for (const char c : RowIdOf(*cells).value_or(""))
            ids += (c == '"' || c == '\\') ? std::string{'\\', c} : std::string(1, c);
        ids += '"';
    }
    ids += '}';
    return conn.Exec("SELECT \"row_id\" FROM " + std::string(kReportTable) +
                         " WHERE \"row_id\" = ANY ($1::text[])",
                     {ids.c_str()});
}

// Tries the ProbeRows in a transaction that is rolled back.
Status TakesRows(PgLink& conn, const PgTable& table) {
    if (Status begun = Command(conn, "BEGIN"); !begun) return begun;
    Status taken;
    const std::vector<DbCells> probes = ProbeRows(StationName());
    std::vector<const DbCells*> rows;
    for (const DbCells& cells : probes) {
        const PgResult result = Execute(conn, table, cells);
        if (!result || !Answered(result.get())) {
            taken = Status::Fail(conn.Why(result.get()));
            break;
        }
        rows.push_back(&cells);
    }
    if (taken) {
        const PgResult landed = Landed(conn, rows);
        if (!landed || !Answered(landed.get()))
            taken = Status::Fail(conn.Why(landed.get()));
        else if (PQntuples(landed.get()) != static_cast<int>(rows.size()))
            taken = Status::Fail("a report row is left out");
    }
    Status rolled_back = Command(conn, "ROLLBACK");
    return taken ? rolled_back : taken;
}

// The one row of `sql`'s answer, "t" for true and "f" for false.
Result<std::vector<bool>> Ask(PgLink& conn, const std::string& sql) {
    const PgResult result = conn.Exec(sql);
    if (!result || PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1)
        return Error{conn.Why(result.get())};
    std::vector<bool> answers;
    answers.reserve(static_cast<std::size_t>(PQnfields(result.get())));
    for (int c = 0; c < PQnfields(result.get()); ++c)
        answers.push_back(std::string_view(PQgetvalue(result.get(), 0, c)) == "t");
    return answers;
}

Result<std::vector<std::string>> ColumnNames(PgLink& conn) {
    const PgResult result = conn.Exec("SELECT * FROM " + std::string(kReportTable) + " LIMIT 0");
    if (!result || PQresultStatus(result.get()) != PGRES_TUPLES_OK)
        return Error{conn.Why(result.get())};
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(PQnfields(result.get())));
    for (int c = 0; c < PQnfields(result.get()); ++c) names.emplace_back(PQfname(result.get(), c));
    return names;
}

// Runs `sql` in a transaction under the lock that keeps stations starting at once from making
// or changing the table together; rolled back when it fails.
Status Locked(PgLink& conn, const std::string& sql) {
    Status done = Command(conn, "BEGIN; SELECT pg_advisory_xact_lock(" + std::string(kCreateLock) +
                                    "); " + sql + "; COMMIT");
    if (!done) (void)Command(conn, "ROLLBACK");
    return done;
}

// The table the report writes: made when missing; in one an earlier release made, the run's
// columns and the indexes added. Only what is missing is made: a station's user that may
// insert rows may well not own the table, and PostgreSQL refuses it even a CREATE ... IF NOT
// EXISTS of what is there. A user that may not add them is told so, and the rows go in
// without the columns the table lacks.
Result<PgTable> PrepareTable(PgLink& conn, const ReportNotice& notice) {
    const Result<std::vector<bool>> exists =
        Ask(conn, "SELECT to_regclass('" + std::string(kReportTable) + "') IS NOT NULL");
    if (!exists) return exists.error();
    if (const Status made = exists->at(0) ? Status() : Locked(conn, CreateSql()); !made)
        return made.error();
    Result<std::vector<std::string>> names = ColumnNames(conn);
    if (!names) return names.error();
    std::string missing;
    std::vector<std::size_t> present = ColumnsPresent(*names, &missing);
    if (!missing.empty()) return Error{"it lacks the columns " + missing};
    // Typing an earlier release's table rewrites every row, once: longer than an insert.
    conn.Within(kRewriteWait);
    TypePostgresColumns(conn, kCreateLock, SqlType, notice);
    conn.Within(kQueryWait);
    std::string upgrade;
    std::string columns;
    for (std::size_t i = 0; i < DbColumns().size(); ++i) {
        if (std::find(present.begin(), present.end(), i) != present.end()) continue;
        const DbColumn& column = DbColumns()[i];
        upgrade += "ALTER TABLE " + std::string(kReportTable) + " ADD COLUMN IF NOT EXISTS \"" +
                   column.name + "\" " + SqlType(column.type) + "; ";
        columns += (columns.empty() ? "" : ", ") + column.name;
    }
    std::string ask;
    for (const auto& [index, column] : DbIndexes())
        ask += (ask.empty() ? "SELECT " : ", ") + ("to_regclass('" + index + "') IS NULL");
    const Result<std::vector<bool>> lacking = Ask(conn, ask);
    if (!lacking) return lacking.error();
    std::string indexes;
    for (std::size_t i = 0; i < DbIndexes().size() && i < lacking->size(); ++i) {
        if (!(*lacking)[i]) continue;
        upgrade += IndexSql(DbIndexes()[i].first, DbIndexes()[i].second) + "; ";
        indexes += (indexes.empty() ? "" : ", ") + DbIndexes()[i].first;
    }
    if (upgrade.empty()) return TableOf(std::move(present));
    upgrade.resize(upgrade.size() - 2);
    if (const Status added = Locked(conn, upgrade); !added) {
        if (notice) {
            std::string what = columns.empty() ? "" : "the columns " + columns;
            if (!indexes.empty())
                what += std::string(what.empty() ? "" : " and ") + "the indexes " + indexes;
            notice("the table " + std::string(kReportTable) + " lacks " + what +
                   ", which this user may not add (" + added.reason() + "); " +
                   (columns.empty() ? "rows go in all the same"
                                    : "rows go in without those columns until the table's "
                                      "owner adds them"));
        }
        return TableOf(std::move(present));
    }
    names = ColumnNames(conn);
    if (!names) return names.error();
    return TableOf(ColumnsPresent(*names, &missing));
}

// The table checked and made ready (PrepareTable), and the ProbeRows tried, within one
// deadline.
Result<PgTable> CheckTable(PgLink& conn, const ReportNotice& notice) {
    conn.Within(kQueryWait);
    Result<PgTable> table = PrepareTable(conn, notice);
    const Status usable = table ? TakesRows(conn, *table) : Status(table.error());
    if (!usable) return usable.error();
    return table;
}

// The columns of the table that a station has checked, kept beside its spool: with them, a
// later run may start while the server is away, its rows kept for it.
std::string CheckedPath(const std::string& spool_path) {
    return spool_path.substr(0, spool_path.size() - 3) + ".columns";
}

void RememberColumns(const std::string& spool_path, const PgTable& table) {
    std::string names;
    for (const std::size_t i : table.columns) names += DbColumns()[i].name + "\n";
    const std::string path = CheckedPath(spool_path);
    // A record not written only costs a later run its start without the server.
    (void)ReplaceWholeFile(path, names, PathExists(path), NewFileMode(), false);
}

std::optional<PgTable> RememberedColumns(const std::string& spool_path) {
    const Result<std::string> text = ReadWholeFile(CheckedPath(spool_path), 64 << 10);
    if (!text) return std::nullopt;
    std::vector<std::string> names;
    for (std::size_t at = 0, end = 0; (end = text->find('\n', at)) != std::string::npos;
         at = end + 1)
        names.push_back(text->substr(at, end - at));
    std::string missing;
    std::vector<std::size_t> present = ColumnsPresent(names, &missing);
    // "id" is the server's own, never inserted.
    if (missing != "id") return std::nullopt;
    return TableOf(std::move(present));
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
            moved.push_back(RowIdOf(cells));
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
                    std::find(held.begin(), held.end(), RowIdOf(*rows[i]).value_or("")) ==
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
                done.push_back(RowIdOf((*rows)[i]));
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
