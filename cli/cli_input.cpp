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

bool ExpandValue(const std::string& value, std::int32_t com, std::int32_t n, std::string* out,
                 std::string* error) {
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
                *error =
                    "\"" +
                    value.substr(i, end == std::string::npos ? std::string::npos : end - i + 1) +
                    "\" is not a placeholder: write {com}, {n}, {com+K} or {n-K} (K up to "
                    "6 digits)";
                return false;
            }
            number = minus ? number - k : number + k;
        }
        text += std::to_string(number);
        i = j + 1;
    }
    *out = std::move(text);
    return true;
}

bool ReadKeyFiles(Sets* sets, std::string* error,
                  const std::function<void(const std::string&)>& warn) {
    // A key file holds 32 digits and a line end; anything much longer is no key file.
    constexpr std::size_t kMostBytes = 4096;
    for (Set& set : *sets) {
        if (set.name != kKeyField || set.text.empty() || set.text[0] != '@') continue;
        const std::string path = set.text.substr(1);
        if (path.empty()) {
            *error = "--set aeskey=@FILE needs a file name";
            return false;
        }
        std::string why;
        if (const zb::Status readable = zb::CheckReadableFile(path); !readable) {
            *error = "cannot read the key file " + readable.reason();
            return false;
        }
        zb::Result<std::string> read = zb::ReadWholeFile(path, kMostBytes);
        if (!read) {
            *error = "cannot read the key file " + path + ": " + read.error().reason;
            return false;
        }
        std::string& text = *read;
        const std::size_t first = text.find_first_not_of(" \t\r\n\v\f");
        const std::size_t last = text.find_last_not_of(" \t\r\n\v\f");
        text = first == std::string::npos ? "" : text.substr(first, last - first + 1);
        Set key = ReadSet(set.name, text);
        if (!key.value) {
            *error = path + ": not a key file: it must hold 32 hexadecimal digits and nothing else";
            return false;
        }
        if (KeyFileIsShared(path))
            warn("warning: other users may read the key file " + path + " (chmod 600 it)");
        set = std::move(key);
    }
    return true;
}

bool CheckSets(const Sets& sets, std::string* error) {
    zb::DeviceRecord scratch;
    bool security_on = false;
    bool key_given = false;
    for (const Set& set : sets) {
        if (zb::FindRecordField(set.name) == nullptr) {
            std::string names;
            for (const zb::RecordField& f : zb::RecordFields())
                if (f.writable) names += " " + std::string(f.name);
            // A misspelt field's value may well be the key: it is not repeated.
            *error = "--set " + set.name + ": unknown field; settable fields:" + names;
            return false;
        }
        // The record's refusals may quote the value as given.
        if (!set.value) {
            *error = SetWords(set.name, set.text) + ": " + set.value.error().reason;
            return false;
        }
        zb::StoreValue(scratch, *set.value);
        if (set.name == "security") security_on = scratch.security;
        if (set.name == kKeyField) key_given = true;
    }
    // Without a key the modem refuses the last write, after the other fifteen have taken
    // effect and without the restart: a half-configured modem.
    if (security_on && !key_given) {
        *error = "--set security=" + zb::ShownText(scratch, zb::FieldOf(zb::FieldId::Security)) +
                 " needs --set aeskey=<32 hexadecimal digits> as well";
        return false;
    }
    return true;
}

bool ExpandSets(const Invocation& inv, std::map<std::int32_t, Sets>* out, std::string* error) {
    bool templated = false;
    for (const Set& set : inv.sets) {
        std::string once;
        if (!ExpandValue(set.text, 1, 1, &once, error)) {
            *error = SetWords(set.name, set.text) + ": " + *error;
            return false;
        }
        templated = templated || once != set.text;
    }
    if (!CheckSets(inv.sets, error) && !templated) return false;
    error->clear();
    for (std::size_t place = 0; place < inv.given.size(); ++place) {
        const std::int32_t com = inv.given[place];
        const auto n = static_cast<std::int32_t>(place + 1);
        Sets sets;
        for (const Set& set : inv.sets) {
            std::string expanded;
            (void)ExpandValue(set.text, com, n, &expanded, error);
            // A value without placeholders was read once already.
            sets.push_back(expanded == set.text ? set : ReadSet(set.name, std::move(expanded)));
        }
        if (!CheckSets(sets, error)) {
            *error = "COM" + std::to_string(com) + " (n=" + std::to_string(n) + "): " + *error;
            return false;
        }
        (*out)[com] = std::move(sets);
    }
    return true;
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
