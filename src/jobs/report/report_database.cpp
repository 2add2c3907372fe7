#include "jobs/report/report_database.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "jobs/model/record_fields.h"
#include "jobs/model/sha256.h"
#include "jobs/model/text_escape.h"
#include "jobs/platform/host_name.h"
#include "jobs/report/report_format.h"
#include "jobs/report/report_open.h"

namespace zb {
namespace {

std::optional<std::string> TextOrNull(std::string_view text) {
    if (text.empty()) return std::nullopt;
    return Printable(text);
}

// A text the program made itself, or NULL for none.
std::optional<std::string> MadeOrNull(std::string_view text) {
    if (text.empty()) return std::nullopt;
    return StoredText(text);
}

bool IsNumber(std::string_view text) {
    if (text.starts_with('-')) text.remove_prefix(1);
    const std::size_t point = text.find('.');
    const auto digits = [](std::string_view d) {
        return !d.empty() && d.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (point == std::string_view::npos) return digits(text);
    return digits(text.substr(0, point)) && digits(text.substr(point + 1));
}

// A setting's column: a number where the field shows decimal numbers, whole or not.
DbType SettingType(const RecordField& field) {
    if (!ShowsNumber(field)) return DbType::Text;
    for (const std::string_view text : field.display.texts)
        if (text.find('.') != std::string_view::npos) return DbType::Real;
    return DbType::Integer;
}

}  // namespace

bool DatabaseReportsBuilt() {
    return true;
}

const std::vector<DbColumn>& DbColumns() {
    static const std::vector<DbColumn> columns = [] {
        std::vector<DbColumn> c = {{"station"},
                                   {"row_id"},
                                   {"time", DbType::Time},
                                   {"com", DbType::Integer},
                                   {"device"},
                                   {"command"},
                                   {"try", DbType::Integer},
                                   {"result"},
                                   {"message"},
                                   {"fw_before"},
                                   {"fw_after"}};
        for (const RecordField& field : RecordFields())
            c.push_back({std::string(field.name), SettingType(field)});
        c.push_back({"verify"});
        c.push_back({"run_id", DbType::Text, true});
        c.push_back({"tags", DbType::Json, true});
        c.push_back({"port_id", DbType::Text, true});
        c.push_back({"file", DbType::Text, true});
        c.push_back({"file_sha256", DbType::Text, true});
        return c;
    }();
    return columns;
}

const std::vector<std::pair<std::string, std::string>>& DbIndexes() {
    static const std::vector<std::pair<std::string, std::string>> indexes = [] {
        std::vector<std::pair<std::string, std::string>> list;
        for (const char* column : {"time", "devname", "station", "port_id"})
            list.emplace_back(std::string(kReportTable) + "_" + column, column);
        return list;
    }();
    return indexes;
}

DbCells DbCellsOf(const ReportRow& row, std::string_view station, std::string row_id) {
    DbCells cells = {StoredText(station),         std::move(row_id),        row.time,
                     std::to_string(row.com),     StoredText(row.device),   StoredText(row.command),
                     std::to_string(row.attempt), row.ok ? "ok" : "failed", Printable(row.message),
                     TextOrNull(row.fw_before),   TextOrNull(row.fw_after)};
    for (const RecordField& field : RecordFields()) {
        // The cells so far are the columns before this field's.
        const bool text = DbColumns()[cells.size()].type == DbType::Text;
        std::optional<std::string> cell;
        for (const ReportValue& v : row.settings)
            if (v.name == field.name && (text || IsNumber(v.value))) cell = Printable(v.value);
        cells.push_back(std::move(cell));
    }
    cells.push_back(row.verified ? std::optional<std::string>(Printable(VerifyText(row)))
                                 : std::nullopt);
    cells.push_back(MadeOrNull(row.run_id));
    cells.push_back(TagsJson(row.tags));
    cells.push_back(MadeOrNull(row.port_id));
    cells.push_back(MadeOrNull(row.file));
    cells.push_back(MadeOrNull(row.file_sha256));
    return cells;
}

const std::optional<std::string>& CellOf(const DbCells& cells, std::string_view column) {
    static const std::optional<std::string> none;
    for (std::size_t i = 0; i < DbColumns().size() && i < cells.size(); ++i)
        if (DbColumns()[i].name == column) return cells[i];
    return none;
}

std::string RowName(const DbCells& cells) {
    const auto cell = [&cells](std::string_view name) { return CellOf(cells, name).value_or(""); };
    return "COM" + cell("com") + " " + cell("command") + " try " + cell("try");
}

std::vector<DbCells> ProbeRows(std::string_view station) {
    ReportRow done;
    done.time = ReportTime(std::chrono::system_clock::now());
    done.com = 1;
    done.device = "/dev/ttyUSB0";
    done.command = "upgrade";
    done.ok = true;
    done.message = "Upgrade OK";
    done.fw_before = "1.0.0";
    done.fw_after = "1.0.1";
    done.settings = ReportSettings(DeviceRecord{});
    done.verified = true;
    done.verify_ok = true;
    done.run_id = NewRunId();
    done.tags = {{"operator", "ana"}, {"order", "WO-17"}};
    done.port_id = "/dev/serial/by-id/usb-0403_6001_A50285BI-if00-port0";
    done.file = "/srv/line/images/zb-1.0.1.rom";
    done.file_sha256 = Sha256Hex("");
    ReportRow failed;
    failed.time = done.time;
    failed.run_id = done.run_id;
    failed.port_id = "/dev/ttyS0";
    failed.com = 1;
    failed.command = "read";
    failed.message = "Open port fail";
    return {DbCellsOf(done, station, NewRowId()), DbCellsOf(failed, station, NewRowId())};
}

std::string NewRowId() {
    // Straight from the system's entropy, row by row: a generator seeded once per process
    // would, over a line's years of runs, give two runs the same seed and so the same keys,
    // and the database would drop the second run's rows as sent already.
    std::random_device random;
    std::string id;
    for (int i = 0; i < 4; ++i) {
        char part[16];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        id += part;
    }
    return id;
}

std::string StationName() {
    std::string name = HostName();
    return name.empty() ? "unknown" : name;
}

std::string QuotedColumns() {
    std::vector<std::size_t> all(DbColumns().size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    return QuotedColumns(all);
}

std::string QuotedColumns(const std::vector<std::size_t>& columns) {
    std::string list;
    for (const std::size_t i : columns)
        list += (list.empty() ? "\"" : ", \"") + DbColumns()[i].name + "\"";
    return list;
}

std::vector<std::size_t> ColumnsPresent(const std::vector<std::string>& have,
                                        std::string* missing) {
    const auto has = [&have](std::string_view name) {
        return std::any_of(have.begin(), have.end(),
                           [name](const std::string& h) { return SameIgnoringCase(h, name); });
    };
    std::vector<std::size_t> present;
    missing->clear();
    if (!has("id")) *missing = "id";
    for (std::size_t i = 0; i < DbColumns().size(); ++i) {
        const DbColumn& column = DbColumns()[i];
        if (has(column.name))
            present.push_back(i);
        else if (!column.added)
            *missing += (missing->empty() ? "" : ", ") + column.name;
    }
    return present;
}

std::string IndexSql(const std::string& index, const std::string& column) {
    return "CREATE INDEX IF NOT EXISTS \"" + index + "\" ON " + std::string(kReportTable) + " (\"" +
           column + "\")";
}

std::string SelectRowsSql() {
    return "SELECT \"id\", " + QuotedColumns() + " FROM " + std::string(kReportTable);
}

}  // namespace zb
