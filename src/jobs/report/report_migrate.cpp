#include "jobs/report/report_migrate.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "jobs/model/text_escape.h"
#include "jobs/report/pg_link.h"

namespace zb {
namespace {

using Rows = std::vector<std::vector<std::string>>;
// A column of ours that an earlier release made text: its name as the table spells it, and
// the type it has today.
using Untyped = std::vector<std::pair<std::string, DbType>>;

// Of a table's text columns, those of ours that today's table types. SQLite keeps times and
// JSON as text anyway.
Untyped UntypedOf(const std::vector<std::string>& text_columns, bool sqlite) {
    Untyped untyped;
    for (const std::string& name : text_columns)
        for (const DbColumn& column : DbColumns())
            if (SameIgnoringCase(name, column.name) && column.type != DbType::Text &&
                (!sqlite || column.type == DbType::Integer || column.type == DbType::Real))
                untyped.emplace_back(name, column.type);
    return untyped;
}

std::string Names(const Untyped& columns) {
    std::string names;
    for (const auto& [name, type] : columns) names += (names.empty() ? "" : ", ") + name;
    return names;
}

// The AES key itself, as an earlier release kept it, rather than its fingerprint.
bool IsPlainKey(std::string_view text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

// Each key that may be plain, and in how many rows; the same in both databases.
std::string KeysSql() {
    return "SELECT \"aeskey\", count(*) FROM " + std::string(kReportTable) +
           " WHERE length(\"aeskey\") = 32 GROUP BY \"aeskey\"";
}

std::string KeyUpdateSql(const char* fingerprint, const char* key) {
    return "UPDATE " + std::string(kReportTable) + " SET \"aeskey\" = " + fingerprint +
           " WHERE \"aeskey\" = " + key;
}

std::string Counted(std::int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string TypedText(std::int64_t rows, std::int64_t keys) {
    std::string text = "the table " + std::string(kReportTable) +
                       " of an earlier release now has typed columns (" +
                       Counted(rows, "row", "rows") + " kept";
    if (keys > 0)
        text += "; " + Counted(keys, "plain AES key replaced by its fingerprint",
                               "plain AES keys replaced by their fingerprints");
    return text + ")";
}

std::string KeptText(const Untyped& columns, const std::string& why) {
    return "the table " + std::string(kReportTable) +
           " of an earlier release keeps the text columns " + Names(columns) + ", " + why +
           "; numbers in them compare as texts";
}

// --- SQLite ---

struct StatementFree {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

// Runs `sql` with `params` bound; its rows into `rows`, NULL as "". False right after the
// call that failed.
bool SqliteRun(sqlite3* db, const std::string& sql, Rows* rows,
               const std::vector<std::string>& params = {}) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr) !=
        SQLITE_OK)
        return false;
    const std::unique_ptr<sqlite3_stmt, StatementFree> stmt(raw);
    for (std::size_t i = 0; i < params.size(); ++i)
        if (sqlite3_bind_text(raw, static_cast<int>(i + 1), params[i].c_str(),
                              static_cast<int>(params[i].size()), SQLITE_TRANSIENT) != SQLITE_OK)
            return false;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(raw)) == SQLITE_ROW) {
        std::vector<std::string>& row = rows->emplace_back();
        for (int c = 0; c < sqlite3_column_count(raw); ++c) {
            const unsigned char* text = sqlite3_column_text(raw, c);
            row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
    }
    return step == SQLITE_DONE;
}

bool SqliteExec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The declared types SQLite gives text affinity, as an earlier release's "text".
bool TextAffinity(std::string type) {
    for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (type.find("INT") != std::string::npos) return false;
    return type.find("CHAR") != std::string::npos || type.find("CLOB") != std::string::npos ||
           type.find("TEXT") != std::string::npos;
}

bool OneOfOurs(const std::string& name) {
    return SameIgnoringCase(name, "id") ||
           std::any_of(DbColumns().begin(), DbColumns().end(),
                       [&name](const DbColumn& c) { return SameIgnoringCase(name, c.name); });
}

// The plain keys of the table replaced by their fingerprints; how many rows held one.
bool FingerprintSqliteKeys(sqlite3* db, std::int64_t* replaced) {
    Rows keys;
    if (!SqliteRun(db, KeysSql(), &keys)) return false;
    for (const std::vector<std::string>& key : keys) {
        if (!IsPlainKey(key[0])) continue;
        Rows none;
        if (!SqliteRun(db, KeyUpdateSql("?", "?"), &none, {KeyFingerprint(key[0]), key[0]}))
            return false;
        *replaced += std::stoll(key[1]);
    }
    return true;
}

// --- PostgreSQL ---

// The rows of `sql` run with `params`, or the first line of the server's complaint (or why
// no answer came within the link's deadline).
Result<Rows> PgRun(PgLink& conn, const std::string& sql,
                   const std::vector<std::string>& params = {}) {
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const std::string& p : params) values.push_back(p.c_str());
    const PgResult result = conn.Exec(sql, values);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        return Error{conn.Why(result.get())};
    Rows rows;
    for (int r = 0; r < PQntuples(result.get()); ++r) {
        std::vector<std::string>& row = rows.emplace_back();
        for (int c = 0; c < PQnfields(result.get()); ++c)
            row.emplace_back(PQgetvalue(result.get(), r, c));
    }
    return rows;
}

