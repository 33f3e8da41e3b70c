// Display of one port's tuning (lookup keys, rows per lane, SDK records) shared by the
// lookup and explain commands: as text lines and as JSON fields.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

#include "port_tuning.h"

namespace pltfm::ctl {

// {"keys", "found", "vendor_fallback", "row_count", "lanes", "translate_status", "sdk_records"}
nlohmann::json tuning_json(const std::vector<pltfm_attr_t> &keys, const tuning::PortTuning &t);

// "keys: ...", the fallback note, the rows per lane and the SDK records (or why there are none),
// each line prefixed with `indent`.
void print_tuning(std::ostream &out, const std::vector<pltfm_attr_t> &keys,
                  const tuning::PortTuning &t, const std::string &indent = "");

}  // namespace pltfm::ctl
