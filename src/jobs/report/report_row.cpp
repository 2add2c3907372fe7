#include "jobs/report/report_row.h"

#include <cstdio>
#include <random>
#include <string>

#include "jobs/model/record_fields.h"
#include "jobs/model/sha256.h"
#include "jobs/model/text_escape.h"

namespace zb {
namespace {

// The apply job's writes, by field; security and its key are compared apart.
std::vector<std::string_view> WrittenFieldNames() {
    std::vector<std::string_view> names;
    for (const RecordField* field : FieldsWritten())
        if (field->commands.form != WireForm::SecurityKey) names.push_back(field->name);
    return names;
}
const std::vector<std::string_view> kWrittenFields = WrittenFieldNames();

}  // namespace

std::string NewRunId() {
    std::random_device device;
    std::string id;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(device()));
        id += part;
    }
    return id;
}

std::string ReportTime(std::chrono::system_clock::time_point when) {
    // The civil calendar of <chrono>: thread-safe, and the same on every platform.
    using namespace std::chrono;
    const auto secs = floor<seconds>(when);
    const auto day = floor<days>(secs);
    const year_month_day date{day};
    const hh_mm_ss time{secs - day};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return buf;
}

std::string KeyFingerprint(std::string_view key) {
    if (key.empty()) return "";
    std::string upper(key);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return "sha256:" + Sha256Hex(upper).substr(0, 8);
}

std::vector<ReportValue> ReportSettings(const DeviceRecord& record, bool show_key) {
    std::vector<ReportValue> values;
    for (const RecordField& field : RecordFields()) {
        std::string text = ShownText(record, field);
        if (field.id == FieldId::Aeskey && !show_key) text = KeyFingerprint(text);
        values.push_back({std::string(field.name), std::move(text), ShowsNumber(field)});
    }
    return values;
}

std::vector<ReportDiff> WrittenDiffs(const DeviceRecord& sent, const DeviceRecord& read) {
    std::vector<ReportDiff> diffs;
    const auto compare = [&](std::string_view name) {
        const RecordField& field = *FindRecordField(name);
        std::string a = ShownText(sent, field);
        std::string b = ShownText(read, field);
        if (a != b) diffs.push_back({std::string(name), std::move(a), std::move(b)});
    };
    for (const std::string_view name : kWrittenFields) compare(name);
    compare("security");
    // The key's digits in either case; the diff keeps its fingerprints, never the key.
    const RecordField& key = FieldOf(FieldId::Aeskey);
    const std::string sent_key = ShownText(sent, key);
    const std::string read_key = ShownText(read, key);
    if (sent.security && read.security && !SameIgnoringCase(sent_key, read_key))
        diffs.push_back(
            {std::string(key.name), KeyFingerprint(sent_key), KeyFingerprint(read_key)});
    return diffs;
}

std::string DiffText(const ReportDiff& diff) {
    if (diff.field == FieldOf(FieldId::Aeskey).name)
        return diff.field + ": differs from the key sent";
    return diff.field + ": sent " + diff.sent + ", read " + diff.read;
}

std::string ChangeText(const ReportDiff& diff) {
    if (diff.field == FieldOf(FieldId::Aeskey).name) return diff.field + ": would change";
    return diff.field + ": " + Printable(diff.read) + " \u2192 " + Printable(diff.sent);
}

}  // namespace zb
