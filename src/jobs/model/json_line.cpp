#include "jobs/model/json_line.h"

#include <algorithm>

#include "jobs/model/text_escape.h"

namespace zb {
namespace {

std::string StringLiteral(const std::string& text, bool made) {
    return nlohmann::ordered_json(made ? StoredText(text) : Utf8Text(text)).dump();
}

std::string Line(const nlohmann::ordered_json& value, bool made,
                 const std::vector<std::string_view>& made_keys) {
    std::string out;
    if (value.is_object()) {
        out = "{";
        for (auto it = value.begin(); it != value.end(); ++it) {
            const bool below =
                made || std::find(made_keys.begin(), made_keys.end(), it.key()) != made_keys.end();
            out += (it == value.begin() ? "" : ", ") + StringLiteral(it.key(), made) + ": " +
                   Line(it.value(), below, {});
        }
        return out + "}";
    }
    if (value.is_array()) {
        out = "[";
        for (auto it = value.begin(); it != value.end(); ++it)
            out += (it == value.begin() ? "" : ", ") + Line(*it, made, {});
        return out + "]";
    }
    if (value.is_string()) return StringLiteral(value.get_ref<const std::string&>(), made);
    return value.dump();
}

}  // namespace

std::string JsonLine(const nlohmann::ordered_json& value,
                     const std::vector<std::string_view>& made) {
    return Line(value, false, made);
}

nlohmann::ordered_json ShownJson(const std::string& text, bool number) {
    if (number) {
        nlohmann::ordered_json value = nlohmann::ordered_json::parse(text, nullptr, false);
        if (value.is_number()) return value;
    }
    return text;
}

}  // namespace zb
