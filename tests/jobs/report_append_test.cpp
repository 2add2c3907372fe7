// Job reports on disk: rows appended to CSV and JSON files under the folder's lock, nothing
// left beside them, and files that are no report of ours left alone.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>

#include "jobs/model/json_line.h"
#include "jobs/model/sha256.h"
#include "jobs/model/text_escape.h"
#include "jobs/report/report_append.h"
#include "jobs/report/report_format.h"
#include "jobs/run/port_result.h"
#include "jobs/run/port_run.h"
#include "port_map.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

zb::ReportRow Row(std::int32_t com, bool ok) {
    zb::ReportRow row;
    row.time = "2025-03-04T05:06:07Z";
    row.com = com;
    row.command = "read";
    row.ok = ok;
    row.message = ok ? "Get device's settings" : "Open port fail";
    return row;
}

// Visible names only: a platform may keep a hidden lock file in the folder.
std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.front() != '.') names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ReportTime, IsUtcInIso8601) {
    using namespace std::chrono;
    const sys_seconds when = sys_days{2025y / March / 4} + 5h + 6min + 7s;
    EXPECT_EQ(zb::ReportTime(when), "2025-03-04T05:06:07Z");
    EXPECT_EQ(zb::ReportTime(sys_days{1999y / December / 31} + 86399s), "1999-12-31T23:59:59Z");
}

TEST(AppendReport, RowsGrowTheFileAndReplaceItWhole) {
    const zbtest::ScratchDir scratch("zbreport");
    ASSERT_FALSE(scratch.path().empty());
    const fs::path dir = scratch.path();
    for (const char* name : {"r.csv", "r.json"}) {
        const std::string path = (dir / name).string();
        ASSERT_TRUE(zb::CheckReportFile(path).ok()) << zb::CheckReportFile(path).reason();
        ASSERT_TRUE(zb::AppendReport(path, {Row(3, true)}).ok());
        ASSERT_TRUE(zb::AppendReport(path, {Row(4, false), Row(5, true)}).ok());
        ASSERT_TRUE(zb::CheckReportFile(path).ok());
    }
    EXPECT_EQ(Slurp(dir / "r.csv"), zb::CsvHeader() + zb::CsvLine(Row(3, true)) +
                                        zb::CsvLine(Row(4, false)) + zb::CsvLine(Row(5, true)));
    EXPECT_EQ(Slurp(dir / "r.json"), "[\n  " + zb::JsonObject(Row(3, true)) + ",\n  " +
                                         zb::JsonObject(Row(4, false)) + ",\n  " +
                                         zb::JsonObject(Row(5, true)) + "\n]\n");
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"r.csv", "r.json"}));
}

// A file an earlier release began keeps its rows and takes new ones: a CSV file in its
// own columns, a JSON file with the run's keys on the new rows alone.
TEST(AppendReport, AFileOfAnEarlierReleaseKeepsTakingRows) {
    const zbtest::ScratchDir scratch("zbreport");
    ASSERT_FALSE(scratch.path().empty());
    zb::ReportRow row = Row(4, true);
    row.run_id = "0123456789abcdef0123456789abcdef";
    row.tags = {{"operator", "ana"}, {"order", "WO-17"}};
    const std::string json = "[\n  {\"time\": 0, \"com\": 3, \"command\": 0, \"result\": 0}";
    const std::pair<std::string, std::string> rows[] = {
        {"old.csv", zb::CsvHeader(false) + zb::CsvLine(Row(3, true), false)},
        {"run.csv", zb::CsvHeader(true, false) + zb::CsvLine(Row(3, true), true, false)},
        {"old.json", json + "\n]\n"},
    };
    for (const auto& [name, old] : rows) {
        const std::string path = scratch.path() + "/" + name;
        std::ofstream(path, std::ios::binary) << old;
        ASSERT_TRUE(zb::AppendReport(path, {row}).ok()) << name;
        EXPECT_EQ(Slurp(path), name == "old.json"
                                   ? json + ",\n  " + zb::JsonObject(row) + "\n]\n"
                                   : old + zb::CsvLine(row, name == "run.csv", false));
    }
    const std::string old_line = zb::CsvLine(row, false);
    EXPECT_EQ(zb::CsvLine(row),
              old_line.substr(0, old_line.size() - 1) + "," + row.run_id +
                  ",\"{\"\"operator\"\":\"\"ana\"\",\"\"order\"\":\"\"WO-17\"\"}\",,,\n");
    EXPECT_NE(zb::JsonObject(row).find("\"tags\": {\"operator\": \"ana\", \"order\": \"WO-17\"}"),
              std::string::npos);
}

