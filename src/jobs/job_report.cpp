#include "jobs/job_report.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "jobs/record_fields.h"

namespace zb {
namespace {

// The apply job's sixteen writes, by field; security and its key are compared apart.
constexpr std::string_view kWrittenFields[] = {
    "baud",    "databit", "stopbit", "parity",   "interface", "devname", "channel",   "devtype",
    "lnodeid", "rnodeid", "panid",   "outpower", "topology",  "txmode",  "startbyte",
};

constexpr std::string_view kCsvColumns[] = {"time",   "com",     "device",    "command", "try",
                                            "result", "message", "fw_before", "fw_after"};

std::string FieldValue(const DeviceRecord& record, const RecordField& field) {
    return field.kind == FieldKind::Text ? TextFieldOf(record, field)
                                         : std::to_string(NumberOf(record, field));
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

void AppendHex(std::string& out, unsigned char u, const char* format) {
    char buf[8];
    std::snprintf(buf, sizeof buf, format, u);
    out += buf;
}

std::string CsvCell(std::string_view text, bool number = false) {
    std::string cell;
    if (!number && !text.empty() &&
        (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@'))
        cell += '\'';
    bool quote = false;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E) {
            AppendHex(cell, u, "\\x%02x");
            continue;
        }
        if (c == '"' || c == ',') quote = true;
        cell += c;
        if (c == '"') cell += '"';
    }
    if (!cell.empty() && (cell.front() == ' ' || cell.back() == ' ')) quote = true;
    return quote ? "\"" + cell + "\"" : cell;
}

std::string Json(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u > 0x7E) {
            AppendHex(out, u, "\\u%04x");
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A number field's value is written bare only when it is plain digits.
std::string JsonValue(const ReportValue& v) {
    const bool digits = v.number && !v.value.empty() &&
                        v.value.find_first_not_of("0123456789") == std::string::npos;
    return digits ? v.value : Json(v.value);
}

std::string DiffsText(const std::vector<ReportDiff>& diffs) {
    std::string text;
    for (const ReportDiff& d : diffs) {
        if (!text.empty()) text += "; ";
        text += d.field + ": sent " + d.sent + ", read " + d.read;
    }
    return text;
}

std::string Folder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string SystemError(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

// Reads an existing report. A missing file reads as empty.
bool ReadExisting(const std::string& path, std::string* content, bool* exists, std::string* error) {
    content->clear();
    *exists = false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        *error = SystemError(path, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + ": not a regular file";
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = SystemError(path, errno);
        return false;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = SystemError(path, errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        content->append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    *exists = true;
    return true;
}

bool Blank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// Whether the content is a report of this format we may append to.
bool Recognised(const std::string& path, const std::string& content, ReportFormat format,
                std::string* error) {
    if (Blank(content)) return true;
    if (format == ReportFormat::Csv) {
        const std::string header = CsvHeader();
        if (content.compare(0, header.size(), header) == 0) return true;
        *error = path +
                 ": not a report of this program (its first line is not the header "
                 "this version writes)";
        return false;
    }
    const std::size_t first = content.find_first_not_of(" \t\r\n");
    const std::size_t last = content.find_last_not_of(" \t\r\n");
    if (content[first] == '[' && content[last] == ']') return true;
    *error = path + ": not a JSON array";
    return false;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes `content` to a fresh file beside `path` and renames it over `path`.
bool Replace(const std::string& path, const std::string& content, const struct stat* old,
             int dir_fd, std::string* error) {
    std::string temp;
    int fd = -1;
    for (int i = 0; i < 100 && fd < 0; ++i) {
        temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(i);
        // 0666 lets the umask decide a new report's permissions, as for any new file.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        *error = SystemError(temp, errno);
        return false;
    }
    bool ok = WriteAll(fd, content);
    if (ok && old != nullptr) ok = ::fchmod(fd, old->st_mode & 07777) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    const int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        *error = SystemError(temp, errno);
    } else if (!ok) {
        *error = SystemError(temp, err);
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        *error = SystemError(path, errno);
    }
    if (!ok) {
        (void)::unlink(temp.c_str());
        return false;
    }
    // The rename itself must reach the disk, or a crash could bring the old report back.
    (void)::fsync(dir_fd);
    return true;
}

}  // namespace

std::string ReportTime(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    (void)::gmtime_r(&t, &utc);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buf;
}

std::vector<ReportValue> ReportSettings(const DeviceRecord& record) {
    std::vector<ReportValue> values;
    for (const RecordField& field : RecordFields())
        values.push_back(
            {std::string(field.name), FieldValue(record, field), field.kind == FieldKind::Number});
    return values;
}

std::vector<ReportDiff> WrittenDiffs(const DeviceRecord& sent, const DeviceRecord& read) {
    std::vector<ReportDiff> diffs;
    const auto compare = [&](std::string_view name, bool ignore_case) {
        const RecordField& field = *FindRecordField(name);
        std::string a = FieldValue(sent, field);
        std::string b = FieldValue(read, field);
        if (ignore_case ? !SameIgnoringCase(a, b) : a != b)
            diffs.push_back({std::string(name), std::move(a), std::move(b)});
    };
    for (const std::string_view name : kWrittenFields) compare(name, false);
    compare("security", false);
    if (sent.security && read.security) compare("aeskey", true);
    return diffs;
}

ReportRow PortReportRow(const DeviceRecord& record, std::int32_t com, bool ok, std::string message,
                        std::string_view command, std::string device, std::string time) {
    ReportRow row;
    row.time = std::move(time);
    row.com = com;
    row.device = std::move(device);
    row.command = std::string(command);
    row.ok = ok;
    const std::string_view note = TextOf(record.open_note);
    if (!ok && message == "Open port fail" && !note.empty())
        message += " (" + std::string(note) + ")";
    row.message = std::move(message);
    if (command == "upgrade") row.fw_before = std::string(TextOf(record.fw_version));
    if (ok && (command == "read" || command == "export")) row.settings = ReportSettings(record);
    return row;
}

ReportFormat ReportFormatOf(std::string_view path) {
    constexpr std::string_view kJson = ".json";
    return path.size() >= kJson.size() &&
                   SameIgnoringCase(path.substr(path.size() - kJson.size()), kJson)
               ? ReportFormat::Json
               : ReportFormat::Csv;
}

std::string CsvHeader() {
    std::string line;
    for (const std::string_view column : kCsvColumns) line += std::string(column) + ",";
    for (const RecordField& field : RecordFields()) line += std::string(field.name) + ",";
    return line + "verify\n";
}

std::string CsvLine(const ReportRow& row) {
    std::string line = CsvCell(row.time) + "," + "COM" + std::to_string(row.com) + "," +
                       CsvCell(row.device) + "," + CsvCell(row.command) + "," +
                       std::to_string(row.attempt) + "," + (row.ok ? "ok" : "failed") + "," +
                       CsvCell(row.message) + "," + CsvCell(row.fw_before) + "," +
                       CsvCell(row.fw_after) + ",";
    for (const RecordField& field : RecordFields()) {
        for (const ReportValue& v : row.settings)
            if (v.name == field.name) line += CsvCell(v.value, v.number);
        line += ",";
    }
    // Empty: not verified; "ok"; the fields that came back different; or why the device
    // could not be read back.
    if (row.verified)
        line += row.verify_ok       ? "ok"
                : row.diffs.empty() ? "not read back"
                                    : CsvCell(DiffsText(row.diffs));
    return line + "\n";
}

std::string JsonObject(const ReportRow& row) {
    std::string out = "{\"time\": " + Json(row.time) + ", \"com\": " + std::to_string(row.com) +
                      ", \"device\": " + Json(row.device) + ", \"command\": " + Json(row.command) +
                      ", \"try\": " + std::to_string(row.attempt) +
                      ", \"result\": " + (row.ok ? "\"ok\"" : "\"failed\"") +
                      ", \"message\": " + Json(row.message) +
                      ", \"fw_before\": " + Json(row.fw_before) +
                      ", \"fw_after\": " + Json(row.fw_after) + ", \"settings\": ";
    if (row.settings.empty()) {
        out += "null";
    } else {
        out += "{";
        for (std::size_t i = 0; i < row.settings.size(); ++i)
            out += (i == 0 ? "" : ", ") + Json(row.settings[i].name) + ": " +
                   JsonValue(row.settings[i]);
        out += "}";
    }
    out += ", \"verify\": ";
    if (!row.verified) return out + "null}";
    out += std::string("{\"ok\": ") + (row.verify_ok ? "true" : "false") + ", \"diffs\": [";
    for (std::size_t i = 0; i < row.diffs.size(); ++i) {
        const ReportDiff& d = row.diffs[i];
        out += (i == 0 ? "{" : ", {") + std::string("\"field\": ") + Json(d.field) +
               ", \"sent\": " + Json(d.sent) + ", \"read\": " + Json(d.read) + "}";
    }
    return out + "]}}";
}

bool CheckReportFile(const std::string& path, std::string* error) {
    if (path.empty() || path.back() == '/') {
        *error = "--report needs a file name, not \"" + path + "\"";
        return false;
    }
    const std::string folder = Folder(path);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        *error = SystemError(folder, errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = folder + ": not a directory";
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        *error = SystemError(folder, errno);
        return false;
    }
    std::string content;
    bool exists = false;
    return ReadExisting(path, &content, &exists, error) &&
           Recognised(path, content, ReportFormatOf(path), error);
}

bool AppendReport(const std::string& path, const std::vector<ReportRow>& rows, std::string* error) {
    const std::string folder = Folder(path);
    const int dir_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) {
        *error = SystemError(folder, errno);
        return false;
    }
    // Two programs appending at once would each write the old rows plus their own, and one
    // set of rows would be lost; the folder's lock makes them take turns.
    while (::flock(dir_fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            *error = SystemError(folder, errno);
            ::close(dir_fd);
            return false;
        }
    }
    std::string content;
    bool exists = false;
    struct stat old {};
    const ReportFormat format = ReportFormatOf(path);
    bool ok =
        ReadExisting(path, &content, &exists, error) && Recognised(path, content, format, error);
    if (ok && exists && ::stat(path.c_str(), &old) != 0) {
        *error = SystemError(path, errno);
        ok = false;
    }
    if (ok) {
        if (format == ReportFormat::Csv) {
            if (Blank(content)) content = CsvHeader();
            if (content.back() != '\n') content += '\n';
            for (const ReportRow& row : rows) content += CsvLine(row);
        } else {
            bool first = true;
            if (Blank(content)) {
                content = "[";
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
        ok = Replace(path, content, exists ? &old : nullptr, dir_fd, error);
    }
    ::close(dir_fd);  // also releases the lock
    return ok;
}

}  // namespace zb