// The table's text columns that today's table types.
Result<Untyped> PgUntyped(PgLink& conn) {
    const Result<Rows> text =
        PgRun(conn, "SELECT attname FROM pg_attribute WHERE attrelid = to_regclass('" +
                        std::string(kReportTable) +
                        "') AND attnum > 0 AND NOT attisdropped AND atttypid IN ('text'::regtype, "
                        "'varchar'::regtype, 'bpchar'::regtype)");
    if (!text) return text.error();
    std::vector<std::string> names;
    for (const std::vector<std::string>& row : *text) names.push_back(row[0]);
    return UntypedOf(names, false);
}

// What a text cell of `type` becomes: NULL unless it reads as one, so that no old cell stops
// the change. The texts are those that DbCellsOf and ReportTime make.
std::string CastOf(const std::string& column, DbType type, const char* sql_type) {
    const std::string name = "\"" + column + "\"";
    const char* pattern = "^-?[0-9]{1,9}$";  // an integer's range
    if (type == DbType::Real) pattern = "^-?[0-9]+([.][0-9]+)?$";
    if (type == DbType::Time) pattern = "^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9.]+Z$";
    if (type == DbType::Json) pattern = "^[{].*[}]$";
    return "(CASE WHEN " + name + " ~ '" + pattern + "' THEN " + name + "::" + sql_type + " END)";
}

// The change, in the transaction that holds the lock; how many rows the table kept and how
// many held a plain key.
Status PgType(PgLink& conn, const Untyped& untyped, const char* (*sql_type)(DbType),
              std::int64_t* rows, std::int64_t* replaced) {
    const std::string table(kReportTable);
    const Result<Rows> count = PgRun(conn, "SELECT count(*) FROM " + table);
    if (!count) return count.error();
    *rows = std::stoll(count->at(0).at(0));
    std::string alter = "ALTER TABLE " + table;
    for (const auto& [name, type] : untyped)
        alter += " ALTER COLUMN \"" + name + "\" TYPE " + sql_type(type) + " USING " +
                 CastOf(name, type, sql_type(type)) + ",";
    alter.pop_back();
    if (const Result<Rows> altered = PgRun(conn, alter); !altered) return altered.error();
    const Result<Rows> keys = PgRun(conn, KeysSql());
    if (!keys) return keys.error();
    for (const std::vector<std::string>& key : *keys) {
        if (!IsPlainKey(key[0])) continue;
        const Result<Rows> updated =
            PgRun(conn, KeyUpdateSql("$1", "$2"), {KeyFingerprint(key[0]), key[0]});
        if (!updated) return updated.error();
        *replaced += std::stoll(key[1]);
    }
    return {};
}

}  // namespace

