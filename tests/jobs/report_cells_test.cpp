// What the reports store of a row's texts, in the database's cells, the CSV line and the JSON
// object alike.
#include <gtest/gtest.h>

#include "jobs/report/report_database.h"
#include "jobs/report/report_format.h"

namespace {

// The texts the program made itself are stored as they are in every form; a modem's stay
// escaped: a tag with a backslash, Windows paths, a device name with a Latin-1 byte.
TEST(ReportForms, MadeTextsAreStoredAsTheyAreAModemsEscaped) {
    zb::ReportRow row;
    row.com = 3;
    row.command = "read";
    row.message = R"(Open port fail: \\.\COM3)";
    row.device = R"(\\.\COM3)";
    row.port_id = R"(\\?\USB#VID_0403&PID_6001#A50285BI)";
    row.tags = {{"bs", "a\\b \xc3\xbc"}};
    row.file = R"(C:\images\zb 1.rom)";
    row.file_sha256 = std::string(64, 'a');
    row.settings = {{"devname", "SIM\\\xfc"}};
    const zb::DbCells cells = zb::DbCellsOf(row, R"(st\1)", "id");
    const auto cell = [&cells](std::string_view name) {
        for (std::size_t i = 0; i < zb::DbColumns().size(); ++i)
            if (zb::DbColumns()[i].name == name) return cells[i].value_or("NULL");
        return std::string("absent");
    };
    const std::string csv = zb::CsvLine(row);
    const std::tuple<std::string, std::string, std::string> stored[] = {
        {"device", row.device, row.device},
        {"port_id", row.port_id, row.port_id},
        {"file", row.file, row.file},
        {"file_sha256", row.file_sha256, row.file_sha256},
        {"tags",
         R"({"bs":"a\\b )"
         "\xc3\xbc"
         R"("})",
         R"("{""bs"":""a\\b )"
         "\xc3\xbc"
         R"(""}")"},
        {"station", R"(st\1)", "not in the CSV"},
        {"message", R"(Open port fail: \\\\.\\COM3)", R"(Open port fail: \\\\.\\COM3)"},
        {"devname", R"(SIM\\\xfc)", R"(SIM\\\xfc)"},
    };
    for (const auto& [column, text, in_csv] : stored) {
        EXPECT_EQ(cell(column), text) << column;
        EXPECT_EQ(csv.find("," + in_csv) == std::string::npos, column == "station") << csv;
    }
    const auto json = nlohmann::json::parse(zb::JsonObject(row));
    EXPECT_EQ(json["tags"]["bs"], row.tags[0].second);
    for (const char* column : {"device", "port_id", "file"})
        EXPECT_EQ(json[column], cell(column)) << column;
    EXPECT_EQ(json["message"], cell("message"));
}

}  // namespace
