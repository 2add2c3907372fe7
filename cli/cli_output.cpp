#include "cli/cli_output.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>

#include "cli/zbctl_system.h"
#include "jobs/model/json_line.h"
#include "jobs/model/record_fields.h"
#include "jobs/report/report_format.h"

namespace zbctl {
namespace {

// Set by main before any job; read by the threads that print what a job found.
std::atomic<bool> show_keys{false};

std::string Shown(const zb::DeviceRecord& record, zb::FieldId id) {
    return zb::ShownText(record, zb::FieldOf(id));
}

nlohmann::ordered_json SettingsJson(const zb::DeviceRecord& record) {
    nlohmann::ordered_json settings = nlohmann::ordered_json::object();
    // As the report writes them.
    for (const zb::ReportValue& v : zb::ReportSettings(record, show_keys.load()))
        settings[v.name] = zb::ShownJson(v.value, v.number);
    return settings;
}

// The columns a cell takes: its characters. Cells are Printable but for the arrow of a
// change, which is UTF-8; its continuation bytes take no column.
std::size_t Columns(const std::string& cell) {
    return static_cast<std::size_t>(std::count_if(cell.begin(), cell.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// One array, one element per line.
std::string JsonArray(const std::vector<nlohmann::ordered_json>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "\n  " : ",\n  ") + zb::JsonLine(items[i], zb::kMadeKeys);
    return out + (items.empty() ? "]\n" : "\n]\n");
}

}  // namespace

void ShowKeysInJson(bool show) {
    show_keys.store(show);
}

std::string RenderJson(const std::vector<PortResult>& results, bool files, bool verify,
                       const zb::RunLabel* label) {
    std::vector<nlohmann::ordered_json> items;
    for (const PortResult& p : results) {
        nlohmann::ordered_json item = {{"com", p.com},
                                       {"ok", p.ok},
                                       {"message", p.message},
                                       {"connected", p.record.connected},
                                       {"upgrade_wait", p.record.upgrade_wait},
                                       {"settings", nullptr}};
        if (p.settings) item["settings"] = SettingsJson(p.record);
        if (files) {
            const auto text_or_null = [](const std::string& text) {
                return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
            };
            item["file"] = text_or_null(p.file);
            item["file_sha256"] = text_or_null(p.file_sha256);
        }
        if (verify) {
            item["verify"] = nullptr;
            if (p.verified) {
                nlohmann::ordered_json diffs = nlohmann::ordered_json::array();
                for (const zb::ReportDiff& d : p.diffs)
                    diffs.push_back({{"field", d.field}, {"sent", d.sent}, {"read", d.read}});
                item["verify"] = {{"ok", p.verify_ok}, {"diffs", std::move(diffs)}};
            }
        }
        if (p.dry_run) {
            item["changes"] = nullptr;
            if (p.changes) {
                nlohmann::ordered_json changes = nlohmann::ordered_json::array();
                for (const zb::ReportDiff& d : *p.changes)
                    changes.push_back({{"field", d.field}, {"from", d.read}, {"to", d.sent}});
                item["changes"] = std::move(changes);
            }
        }
        item["holder"] = nullptr;
        if (p.holder_pid > 0) item["holder"] = {{"pid", p.holder_pid}, {"name", p.holder_name}};
        if (label != nullptr) {
            item["run_id"] = label->run_id;
            if (!label->tags.empty()) item["tags"] = zb::TagsObject(label->tags);
        }
        item["error"] = p.error;
        items.push_back(std::move(item));
    }
    return JsonArray(items);
}

std::string RenderTable(const std::vector<PortResult>& results, bool files, bool all) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"PORT", "RESULT", "MESSAGE"});
    const std::size_t settings_at = rows.front().size();
    if (all) {
        for (const zb::RecordField& field : zb::RecordFields()) {
            std::string name(field.name);
            std::transform(name.begin(), name.end(), name.begin(),
                           [](char c) { return static_cast<char>(std::toupper(c)); });
            rows.front().push_back(std::move(name));
        }
    } else {
        rows.front().insert(rows.front().end(),
                            {"DEVICE NAME", "TYPE", "PAN ID", "CHANNEL", "BAUD", "F/W VERSION"});
    }
    const std::size_t settings_end = rows.front().size();
    if (files) rows.front().push_back("FILE");
    for (const PortResult& p : results) {
        const zb::DeviceRecord& r = p.record;
        std::vector<std::string> row{"COM" + std::to_string(p.com), p.ok ? "ok" : "FAILED",
                                     p.error.empty() ? p.message : p.message + ": " + p.error};
        for (std::size_t d = 0; d < p.diffs.size(); ++d)
            row.back() += (d == 0 ? ": " : "; ") + zb::DiffText(p.diffs[d]);
        if (p.settings && all) {
            // As the report shows them: the key as its fingerprint.
            for (const zb::ReportValue& v : zb::ReportSettings(r)) {
                if (v.name == zb::FieldOf(zb::FieldId::FwType).name)
                    row.push_back(zb::FirmwareTypeText(r.fw_type));
                else
                    row.push_back(v.value.empty() ? "-" : v.value);
            }
        } else if (p.settings) {
            row.push_back(Shown(r, zb::FieldId::Devname));
            row.push_back(Shown(r, zb::FieldId::Devtype));
            row.push_back("0x" + Shown(r, zb::FieldId::Panid));
            row.push_back(Shown(r, zb::FieldId::Channel));
            row.push_back(Shown(r, zb::FieldId::Baud));
            row.push_back(Shown(r, zb::FieldId::FwVersion));
        } else {
            row.insert(row.end(), settings_end - settings_at, "-");
        }
        if (files) row.push_back(p.file.empty() ? "-" : p.file);
        for (std::string& cell : row) cell = Printable(cell);
        if (p.changes)
            for (std::size_t c = 0; c < p.changes->size(); ++c)
                row[2] += (c == 0 ? ": " : "; ") + zb::ChangeText((*p.changes)[c]);
        rows.push_back(std::move(row));
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], Columns(row[c]));
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - Columns(row[c]) + 2, ' ');
        }
        out += line + "\n";
    }
    return out;
}

