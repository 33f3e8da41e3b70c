// JSON text for the tools' output. Tuning cells, file names and log lines are bytes, not
// necessarily UTF-8 (a Latin-1 cell, a vendor string read from an EEPROM): such bytes become
// U+FFFD instead of stopping the tool with an exception.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace pltfm::tools {

inline std::string json_text(const nlohmann::json &j, int indent = -1) {
    return j.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace pltfm::tools
