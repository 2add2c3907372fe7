#include "jobs/report/report_database.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "jobs/model/record_fields.h"
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

}  // namespace

bool DatabaseReportsBuilt() {
    return true;
}

const std::vector<DbColumn>& DbColumns() {
    static const std::vector<DbColumn> columns = [] {
        std::vector<DbColumn> c = {{"station"}, {"row_id"},    {"time"},      {"com", true},
                                   {"device"},  {"command"},   {"try", true}, {"result"},
                                   {"message"}, {"fw_before"}, {"fw_after"}};
        for (const RecordField& field : RecordFields()) c.push_back({std::string(field.name)});
        c.push_back({"verify"});
        return c;
    }();
    return columns;
}

DbCells DbCellsOf(const ReportRow& row, std::string_view station, std::string row_id) {
    DbCells cells = {Printable(station),          std::move(row_id),        row.time,
                     std::to_string(row.com),     Printable(row.device),    Printable(row.command),
                     std::to_string(row.attempt), row.ok ? "ok" : "failed", Printable(row.message),
                     TextOrNull(row.fw_before),   TextOrNull(row.fw_after)};
    for (const RecordField& field : RecordFields()) {
        std::optional<std::string> cell;
        for (const ReportValue& v : row.settings)
            if (v.name == field.name) cell = Printable(v.value);
        cells.push_back(std::move(cell));
    }
    cells.push_back(row.verified ? std::optional<std::string>(Printable(VerifyText(row)))
                                 : std::nullopt);
    return cells;
}

std::string RowName(const DbCells& cells) {
    const auto cell = [&cells](std::string_view name) {
        for (std::size_t i = 0; i < DbColumns().size() && i < cells.size(); ++i)
            if (DbColumns()[i].name == name) return cells[i].value_or("");
        return std::string();
    };
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
    ReportRow failed;
    failed.time = done.time;
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
    std::string list;
    for (const DbColumn& column : DbColumns())
        list += (list.empty() ? "\"" : ", \"") + column.name + "\"";
    return list;
}

std::string SelectRowsSql() {
    return "SELECT \"id\", " + QuotedColumns() + " FROM " + std::string(kReportTable);
}

}  // namespace zb