std::string NewPortNote(std::int32_t com) {
    const std::string number = std::to_string(com);
    return Printable("COM" + number + " is new: " + zb::com_device_path(com) +
                     " (port map: " + zb::com_port_map_dir() + "/com" + number + ")");
}

std::string RenderPortList(const std::vector<ListedPort>& ports, bool json, bool scan) {
    std::string out;
    if (json) {
        std::vector<nlohmann::ordered_json> items;
        for (const ListedPort& port : ports) {
            nlohmann::ordered_json& item =
                items.emplace_back(nlohmann::ordered_json{{"com", port.com}, {"path", port.path}});
            if (scan) item["description"] = port.description;
        }
        return JsonArray(items);
    } else {
        for (const ListedPort& port : ports) {
            out += "COM" + std::to_string(port.com) + " " + Printable(port.path);
            if (!port.description.empty()) out += " " + Printable(port.description);
            out += "\n";
        }
    }
    return out;
}

std::string RenderImageInfo(const std::string& path, const zb::ImageFile& image, bool json) {
    const std::uint32_t type = image.type.value_or(0);
    if (json)
        return zb::JsonLine({{"path", path},
                             {"type", type},
                             {"version", image.version},
                             {"body_size", image.body_length},
                             {"checksum_ok", image.checksum_ok}}) +
               "\n";
    return "path: " + Printable(path) + "\ntype: " + zb::FirmwareTypeText(type) +
           "\nversion: " + Printable(image.version) +
           "\nbody size: " + std::to_string(image.body_length) +
           " bytes\nchecksum: " + (image.checksum_ok ? "yes" : "no") + "\n";
}

}  // namespace zbctl
