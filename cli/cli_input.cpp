#include "cli/cli_input.h"

#include "jobs/model/record_fields.h"
#include "jobs/model/text_escape.h"
#include "jobs/platform/file_storage.h"

namespace zbctl {

namespace {

constexpr char kKeyField[] = "aeskey";

// A --set as a refusal quotes it. The network's key is left out, also under a field name
// in the wrong case: messages end up in logs and on screens that more people read than the
// command line's owner.
std::string SetWords(const std::string& name, const std::string& value) {
    const bool key = zb::SameIgnoringCase(name, kKeyField);
    return "--set " + name + "=" + (key ? "(not shown)" : value);
}

}  // namespace

zb::Result<std::string> ExpandValue(const std::string& value, std::int32_t com, std::int32_t n) {
    std::string text;
    std::size_t i = 0;
    while (i < value.size()) {
        std::size_t j = i + 1;
        std::int64_t number = 0;
        if (value[i] == '{' && value.compare(j, 3, "com") == 0) {
            number = com;
            j += 3;
        } else if (value[i] == '{' && value.compare(j, 1, "n") == 0) {
            number = n;
            j += 1;
        } else {
            text += value[i++];
            continue;
        }
        // "{com" or "{n" not followed by '}', '+' or '-' is ordinary text ("{name}").
        if (j >= value.size() || (value[j] != '}' && value[j] != '+' && value[j] != '-')) {
            text += value[i++];
            continue;
        }
        if (value[j] != '}') {
            const bool minus = value[j] == '-';
            const std::size_t digits = ++j;
            std::int64_t k = 0;
            while (j < value.size() && j - digits < 6 && value[j] >= '0' && value[j] <= '9')
                k = k * 10 + (value[j++] - '0');
            if (j == digits || j >= value.size() || value[j] != '}') {
                const std::size_t end = value.find('}', i);
                return zb::Error{
                    "\"" +
                    value.substr(i, end == std::string::npos ? std::string::npos : end - i + 1) +
                    "\" is not a placeholder: write {com}, {n}, {com+K} or {n-K} (K up to "
                    "6 digits)"};
            }
            number = minus ? number - k : number + k;
        }
        text += std::to_string(number);
        i = j + 1;
    }
    return text;
}

zb::Status ReadKeyFiles(Sets* sets, const std::function<void(const std::string&)>& warn) {
    // A key file holds 32 digits and a line end; anything much longer is no key file.
    constexpr std::size_t kMostBytes = 4096;
    for (Set& set : *sets) {
        if (set.name != kKeyField || set.text.empty() || set.text[0] != '@') continue;
        const std::string path = set.text.substr(1);
        if (path.empty()) return zb::Status::Fail("--set aeskey=@FILE needs a file name");
        if (const zb::Status readable = zb::CheckReadableFile(path); !readable)
            return zb::Status::Fail("cannot read the key file " + readable.reason());
        zb::Result<std::string> read = zb::ReadWholeFile(path, kMostBytes);
        if (!read)
            return zb::Status::Fail("cannot read the key file " + path + ": " +
                                    read.error().reason);
        std::string& text = *read;
        const std::size_t first = text.find_first_not_of(" \t\r\n\v\f");
        const std::size_t last = text.find_last_not_of(" \t\r\n\v\f");
        text = first == std::string::npos ? "" : text.substr(first, last - first + 1);
        Set key = ReadSet(set.name, text);
        if (!key.value)
            return zb::Status::Fail(
                path + ": not a key file: it must hold 32 hexadecimal digits and nothing else");
        if (KeyFileIsShared(path))
            warn("warning: other users may read the key file " + path + " (chmod 600 it)");
        set = std::move(key);
    }
    return {};
}

zb::Status CheckSets(const Sets& sets) {
    zb::DeviceRecord scratch;
    bool security_on = false;
    bool key_given = false;
    for (const Set& set : sets) {
        if (zb::FindRecordField(set.name) == nullptr) {
            std::string names;
            for (const zb::RecordField& f : zb::RecordFields())
                if (f.writable) names += " " + std::string(f.name);
            // A misspelt field's value may well be the key: it is not repeated.
            return zb::Status::Fail("--set " + set.name +
                                    ": unknown field; settable fields:" + names);
        }
        // The record's refusals may quote the value as given.
        if (!set.value)
            return zb::Status::Fail(SetWords(set.name, set.text) + ": " + set.value.error().reason);
        zb::StoreValue(scratch, *set.value);
        if (set.name == "security") security_on = scratch.security;
        if (set.name == kKeyField) key_given = true;
    }
    // Without a key the modem refuses the last write, after the other fifteen have taken
    // effect and without the restart: a half-configured modem.
    if (security_on && !key_given)
        return zb::Status::Fail(
            "--set security=" + zb::ShownText(scratch, zb::FieldOf(zb::FieldId::Security)) +
            " needs --set aeskey=<32 hexadecimal digits> as well");
    return {};
}

zb::Result<std::map<std::int32_t, Sets>> ExpandSets(const Invocation& inv) {
    bool templated = false;
    for (const Set& set : inv.sets) {
        const zb::Result<std::string> once = ExpandValue(set.text, 1, 1);
        // The quoted placeholder of a key may hold some of its digits.
        if (!once)
            return zb::Error{SetWords(set.name, set.text) + ": " +
                             (zb::SameIgnoringCase(set.name, kKeyField)
                                  ? "a placeholder in it is not well formed"
                                  : once.error().reason)};
        templated = templated || *once != set.text;
    }
    if (zb::Status checked = CheckSets(inv.sets); !checked && !templated) return checked.error();
    std::map<std::int32_t, Sets> out;
    for (std::size_t place = 0; place < inv.given.size(); ++place) {
        const std::int32_t com = inv.given[place];
        const auto n = static_cast<std::int32_t>(place + 1);
        Sets sets;
        for (const Set& set : inv.sets) {
            // Every placeholder was found well formed above, whatever the numbers.
            std::string expanded = *ExpandValue(set.text, com, n);
            // A value without placeholders was read once already.
            sets.push_back(expanded == set.text ? set : ReadSet(set.name, std::move(expanded)));
        }
        if (const zb::Status checked = CheckSets(sets); !checked)
            return zb::Error{"COM" + std::to_string(com) + " (n=" + std::to_string(n) +
                             "): " + checked.reason()};
        out[com] = std::move(sets);
    }
    return out;
}

std::string RefusalText(const zb::ConfigRefusal& why) {
    std::string text = "[" + why.section + "] " + why.key;
    if (why.value)
        text += " = " + *why.value + " refused";
    else
        text += " is missing";
    return text + " (check " + std::to_string(why.step) + "): " + why.reason;
}

}  // namespace zbctl
