#include "cli/cli_output.h"

#include <algorithm>

#include "cli/zbctl_system.h"
#include "jobs/record_fields.h"

namespace zbctl {
namespace {

// The field as the window shows it; an index outside its value table as "?<index>".
std::string Shown(const zb::DeviceRecord& record, zb::FieldId id) {
    const zb::RecordField& field = zb::FieldOf(id);
    if (auto text = zb::DisplayText(record, field)) return *std::move(text);
    return "?" + std::to_string(zb::NumberOf(record, field));
}

}  // namespace

std::string RenderJson(const std::vector<PortResult>& results, bool files, bool verify) {
    std::string out = "[";
    for (std::size_t i = 0; i < results.size(); ++i) {
        const PortResult& p = results[i];
        out += i == 0 ? "\n  " : ",\n  ";
        out += "{\"com\": " + std::to_string(p.com);
        out += ", \"ok\": ";
        out += p.ok ? "true" : "false";
        out += ", \"message\": " + JsonString(p.message);
        out += ", \"connected\": ";
        out += p.record.connected ? "true" : "false";
        out += ", \"upgrade_wait\": ";
        out += p.record.upgrade_wait ? "true" : "false";
        out += ", \"settings\": ";
        if (!p.settings) {
            out += "null";
        } else {
            out += "{";
            bool first = true;
            for (const zb::RecordField& field : zb::RecordFields()) {
                out += first ? "" : ", ";
                first = false;
                out += JsonString(field.name) + ": ";
                out += field.kind == zb::FieldKind::Text
                           ? JsonString(zb::TextFieldOf(p.record, field))
                           : std::to_string(zb::NumberOf(p.record, field));
            }
            out += "}";
        }
        if (files) out += ", \"file\": " + (p.file.empty() ? "null" : JsonString(p.file));
        if (verify) {
            out += ", \"verify\": ";
            if (!p.verified) {
                out += "null";
            } else {
                out += "{\"ok\": ";
                out += p.verify_ok ? "true" : "false";
                out += ", \"diffs\": [";
                for (std::size_t d = 0; d < p.diffs.size(); ++d)
                    out += (d == 0 ? "{\"field\": " : ", {\"field\": ") +
                           JsonString(p.diffs[d].field) +
                           ", \"sent\": " + JsonString(p.diffs[d].sent) +
                           ", \"read\": " + JsonString(p.diffs[d].read) + "}";
                out += "]}";
            }
        }
        out += ", \"holder\": ";
        out += p.holder_pid > 0 ? "{\"pid\": " + std::to_string(p.holder_pid) +
                                      ", \"name\": " + JsonString(p.holder_name) + "}"
                                : std::string("null");
        out += ", \"error\": " + JsonString(p.error) + "}";
    }
    out += results.empty() ? "]\n" : "\n]\n";
    return out;
}

std::string RenderTable(const std::vector<PortResult>& results, bool files) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"PORT", "RESULT", "MESSAGE", "DEVICE NAME", "TYPE", "PAN ID", "CHANNEL", "BAUD",
                    "F/W VERSION"});
    if (files) rows.front().push_back("FILE");
    for (const PortResult& p : results) {
        const zb::DeviceRecord& r = p.record;
        std::vector<std::string> row{"COM" + std::to_string(p.com), p.ok ? "ok" : "FAILED",
                                     p.error.empty() ? p.message : p.message + ": " + p.error};
        for (std::size_t d = 0; d < p.diffs.size(); ++d)
            row.back() += (d == 0 ? ": " : "; ") + p.diffs[d].field + " sent " + p.diffs[d].sent +
                          ", read " + p.diffs[d].read;
        if (p.settings) {
            row.push_back(Shown(r, zb::FieldId::Devname));
            row.push_back(Shown(r, zb::FieldId::Devtype));
            row.push_back("0x" + Shown(r, zb::FieldId::Panid));
            row.push_back(Shown(r, zb::FieldId::Channel));
            row.push_back(Shown(r, zb::FieldId::Baud));
            row.push_back(Shown(r, zb::FieldId::FwVersion));
        } else {
            row.insert(row.end(), 6, "-");
        }
        if (files) row.push_back(p.file.empty() ? "-" : p.file);
        for (std::string& cell : row) cell = Printable(cell);
        rows.push_back(std::move(row));
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
        }
        out += line + "\n";
    }
    return out;
}

std::string RenderPortList(const std::vector<ListedPort>& ports, bool json, bool scan) {
    std::string out;
    if (json) {
        out = "[";
        for (std::size_t i = 0; i < ports.size(); ++i) {
            out += i == 0 ? "\n  " : ",\n  ";
            out += "{\"com\": " + std::to_string(ports[i].com) +
                   ", \"path\": " + JsonString(ports[i].path);
            if (scan) out += ", \"description\": " + JsonString(ports[i].description);
            out += "}";
        }
        out += ports.empty() ? "]\n" : "\n]\n";
    } else {
        for (const ListedPort& port : ports) {
            out += "COM" + std::to_string(port.com) + " " + Printable(port.path);
            if (!port.description.empty()) out += " " + Printable(port.description);
            out += "\n";
        }
    }
    return out;
}

}  // namespace zbctl
