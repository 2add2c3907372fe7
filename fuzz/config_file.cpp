// The configuration file reader, the INI text under it, and the import into the table.
//
// Input: the file's text; optionally followed by a NUL and "section", NUL, "key", NUL,
// "value" for an update of the text.
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/config_file.h"
#include "config/config_rules.h"
#include "jobs/model/text_escape.h"
#include "support/scratch_file.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

using Key = std::pair<std::string_view, std::string_view>;
constexpr std::array<Key, 17> kKeys{{
    {"Serial", "Baud Rate"},
    {"Serial", "Parity"},
    {"Serial", "Data Bit"},
    {"Serial", "Stop Bit"},
    {"Serial", "Interface"},
    {"ZigBee", "Device Name"},
    {"ZigBee", "Device Type"},
    {"ZigBee", "Local Node ID"},
    {"ZigBee", "Destination Node ID"},
    {"ZigBee", "PAN ID"},
    {"ZigBee", "Channel"},
    {"ZigBee", "Output Power"},
    {"ZigBee", "Topology"},
    {"ZigBee", "Mode"},
    {"ZigBee", "Start Byte"},
    {"ZigBee", "Security"},
    {"ZigBee", "AES Key"},
}};

bool IsHex(std::string_view s) {
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

void CheckRanges(const zb::ConfigSettings& s) {
    if (s.baud >= zb::kBaudTexts.size() || s.parity >= zb::kParityTexts.size() || s.databit != 0 ||
        s.stopbit >= zb::kStopbitTexts.size() || s.interface >= zb::kInterfaceTexts.size() ||
        s.devtype >= zb::kDevtypeTexts.size() || s.outpower >= zb::kOutpowerTexts.size() ||
        s.topology >= zb::kTopologyTexts.size() || s.txmode >= zb::kTxmodeTexts.size())
        Fail("an accepted index lies outside its value table");
    const std::string_view devname = zb::TextOf(s.devname), aeskey = zb::TextOf(s.aeskey);
    if (devname.size() > 20 || devname == "0") Fail("an accepted device name is invalid");
    if (s.rnodeid > 99 || (s.devtype == 0 && s.rnodeid != 0))
        Fail("an accepted destination node ID is out of range");
    if (s.panid > 0xFFFD) Fail("an accepted PAN ID is out of range");
    if (s.channel < 0 || s.channel > 15) Fail("an accepted channel is out of range");
    const bool full_key = aeskey.size() == 32 && IsHex(aeskey);
    if (!full_key && (s.security || !aeskey.empty())) Fail("an accepted AES key is invalid");
}

bool SameSettings(const zb::ConfigSettings& a, const zb::ConfigSettings& b) {
    return a.baud == b.baud && a.parity == b.parity && a.databit == b.databit &&
           a.stopbit == b.stopbit && a.interface == b.interface && a.devname == b.devname &&
           a.devtype == b.devtype && a.rnodeid == b.rnodeid && a.panid == b.panid &&
           a.channel == b.channel && a.outpower == b.outpower && a.topology == b.topology &&
           a.txmode == b.txmode && a.startbyte == b.startbyte && a.security == b.security &&
           a.aeskey == b.aeskey;
}

bool SameRecord(const zb::DeviceRecord& a, const zb::DeviceRecord& b) {
    return a.selected == b.selected && a.apply_pending == b.apply_pending && a.baud == b.baud &&
           a.parity == b.parity && a.databit == b.databit && a.stopbit == b.stopbit &&
           a.interface == b.interface && a.devtype == b.devtype && a.topology == b.topology &&
           a.channel == b.channel && a.outpower == b.outpower && a.txmode == b.txmode &&
           a.panid == b.panid && a.lnodeid == b.lnodeid && a.rnodeid == b.rnodeid &&
           a.security == b.security && a.startbyte == b.startbyte && a.aeskey == b.aeskey &&
           a.devname == b.devname;
}

// A record that no file can produce, so that any change shows.
zb::DeviceRecord Untouched(bool selected) {
    zb::DeviceRecord r;
    r.selected = selected;
    r.baud = r.parity = r.stopbit = r.interface = r.devtype = r.topology = r.outpower = r.txmode =
        r.panid = r.rnodeid = 1000;
    r.databit = r.channel = -1000;
    r.lnodeid = 42;
    r.startbyte = 0x5A;
    zb::SetText(r.devname, "untouched");
    zb::SetText(r.aeskey, "not a key");
    return r;
}

const zbfuzz::ScratchFile& Scratch() {
    static const zbfuzz::ScratchFile file("zbfuzz-config");
    return file;
}

// The import into a table of two selected records and one that is not.
void CheckImport(std::string_view text, const std::optional<zb::ConfigSettings>& parsed) {
    static zb::PortTable rows;
    constexpr std::size_t kRows[] = {0, 2, 1023};
    for (std::size_t i : kRows)
        rows[i].device = std::make_shared<zb::DeviceRecord>(Untouched(i != 2));
    Scratch().Write(text);
    const bool ok = zb::ReadConfigFile(Scratch().path(), rows).ok();
    if (ok != parsed.has_value()) Fail("the file and its text were judged differently");
    for (std::size_t i : kRows) {
        const zb::DeviceRecord& r = *rows[i].device;
        if (!ok || i == 2) {
            if (!SameRecord(r, Untouched(i != 2)))
                Fail("a refused or unselected import changed a record");
            continue;
        }
        if (!r.apply_pending || r.lnodeid != 42)
            Fail("an import did not mark, or took the local node ID");
        // The record, written out and read back, is the same record.
        zb::IniText ini;
        zb::PutSettings(ini, r);
        const auto again = zb::ParseConfigSettings(ini.Text());
        if (!again) Fail("an imported record writes a file that is refused");
        if (!SameSettings(*again, *parsed))
            Fail("a file's settings, imported and exported, read back differently");
        zb::PortTable one;
        one[0].device = std::make_shared<zb::DeviceRecord>(Untouched(true));
        zb::ApplyConfigSettings(one, *again);
        if (!SameRecord(*one[0].device, r)) Fail("an imported record does not survive export");
    }
}

bool ValidName(std::string_view s, bool key) {
    if (s.find_first_of(key ? "\r\n=" : "\r\n]") != std::string_view::npos) return false;
    if (!s.empty() &&
        (s.front() == ' ' || s.front() == '\t' || s.back() == ' ' || s.back() == '\t'))
        return false;
    if (key && (s.empty() || s.front() == ';' || s.front() == '#' || s.front() == '['))
        return false;
    return true;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::vector<std::optional<std::string>> Answers(const zb::IniText& ini,
                                                const std::vector<Key>& keys) {
    std::vector<std::optional<std::string>> answers;
    answers.reserve(keys.size());
    for (const auto& [section, key] : keys) answers.push_back(ini.Get(section, key));
    return answers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\0');
    const std::string_view text = input.substr(0, cut);
    std::string_view section = "ZigBee", key = "Device Name", value = "fuzz";
    if (cut != std::string_view::npos) {
        std::string_view rest = input.substr(cut + 1);
        const auto next = [&rest] {
            const std::size_t end = rest.find('\0');
            const std::string_view part = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            return part;
        };
        section = next();
        key = next();
        value = rest;
    }

    const auto parsed = zb::ParseConfigSettings(text);
    std::optional<zb::ConfigSettings> settings;
    if (parsed) {
        settings = *parsed;
        CheckRanges(*settings);
    } else {
        const zb::ConfigRefusal& why = parsed.error();
        if (why.step < 1 || why.step > 16 || (why.section != "Serial" && why.section != "ZigBee") ||
            why.reason.empty())
            Fail("a refusal does not say which check failed");
        // The key's value is never quoted: a refusal names it "(not shown)".
        const bool key = zb::SameIgnoringCase(why.key, "AES Key");
        if (key ? why.value && *why.value != "(not shown)"
                : why.value != zb::IniText::Parse(text).Get(why.section, why.key))
            Fail("a refusal quotes another value than the file's");
    }
    CheckImport(text, settings);

    std::vector<Key> keys(kKeys.begin(), kKeys.end());
    keys.emplace_back(section, key);
    const zb::IniText ini = zb::IniText::Parse(text);
    const auto before = Answers(ini, keys);

    // Written out and read back, the text answers the same.
    const std::string written = ini.Text();
    const zb::IniText reread = zb::IniText::Parse(written);
    if (Answers(reread, keys) != before) Fail("Text() of a parsed file reads back differently");
    if (reread.Text() != written) Fail("Text() of its own output is not stable");

    if (!ValidName(section, false) || !ValidName(key, true) ||
        value.find_first_of("\r\n") != std::string_view::npos)
        return 0;
    zb::IniText updated = ini;
    updated.Set(section, key, value);
    if (updated.Get(section, key) != value) Fail("Get after Set gives another value");
    const auto after = Answers(updated, keys);
    const auto reread_after = Answers(zb::IniText::Parse(updated.Text()), keys);
    for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
        const bool same_key = SameName(keys[i].first, section) && SameName(keys[i].second, key);
        if (!same_key && after[i] != before[i]) Fail("Set changed another key");
    }
    if (reread_after != after) Fail("an updated text reads back differently");
    return 0;
}
