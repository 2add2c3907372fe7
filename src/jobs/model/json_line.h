// JSON as zbctl and the job reports write it: values built with nlohmann::json, printed
// as one line per value, with ", " and ": " between items, the layout earlier versions
// wrote, so that the rows appended to a report look like the rows already in it. Every
// string, keys included, goes through Utf8Text, so the output is valid UTF-8 whatever a
// device or the system handed us. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace zb {

// The values under the top-level keys `made` are texts the program made itself (paths,
// identities, tags): their strings, keys included, go through StoredText instead.
std::string JsonLine(const nlohmann::ordered_json& value,
                     const std::vector<std::string_view>& made = {});

// A shown value: a JSON number when `number` and the text reads as one ("115200", "-1.5"),
// a string otherwise ("Even", "?20" for a value outside its field's table).
nlohmann::ordered_json ShownJson(const std::string& text, bool number);

}  // namespace zb