bool TypeSqliteColumns(sqlite3* db, const std::string& create_sql, std::string* told) {
    told->clear();
    const std::string table(kReportTable);
    Rows columns;
    if (!SqliteRun(db, "SELECT name, type FROM pragma_table_info('" + table + "')", &columns))
        return false;
    std::vector<std::string> text;
    std::string own;
    for (const std::vector<std::string>& column : columns) {
        if (TextAffinity(column[1])) text.push_back(column[0]);
        if (!OneOfOurs(column[0])) own += (own.empty() ? "" : ", ") + column[0];
    }
    const Untyped untyped = UntypedOf(text, true);
    if (untyped.empty()) return true;
    // Its rows go into a new table of today's columns, which would lack the table's own.
    if (!own.empty()) {
        *told = KeptText(untyped, "since a new table would lack its own columns " + own);
        return true;
    }
    std::int64_t replaced = 0;
    if (!FingerprintSqliteKeys(db, &replaced)) return false;
    // The indexes and triggers go with the old table; they are made again on the new one.
    Rows remade;
    if (!SqliteRun(db,
                   "SELECT sql FROM sqlite_master WHERE tbl_name = '" + table +
                       "' AND type IN ('index', 'trigger') AND sql IS NOT NULL",
                   &remade))
        return false;
    const std::string typed = table + "_typed";
    if (!SqliteExec(db,
                    "CREATE TABLE \"" + typed + "\"" + create_sql.substr(create_sql.find(" ("))) ||
        !SqliteExec(db, "INSERT INTO \"" + typed + "\" (\"id\", " + QuotedColumns() +
                            ") SELECT \"id\", " + QuotedColumns() + " FROM " + table))
        return false;
    const std::int64_t rows = sqlite3_changes(db);
    // A column's affinity made every text that reads as a number a number; what is left as
    // text is no number.
    std::string update = "UPDATE \"" + typed + "\" SET ";
    for (const auto& [name, type] : untyped)
        update += (update.back() == ' ' ? "\"" : ", \"") + name + "\" = CASE WHEN typeof(\"" +
                  name + "\") IN ('integer', 'real') THEN \"" + name + "\" END";
    if (!SqliteExec(db, update) || !SqliteExec(db, "DROP TABLE " + table) ||
        // Without it, the rename checks the views, and one on the table is dangling now.
        !SqliteExec(db, "PRAGMA legacy_alter_table = ON") ||
        !SqliteExec(db, "ALTER TABLE \"" + typed + "\" RENAME TO " + table) ||
        !SqliteExec(db, "PRAGMA legacy_alter_table = OFF"))
        return false;
    for (const std::vector<std::string>& sql : remade)
        if (!SqliteExec(db, sql[0])) return false;
    *told = TypedText(rows, replaced);
    return true;
}

void TypePostgresColumns(PgLink& conn, const std::string& lock, const char* (*sql_type)(DbType),
                         const ReportNotice& notice) {
    // Asked first without the lock: a table of today needs nothing.
    const Result<Untyped> asked = PgUntyped(conn);
    if (!asked || asked->empty()) return;
    std::int64_t rows = 0;
    std::int64_t replaced = 0;
    bool changed = false;
    const Status typed = [&]() -> Status {
        if (const Result<Rows> begun = PgRun(conn, "BEGIN"); !begun) return begun.error();
        const Result<Rows> locked = PgRun(conn, "SELECT pg_advisory_xact_lock(" + lock + ")");
        if (!locked) return locked.error();
        // Another station may have typed it meanwhile.
        const Result<Untyped> untyped = PgUntyped(conn);
        if (!untyped) return untyped.error();
        changed = !untyped->empty();
        if (Status done = changed ? PgType(conn, *untyped, sql_type, &rows, &replaced) : Status();
            !done)
            return done;
        const Result<Rows> committed = PgRun(conn, "COMMIT");
        return committed ? Status() : Status(committed.error());
    }();
    if (!typed) (void)PgRun(conn, "ROLLBACK");
    if (!notice) return;
    if (!typed)
        notice(KeptText(*asked, "which could not be given their types (" + typed.reason() + ")") +
               " until the table's owner opens the report");
    else if (changed)
        notice(TypedText(rows, replaced));
}

}  // namespace zb
