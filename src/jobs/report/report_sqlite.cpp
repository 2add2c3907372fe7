#include "jobs/report/report_sqlite.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "jobs/model/text_escape.h"
#include "jobs/report/report_lost.h"
#include "jobs/report/report_migrate.h"

namespace zb {
namespace {

constexpr int kBusyWaitMs = 10000;
constexpr auto kBusyNap = std::chrono::milliseconds(10);

// A prepared statement, finalised on every path.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        (void)sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// SQLite has no time type: a time is ISO 8601 text in UTC, which sorts and compares as the
// times do, and which its date functions read.
const char* SqlType(DbType type) {
    switch (type) {
        case DbType::Integer:
            return "INTEGER";
        case DbType::Real:
            return "REAL";
        case DbType::Text:
        case DbType::Time:
        case DbType::Json:
            break;
    }
    return "TEXT";
}

std::string CreateSql() {
    std::string sql =
        "CREATE TABLE IF NOT EXISTS " + std::string(kReportTable) + " (\"id\" INTEGER PRIMARY KEY";
    for (const DbColumn& column : DbColumns()) {
        sql += ", \"" + column.name + "\" " + SqlType(column.type);
        if (column.name == "row_id") sql += " UNIQUE";
    }
    return sql + ")";
}

// Built once: every row of a report and of a spool is inserted with it.
const std::string& InsertSql() {
    static const std::string sql = [] {
        // Not INSERT OR IGNORE, which would also leave out, unsaid, a row that a NOT NULL or
        // CHECK column refuses.
        std::string text =
            "INSERT INTO " + std::string(kReportTable) + " (" + QuotedColumns() + ") VALUES (";
        for (std::size_t i = 0; i < DbColumns().size(); ++i) text += i == 0 ? "?" : ", ?";
        return text + ") ON CONFLICT (\"row_id\") DO NOTHING";
    }();
    return sql;
}

class SqliteReport final : public ReportSink {
public:
    explicit SqliteReport(std::unique_ptr<SqliteTable> table)
        : table_(std::move(table)), station_(StationName()) {
        table_->GiveUpWhen([this] { return Hurried(); });
    }

protected:
    // A row not added does not stop the rows after it.
    Status AppendRows(const std::vector<ReportRow>& rows) override {
        LostRows lost;
        for (const ReportRow& row : rows) {
            const DbCells cells = DbCellsOf(row, station_, NewRowId());
            if (const Status inserted = table_->Insert(cells); !inserted)
                lost.Add(RowName(cells), inserted.reason(),
                         RowName(cells) + " not added: " + inserted.reason());
        }
        return lost.Told();
    }

private:
    std::unique_ptr<SqliteTable> table_;
    std::string station_;
};

}  // namespace

Result<std::unique_ptr<SqliteTable>> SqliteTable::Open(const std::string& path,
                                                       const ReportNotice& notice) {
    sqlite3* db = nullptr;
    const int opened =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<SqliteTable> table(new SqliteTable(db, path));
    if (opened != SQLITE_OK) return table->Fail();
    sqlite3_busy_handler(db, OnBusy, table.get());
    // Two processes that open a new file at once race to switch it to WAL and to create
    // the table; the loser may get SQLITE_BUSY without the busy handler being asked (the
    // journal mode change and WAL recovery take their locks without waiting), so the setup
    // is tried again for as long as an insert would wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyWaitMs);
    for (;;) {
        bool retry = false;
        const Status ready = table->Ready(&retry);
        if (ready && notice && !table->typed_.empty()) notice(path + ": " + table->typed_);
        if (ready) return table;
        if (!retry || std::chrono::steady_clock::now() >= deadline) return ready.error();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

SqliteTable::~SqliteTable() {
    sqlite3_close_v2(db_);
}

// SQLite's own wait, but for the giving up.
int SqliteTable::OnBusy(void* table, int count) {
    auto* self = static_cast<SqliteTable*>(table);
    const auto now = std::chrono::steady_clock::now();
    if (count == 0) self->busy_since_ = now;
    if ((self->give_up_ && self->give_up_()) ||
        now - self->busy_since_ >= std::chrono::milliseconds(kBusyWaitMs))
        return 0;
    std::this_thread::sleep_for(kBusyNap);
    return 1;
}

Error SqliteTable::Fail() const {
    return {path_ + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory")};
}

Error SqliteTable::Failed(bool* retry) {
    const int code = sqlite3_errcode(db_) & 0xff;
    *retry = code == SQLITE_BUSY || code == SQLITE_LOCKED;
    Error failed = Fail();
    if (sqlite3_get_autocommit(db_) == 0) (void)Exec("ROLLBACK");
    return failed;
}

bool SqliteTable::Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

Status SqliteTable::Ready(bool* retry) {
    // The first statement reads the file, and finds out whether it is a database at all.
    if (!Exec("PRAGMA journal_mode=WAL") || !Exec(CreateSql())) return Failed(retry);
    const std::string unusable = "no usable table " + std::string(kReportTable) + ": ";
    // The table's own list of columns: SQLite reads an unknown name in double quotes as a
    // text, so a query naming every column passes a table that lacks one. Read under the
    // write lock, so that two processes do not both add a column.
    if (!Exec("BEGIN IMMEDIATE")) return Failed(retry);
    std::vector<std::string> have;
    {
        const Statement info(
            db_, "SELECT \"name\" FROM pragma_table_info('" + std::string(kReportTable) + "')");
        int step = info.get() ? SQLITE_ROW : SQLITE_ERROR;
        while (info.get() && (step = sqlite3_step(info.get())) == SQLITE_ROW)
            have.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0)));
        if (step != SQLITE_DONE) return Failed(retry);
    }
    std::string missing;
    const std::vector<std::size_t> present = ColumnsPresent(have, &missing);
    if (!missing.empty()) {
        (void)Exec("ROLLBACK");
        return Status::Fail(path_ + ": " + unusable + "it lacks the columns " + missing);
    }
    // A table of an earlier release: the run's columns are added, NULL in its old rows.
    for (std::size_t i = 0; i < DbColumns().size(); ++i) {
        const DbColumn& column = DbColumns()[i];
        if (std::find(present.begin(), present.end(), i) == present.end() &&
            !Exec("ALTER TABLE " + std::string(kReportTable) + " ADD COLUMN \"" + column.name +
                  "\" " + SqlType(column.type)))
            return Failed(retry);
    }
    if (!TypeSqliteColumns(db_, CreateSql(), &typed_)) return Failed(retry);
    for (const auto& [index, column] : DbIndexes())
        if (!Exec(IndexSql(index, column))) return Failed(retry);
    if (!Exec("COMMIT")) return Failed(retry);
    // Rows are tried, and rolled back: a file that cannot be written passes BEGIN
    // IMMEDIATE in WAL mode, and only an insert finds a column that refuses rows.
    if (!Exec("BEGIN IMMEDIATE")) return Failed(retry);
    for (const DbCells& cells : ProbeRows(StationName())) {
        std::string refusal;
        const int code = Step(cells, &refusal) & 0xff;
        // What the table says of the row; a busy or read-only file is no fault of the table.
        if (code != SQLITE_DONE && code != SQLITE_CONSTRAINT && code != SQLITE_MISMATCH &&
            code != SQLITE_ERROR)
            return Failed(retry);
        // Only a row_id that is there already may leave a row out, and a new one is not.
        if (code == SQLITE_DONE && Holds(cells) != SQLITE_ROW) refusal = "a report row is left out";
        if (!refusal.empty()) {
            (void)Exec("ROLLBACK");
            return Status::Fail(path_ + ": " + unusable + refusal);
        }
    }
    if (!Exec("ROLLBACK")) return Failed(retry);
    return {};
}

Status SqliteTable::Insert(const DbCells& cells) {
    bool retry = false;
    if (!Exec("BEGIN IMMEDIATE")) return Failed(&retry);
    std::string message;
    if (Step(cells, &message) != SQLITE_DONE) {
        (void)Exec("ROLLBACK");
        return Status::Fail(path_ + ": " + message);
    }
    if (const int held = Holds(cells); held != SQLITE_ROW) {
        if (held != SQLITE_DONE) return Failed(&retry);
        (void)Exec("ROLLBACK");
        return Status::Fail(path_ + ": the table " + std::string(kReportTable) +
                            " did not keep the row");
    }
    if (!Exec("COMMIT")) return Failed(&retry);
    return {};
}

int SqliteTable::Holds(const DbCells& cells) {
    const Statement select(db_,
                           "SELECT 1 FROM " + std::string(kReportTable) + " WHERE \"row_id\" IS ?");
    const std::optional<std::string>& id = CellOf(cells, "row_id");
    if (!select.get()) return sqlite3_errcode(db_);
    const int bound = id ? sqlite3_bind_text(select.get(), 1, id->c_str(),
                                             static_cast<int>(id->size()), SQLITE_TRANSIENT)
                         : sqlite3_bind_null(select.get(), 1);
    return bound == SQLITE_OK ? sqlite3_step(select.get()) : bound;
}

int SqliteTable::Step(const DbCells& cells, std::string* message) {
    const Statement insert(db_, InsertSql());
    int code = insert.get() ? SQLITE_OK : sqlite3_errcode(db_);
    for (std::size_t i = 0; code == SQLITE_OK && i < cells.size(); ++i) {
        const int index = static_cast<int>(i + 1);
        code = cells[i] ? sqlite3_bind_text(insert.get(), index, cells[i]->c_str(),
                                            static_cast<int>(cells[i]->size()), SQLITE_TRANSIENT)
                        : sqlite3_bind_null(insert.get(), index);
    }
    if (code == SQLITE_OK) code = sqlite3_step(insert.get());
    if (code != SQLITE_DONE) *message = sqlite3_errmsg(db_);
    return code;
}

Result<std::vector<DbCells>> SqliteTable::Oldest(std::size_t limit) {
    const Statement select(db_,
                           SelectRowsSql() + " ORDER BY \"id\" LIMIT " + std::to_string(limit));
    if (!select.get()) return Fail();
    std::vector<DbCells> rows;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(select.get())) == SQLITE_ROW) {
        DbCells cells;
        for (int i = 1; i <= static_cast<int>(DbColumns().size()); ++i) {
            const unsigned char* text = sqlite3_column_text(select.get(), i);
            if (sqlite3_column_type(select.get(), i) == SQLITE_NULL || !text)
                cells.emplace_back();
            else
                cells.emplace_back(std::in_place, reinterpret_cast<const char*>(text),
                                   static_cast<std::size_t>(sqlite3_column_bytes(select.get(), i)));
        }
        rows.push_back(std::move(cells));
    }
    if (step != SQLITE_DONE) return Fail();
    return rows;
}

