#include "cli/watch_display.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "jobs/engine/steps.h"
#include "jobs/report/report_format.h"

namespace zbctl {
namespace {

std::string StateText(const StationLine& line) {
    switch (line.state) {
        case StationState::Waiting:
            return "waiting";
        case StationState::Connecting:
            return "connecting";
        case StationState::Upgrading:
            return "upgrading " + std::to_string(line.percent) + "%";
        case StationState::Reading:
            return "reading";
        case StationState::Writing:
            return "writing";
        case StationState::Verifying:
            return "verifying";
        case StationState::Pass:
            return "PASS";
        case StationState::Fail:
            return line.reason.empty() ? "FAIL" : "FAIL " + Printable(line.reason);
        case StationState::Skipped:
            return line.reason.empty() ? "skipped" : "skipped: " + Printable(line.reason);
    }
    return {};
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

}  // namespace

std::optional<StationState> StateOfMessage(zb::RunPhase phase, std::string_view message) {
    // The engine's first message of each step; an upgrade's transfer speaks only once the
    // loader is reached.
    const bool verifying = phase == zb::RunPhase::Verifying;
    if (message == zb::kOpeningMessage)
        return verifying ? StationState::Verifying : StationState::Connecting;
    if (message == zb::kReadingMessage)
        return verifying ? StationState::Verifying : StationState::Reading;
    if (message == zb::kApplyingMessage) return StationState::Writing;
    if (message == zb::kSynchronizingMessage || message == zb::kUpgradingMessage)
        return StationState::Upgrading;
    return std::nullopt;
}

std::string RenderStationLine(const StationLine& line) {
    const std::string modem = line.n > 0 ? "#" + std::to_string(line.n) : "-";
    return Padded("COM" + std::to_string(line.com), 8) + Padded(modem, 6) + StateText(line);
}

std::string RenderTotals(const WatchTotals& totals) {
    std::string text =
        "passed " + std::to_string(totals.passed) + ", failed " + std::to_string(totals.failed);
    if (!totals.failing.empty()) {
        text += ", failing now:";
        for (const std::int32_t com : totals.failing) text += " COM" + std::to_string(com);
    }
    if (totals.running > 0) text += ", running " + std::to_string(totals.running);
    if (totals.rows_lost > 0)
        text += ", " + std::to_string(totals.rows_lost) +
                (totals.rows_lost == 1 ? " report row not stored" : " report rows not stored");
    if (!totals.run_id.empty()) text += ", run " + totals.run_id;
    return text;
}

std::string RenderStationTable(const std::vector<StationLine>& lines, const WatchTotals& totals) {
    std::string out;
    for (const StationLine& line : lines) out += RenderStationLine(line) + "\n";
    return out + RenderTotals(totals) + "\n";
}

std::string RenderFinished(const PortResult& result, std::int32_t n, const std::string& path,
                           const zb::RunLabel& label, bool json, bool verify) {
    if (json) {
        const nlohmann::ordered_json array =
            nlohmann::ordered_json::parse(RenderJson({result}, false, verify), nullptr, false);
        nlohmann::ordered_json object =
            array.is_array() && array.size() == 1
                ? array[0]
                : nlohmann::ordered_json{
                      {"com", result.com}, {"ok", result.ok}, {"message", result.message}};
        object["n"] = n;
        object["path"] = path;
        object["run_id"] = label.run_id;
        if (!label.tags.empty()) object["tags"] = zb::TagsObject(label.tags);
        // Compact, one object per line; text that is not UTF-8 comes out escaped, not
        // refused.
        return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    }
    std::string text = "COM" + std::to_string(result.com) + " #" + std::to_string(n) +
                       (result.ok ? " PASS " : " FAIL ") + result.message;
    if (!result.error.empty()) text += ": " + result.error;
    for (std::size_t d = 0; d < result.diffs.size(); ++d)
        text += (d == 0 ? ": " : "; ") + result.diffs[d].field + " sent " + result.diffs[d].sent +
                ", read " + result.diffs[d].read;
    text = Printable(text);
    if (result.changes)
        for (std::size_t c = 0; c < result.changes->size(); ++c)
            text += (c == 0 ? ": " : "; ") + zb::ChangeText((*result.changes)[c]);
    return text + "\n";
}

}  // namespace zbctl
