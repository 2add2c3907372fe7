#include "jobs/model/json_line.h"

#include "jobs/model/text_escape.h"

namespace zb {
namespace {

std::string StringLiteral(const std::string& text) {
    return nlohmann::ordered_json(Utf8Text(text)).dump();
}

}  // namespace

std::string JsonLine(const nlohmann::ordered_json& value) {
    std::string out;
    if (value.is_object()) {
        out = "{";
        for (auto it = value.begin(); it != value.end(); ++it)
            out += (it == value.begin() ? "" : ", ") + StringLiteral(it.key()) + ": " +
                   JsonLine(it.value());
        return out + "}";
    }
    if (value.is_array()) {
        out = "[";
        for (auto it = value.begin(); it != value.end(); ++it)
            out += (it == value.begin() ? "" : ", ") + JsonLine(*it);
        return out + "]";
    }
    if (value.is_string()) return StringLiteral(value.get_ref<const std::string&>());
    return value.dump();
}

nlohmann::ordered_json ShownJson(const std::string& text, bool number) {
    if (number) {
        nlohmann::ordered_json value = nlohmann::ordered_json::parse(text, nullptr, false);
        if (value.is_number()) return value;
    }
    return text;
}

}  // namespace zb
