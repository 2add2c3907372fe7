#include "jobs/report/report_append.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "jobs/platform/file_storage.h"
#include "jobs/report/report_format.h"

namespace zb {
namespace {

bool Blank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// Accepts exactly a JSON array of our rows: objects with at least the keys every version
// has written (time, com, command, result). Parses without building the document, since a
// shift's report can be large. Any other event at the top two levels stops the parse.
class RowArrayCheck : public nlohmann::json_sax<nlohmann::json> {
public:
    bool null() override { return Scalar(); }
    bool boolean(bool) override { return Scalar(); }
    bool number_integer(number_integer_t) override { return Scalar(); }
    bool number_unsigned(number_unsigned_t) override { return Scalar(); }
    bool number_float(number_float_t, const string_t&) override { return Scalar(); }
    bool string(string_t&) override { return Scalar(); }
    bool binary(binary_t&) override { return Scalar(); }
    bool start_object(std::size_t) override { return Open(false); }
    bool end_object() override {
        if (depth_ == 2 && row_keys_ != kRowKeys.size()) return false;
        return Close();
    }
    bool start_array(std::size_t) override { return Open(true); }
    bool end_array() override { return Close(); }
    bool key(string_t& name) override {
        if (depth_ == 2 && std::find(kRowKeys.begin(), kRowKeys.end(), name) != kRowKeys.end())
            ++row_keys_;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    // The top level is the array; its elements are objects; anything may nest below them.
    bool Scalar() const { return depth_ >= 2; }
    bool Open(bool array) {
        if (depth_ == 0 && !array) return false;
        if (depth_ == 1 && array) return false;
        if (depth_ == 1) row_keys_ = 0;
        ++depth_;
        return true;
    }
    bool Close() {
        --depth_;
        return true;
    }

    static constexpr std::array<std::string_view, 4> kRowKeys{"time", "com", "command", "result"};
    int depth_ = 0;
    std::size_t row_keys_ = 0;  // of kRowKeys, in the row being read
};

bool IsRowArray(const std::string& content) {
    RowArrayCheck check;
    return nlohmann::json::sax_parse(content, &check);
}

bool StartsWith(const std::string& content, const std::string& head) {
    return content.compare(0, head.size(), head) == 0;
}

// Whether the content is a report of this format we may append to: for CSV, one that
// begins with this version's header or with the one earlier releases wrote.
Status Recognised(const std::string& path, const std::string& content, ReportFormat format) {
    if (Blank(content)) return {};
    if (format == ReportFormat::Csv) {
        if (StartsWith(content, CsvHeader()) || StartsWith(content, CsvHeader(true, false)) ||
            StartsWith(content, CsvHeader(false)))
            return {};
        return Status::Fail(path +
                            ": not a report of this program (its first line is not the header "
                            "this version writes)");
    }
    if (IsRowArray(content)) return {};
    return Status::Fail(path + ": not a JSON array of report rows");
}

}  // namespace

Status CheckReportFile(const std::string& path) {
    if (path.empty() || EndsInSeparator(path))
        return Status::Fail("needs a file name, not \"" + path + "\"");
    if (Status folder = CheckReportFolder(ReportFolder(path)); !folder) return folder;
    const Result<std::string> content = ReadReportFile(path);
    if (!content) return content.error();
    return Recognised(path, *content, ReportFormatOf(path));
}

Status AppendReport(const std::string& path, const std::vector<ReportRow>& rows) {
    // Two programs appending at once would each write the old rows plus their own, and one
    // set of rows would be lost; the folder's lock makes them take turns.
    ReportFolderLock lock;
    if (Status locked = lock.Lock(ReportFolder(path)); !locked) return locked;
    Result<std::string> read = ReadReportFile(path);
    if (!read) return read.error();
    std::string& content = *read;
    const ReportFormat format = ReportFormatOf(path);
    if (Status recognised = Recognised(path, content, format); !recognised) return recognised;
    if (format == ReportFormat::Csv) {
        if (Blank(content)) content = CsvHeader();
        if (content.back() != '\n') content += '\n';
        // A file an earlier release began keeps its columns: growing them would take
        // rewriting every row in it.
        const bool with_run = !StartsWith(content, CsvHeader(false));
        const bool with_file = with_run && !StartsWith(content, CsvHeader(true, false));
        for (const ReportRow& row : rows) content += CsvLine(row, with_run, with_file);
    } else {
        bool first = true;
        if (Blank(content)) {
            content.assign(1, '[');  // = "[" draws a false -Wrestrict from GCC 12
        } else {
            content.resize(content.find_last_not_of(" \t\r\n"));  // drop the ']'
            const std::size_t end = content.find_last_not_of(" \t\r\n");
            first = content[end] == '[';
            content.resize(end + 1);
        }
        for (const ReportRow& row : rows) {
            content += first ? "\n  " : ",\n  ";
            first = false;
            content += JsonObject(row);
        }
        content += "\n]\n";
    }
    return lock.Replace(path, content);
}

}  // namespace zb