// A row's time is when Finish ended its port's part, not the port's last message in the job.
TEST(PortRun, ARowsTimeIsWhenItsPortsPartEnded) {
    struct OneJob final : zb::JobHost {
        bool RunJob(const zb::PortTable&, std::uint32_t, const std::string&) override {
            return true;
        }
        std::vector<zb::PortOutcome> Outcomes() const override {
            return {{1, true, "Get device's settings",
                     std::chrono::system_clock::time_point{std::chrono::hours(1)}}};
        }
    } jobs;
    zb::PortRun run({1}, zb::RunCommand::Read, jobs);
    ASSERT_TRUE(run.RunJob());
    const std::string before = zb::ReportTime(std::chrono::system_clock::now());
    run.Finish(1, zb::FailureKind::None, false);
    EXPECT_GE(run.TakeRows().at(0).time, before);
}

#ifndef _WIN32
// A row names the port as its job began with it, though its adapter went during the job,
// and the file the run used with the SHA-256 of its content.
TEST(PortRun, ARowNamesThePortAndTheFileAsTheJobBegan) {
    const zbtest::PortMap ports;
    ports.link(3, "/dev/ttyUSB7");
    const std::string image = ports.path() + "/image.rom";
    std::ofstream(image, std::ios::binary) << "image";
    zb::NullJobReporter reporter;
    zb::EngineJobs jobs(reporter);
    zb::PortRun run({3}, zb::RunCommand::Upgrade, jobs);
    run.UseFile(image);
    fs::remove(ports.path() + "/com3");
    run.Finish(3, zb::FailureKind::StepFailed, false);
    const zb::ReportRow row = run.TakeRows().at(0);
    EXPECT_EQ(std::tie(row.device, row.port_id, row.file, row.file_sha256),
              std::make_tuple("/dev/ttyUSB7", "/dev/ttyUSB7", image, zb::Sha256Hex("image")));
}
#endif

TEST(AppendReport, RefusesWhatIsNoReportAndChangesNothing) {
    const zbtest::ScratchDir scratch("zbreport");
    ASSERT_FALSE(scratch.path().empty());
    const fs::path dir = scratch.path();
    std::ofstream(dir / "notes.csv", std::ios::binary) << "shopping,list\n";
    std::ofstream(dir / "notes.json", std::ios::binary) << "{\"a\": 1}\n";
    // Bracketed, but no array of rows.
    std::ofstream(dir / "garbage.json", std::ios::binary) << "[ }garbage{ ]\n";
    std::ofstream(dir / "numbers.json", std::ios::binary) << "[1, 2]\n";
    std::ofstream(dir / "two.json", std::ios::binary) << "[{}] [{}]\n";
    std::ofstream(dir / "text.json", std::ios::binary) << "[not json at all]";
    std::ofstream(dir / "objects.json", std::ios::binary) << "[{\"a\": 1}]";
    std::string header = zb::CsvHeader();
    std::ofstream(dir / "wider.csv", std::ios::binary) << header.insert(header.size() - 1, ",x");
    fs::create_directory(dir / "folder.csv");
    for (const char* name : {"notes.csv", "notes.json", "garbage.json", "numbers.json", "two.json",
                             "text.json", "objects.json", "wider.csv", "folder.csv"}) {
        const std::string path = (dir / name).string();
        const zb::Status checked = zb::CheckReportFile(path);
        EXPECT_FALSE(checked.ok()) << name;
        EXPECT_FALSE(checked.ok() || checked.reason().empty()) << name;
        const zb::Status appended = zb::AppendReport(path, {Row(3, true)});
        EXPECT_FALSE(appended.ok()) << name;
        EXPECT_EQ(appended.reason().rfind(path, 0), 0u) << appended.reason();
    }
    EXPECT_EQ(Slurp(dir / "notes.csv"), "shopping,list\n");
    EXPECT_EQ(Slurp(dir / "notes.json"), "{\"a\": 1}\n");
    EXPECT_EQ(Slurp(dir / "garbage.json"), "[ }garbage{ ]\n");
    EXPECT_EQ(Slurp(dir / "text.json"), "[not json at all]");
    EXPECT_EQ(Slurp(dir / "wider.csv"), header);
    EXPECT_FALSE(zb::CheckReportFile((dir / "absent" / "r.csv").string()).ok());
    EXPECT_FALSE(zb::CheckReportFile((dir / "").string()).ok());
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"folder.csv", "garbage.json", "notes.csv",
                                                    "notes.json", "numbers.json", "objects.json",
                                                    "text.json", "two.json", "wider.csv"}));
}

