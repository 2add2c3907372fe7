#include "jobs/report_sqlite.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

#include <utility>

namespace zb {
namespace {

constexpr int kBusyWaitMs = 10000;

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

std::string CreateSql() {
    std::string sql =
        "CREATE TABLE IF NOT EXISTS " + std::string(kReportTable) + " (\"id\" INTEGER PRIMARY KEY";
    for (const DbColumn& column : DbColumns()) {
        sql += ", \"" + column.name + "\" " + (column.integer ? "INTEGER" : "TEXT");
        if (column.name == "row_id") sql += " UNIQUE";
    }
    return sql + ")";
}

// Built once: every row of a report and of a spool is inserted with it.
const std::string& InsertSql() {
    static const std::string sql = [] {
        std::string text = "INSERT OR IGNORE INTO " + std::string(kReportTable) + " (" +
                           QuotedColumns() + ") VALUES (";
        for (std::size_t i = 0; i < DbColumns().size(); ++i) text += i == 0 ? "?" : ", ?";
        return text + ")";
    }();
    return sql;
}

class SqliteReport final : public ReportSink {
public:
    explicit SqliteReport(std::unique_ptr<SqliteTable> table)
        : table_(std::move(table)), station_(StationName()) {}

protected:
    bool AppendRows(const std::vector<ReportRow>& rows, std::string* error) override {
        for (const ReportRow& row : rows)
            if (!table_->Insert(DbCellsOf(row, station_, NewRowId()), error)) return false;
        return true;
    }

private:
    std::unique_ptr<SqliteTable> table_;
    std::string station_;
};

}  // namespace

std::unique_ptr<SqliteTable> SqliteTable::Open(const std::string& path, std::string* error) {
    sqlite3* db = nullptr;
    const int opened =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<SqliteTable> table(new SqliteTable(db, path));
    if (opened != SQLITE_OK) {
        (void)table->Fail(error);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyWaitMs);
    // The first statement reads the file, and finds out whether it is a database at all.
    // Naming every column in a query refuses a table of another shape before any row.
    const std::string check = SelectRowsSql() + " LIMIT 0";
    // Two processes that open a new file at once race to switch it to WAL and to create
    // the table; the loser may get SQLITE_BUSY without the busy handler being asked (the
    // journal mode change and WAL recovery take their locks without waiting), so the setup
    // is tried again for as long as an insert would wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyWaitMs);
    for (;;) {
        if (sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) == SQLITE_OK &&
            sqlite3_exec(db, CreateSql().c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
            sqlite3_exec(db, check.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK)
            return table;
        const int code = sqlite3_errcode(db) & 0xff;
        if ((code != SQLITE_BUSY && code != SQLITE_LOCKED) ||
            std::chrono::steady_clock::now() >= deadline) {
            (void)table->Fail(error);
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

SqliteTable::~SqliteTable() {
    sqlite3_close_v2(db_);
}

bool SqliteTable::Fail(std::string* error) const {
    *error = path_ + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    return false;
}

bool SqliteTable::Insert(const DbCells& cells, std::string* error) {
    const Statement insert(db_, InsertSql());
    if (!insert.get()) return Fail(error);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const int index = static_cast<int>(i + 1);
        const int bound =
            cells[i] ? sqlite3_bind_text(insert.get(), index, cells[i]->c_str(),
                                         static_cast<int>(cells[i]->size()), SQLITE_TRANSIENT)
                     : sqlite3_bind_null(insert.get(), index);
        if (bound != SQLITE_OK) return Fail(error);
    }
    return sqlite3_step(insert.get()) == SQLITE_DONE || Fail(error);
}

bool SqliteTable::Oldest(std::size_t limit, std::vector<Kept>* rows, std::string* error) {
    const Statement select(db_,
                           SelectRowsSql() + " ORDER BY \"id\" LIMIT " + std::to_string(limit));
    if (!select.get()) return Fail(error);
    rows->clear();
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(select.get())) == SQLITE_ROW) {
        Kept kept;
        kept.id = sqlite3_column_int64(select.get(), 0);
        for (int i = 1; i <= static_cast<int>(DbColumns().size()); ++i) {
            const unsigned char* text = sqlite3_column_text(select.get(), i);
            if (sqlite3_column_type(select.get(), i) == SQLITE_NULL || !text)
                kept.cells.emplace_back();
            else
                kept.cells.emplace_back(
                    std::in_place, reinterpret_cast<const char*>(text),
                    static_cast<std::size_t>(sqlite3_column_bytes(select.get(), i)));
        }
        rows->push_back(std::move(kept));
    }
    return step == SQLITE_DONE || Fail(error);
}

bool SqliteTable::Remove(std::int64_t id, std::string* error) {
    const Statement remove(db_, "DELETE FROM " + std::string(kReportTable) + " WHERE \"id\" = ?");
    if (!remove.get() || sqlite3_bind_int64(remove.get(), 1, id) != SQLITE_OK) return Fail(error);
    return sqlite3_step(remove.get()) == SQLITE_DONE || Fail(error);
}

std::int64_t SqliteTable::Count() {
    const Statement count(db_, "SELECT count(*) FROM " + std::string(kReportTable));
    if (!count.get() || sqlite3_step(count.get()) != SQLITE_ROW) return 0;
    return sqlite3_column_int64(count.get(), 0);
}

std::unique_ptr<ReportSink> OpenSqliteReport(const std::string& path, std::string* error) {
    std::unique_ptr<SqliteTable> table = SqliteTable::Open(path, error);
    if (!table) return nullptr;
    return std::make_unique<SqliteReport>(std::move(table));
}

}  // namespace zb