Result<std::vector<bool>> SqliteTable::Remove(
    const std::vector<std::optional<std::string>>& row_ids) {
    std::vector<bool> taken;
    bool retry = false;
    if (row_ids.empty()) return taken;
    if (!Exec("BEGIN IMMEDIATE")) return Failed(&retry);
    {
        const Statement remove(
            db_, "DELETE FROM " + std::string(kReportTable) + " WHERE \"row_id\" IS ?");
        if (!remove.get()) return Failed(&retry);
        for (const std::optional<std::string>& id : row_ids) {
            sqlite3_reset(remove.get());
            const int bound = id ? sqlite3_bind_text(remove.get(), 1, id->c_str(),
                                                     static_cast<int>(id->size()), SQLITE_TRANSIENT)
                                 : sqlite3_bind_null(remove.get(), 1);
            if (bound != SQLITE_OK || sqlite3_step(remove.get()) != SQLITE_DONE)
                return Failed(&retry);
            taken.push_back(sqlite3_changes(db_) > 0);
        }
    }
    if (!Exec("COMMIT")) return Failed(&retry);
    return taken;
}

std::int64_t SqliteTable::Count() {
    const Statement count(db_, "SELECT count(*) FROM " + std::string(kReportTable));
    if (!count.get() || sqlite3_step(count.get()) != SQLITE_ROW) return 0;
    return sqlite3_column_int64(count.get(), 0);
}

Result<std::unique_ptr<ReportSink>> OpenSqliteReport(const std::string& path,
                                                     const ReportNotice& notice) {
    Result<std::unique_ptr<SqliteTable>> table = SqliteTable::Open(path, notice);
    if (!table) return table.error();
    return std::unique_ptr<ReportSink>(std::make_unique<SqliteReport>(std::move(*table)));
}

}  // namespace zb