// A row carries what the port's part left in its record: an apply's settings as the window
// shows them, an upgrade's version after it and the settings read then.
TEST(PortReportRow, CarriesTheSettingsWrittenAndTheVersionAfter) {
    zb::DeviceRecord record;
    record.channel = 9;
    record.parity = 2;
    record.panid = 0x1A2B;
    record.security = true;
    zb::SetText(record.aeskey, "00112233445566778899aabbccddeeff");
    zb::SetText(record.fw_version, "2.0");
    zb::SetText(record.devname, "LINE7-1");
    zb::RowContext context;
    context.command = "apply";
    context.device_read = true;
    const zb::PortResult ok = zb::ResultOf({3, true, "Apply device's settings", {}}, record);
    const std::string apply = zb::JsonObject(zb::PortReportRow(ok, record, context));
    EXPECT_NE(apply.find("\"parity\": \"Even\", \"databit\": 8, \"stopbit\": 1, "),
              std::string::npos)
        << apply;
    EXPECT_NE(apply.find("\"channel\": 20, \"outpower\": -20, "), std::string::npos) << apply;
    EXPECT_NE(apply.find("\"panid\": \"1A2B\", "), std::string::npos) << apply;
    EXPECT_NE(apply.find("\"aeskey\": \"sha256:20aff5a3\", "), std::string::npos) << apply;
    context.command = "upgrade";
    context.fw_before = "1.0";
    const zb::ReportRow upgrade = zb::PortReportRow(ok, record, context);
    EXPECT_EQ(std::tie(upgrade.fw_before, upgrade.fw_after), std::make_tuple("1.0", "2.0"));
    EXPECT_EQ(upgrade.settings.back().value, "LINE7-1");
}

// Published digests (one final block, two, many blocks), and the key's fingerprint: its
// digits in upper case, as `tr a-f A-F | sha256sum` hashes them.
TEST(KeyFingerprint, IsTheStartOfTheShaOfTheUpperCaseDigits) {
    const std::pair<std::string, std::string> digests[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [data, digest] : digests) EXPECT_EQ(zb::Sha256Hex(data), digest);
    EXPECT_EQ(zb::KeyFingerprint("00112233445566778899aabbccddeeFF"), "sha256:20aff5a3");
    EXPECT_EQ(zb::KeyFingerprint(""), "");
}

// A key read back otherwise is named, never shown: the diff keeps fingerprints, and its text
// neither.
TEST(WrittenDiffs, AKeyReadBackOtherwiseIsNamedNotShown) {
    zb::DeviceRecord sent;
    sent.security = true;
    zb::SetText(sent.aeskey, "00112233445566778899aabbccddeeff");
    zb::DeviceRecord read = sent;
    zb::SetText(read.aeskey, "00112233445566778899AABBCCDDEEFF");
    EXPECT_TRUE(zb::WrittenDiffs(sent, read).empty());
    zb::SetText(read.aeskey, "FF112233445566778899AABBCCDDEEFF");
    const std::vector<zb::ReportDiff> diffs = zb::WrittenDiffs(sent, read);
    ASSERT_EQ(diffs.size(), 1u);
    EXPECT_EQ(std::tie(diffs[0].field, diffs[0].sent, diffs[0].read),
              std::make_tuple("aeskey", "sha256:20aff5a3", "sha256:da5e2065"));
    EXPECT_EQ(zb::DiffText(diffs[0]), "aeskey: differs from the key sent");
}

// \xHH for a byte outside printable ASCII, \\ for a backslash; JSON keeps valid UTF-8.
TEST(TextForms, BytesAndBackslashesReadBackAsTheyWere) {
    const struct {
        std::string text;
        std::string printable;
        std::string json;
    } cases[] = {
        {"/dev/ttyUSB\xc3\xbc", "/dev/ttyUSB\\xc3\\xbc", "\"/dev/ttyUSB\xc3\xbc\""},
        {"\xf0\x9f\x93\xa1 a\"b\\c", "\\xf0\\x9f\\x93\\xa1 a\"b\\\\c",
         "\"\xf0\x9f\x93\xa1 a\\\"b\\\\\\\\c\""},
        {"\n\t\x01\x7f", "\\x0a\\x09\\x01\\x7f", "\"\\n\\t\\u0001\x7f\""},
        {"\xfc", "\\xfc", "\"\\\\xfc\""},                  // a Latin-1 u with umlaut
        {"\\xfc", "\\\\xfc", "\"\\\\\\\\xfc\""},           // the four characters
        {"a\xc3", "a\\xc3", "\"a\\\\xc3\""},               // cut short
        {"\xc0\xaf", "\\xc0\\xaf", "\"\\\\xc0\\\\xaf\""},  // overlong
        {"\xed\xa0\x80", "\\xed\\xa0\\x80", "\"\\\\xed\\\\xa0\\\\x80\""},  // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80",
         "\"\\\\xf4\\\\x90\\\\x80\\\\x80\""},  // above U+10FFFF
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::tie(c.printable, c.json),
                  std::make_tuple(zb::Printable(c.text), zb::JsonLine(c.text)));
    EXPECT_EQ(zb::JsonLine({{"k\xff", {1, "x"}}}), "{\"k\\\\xff\": [1, \"x\"]}");
}

}  // namespace
