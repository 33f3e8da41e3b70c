// What the simulated switch shows: the faceplate picture of the 34 cages and the per-port
// table of module, key attributes and the main SerDes tuning values handed to the SDK.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "board.h"
#include "sdk_records.h"

namespace pltfm::sim {

// One port after bring-up.
struct PortView {
    Port port;
    ModuleKind module = ModuleKind::empty;
    // Key attributes as the library stored them ("Port %d update the new transceiver info"),
    // empty when the library did not identify the port.
    std::string cable_type, lane_class, encoding;
    bool tuned = false;  // port pre-initialisation returned a list
    std::vector<tools::SdkRecord> records;
    std::string state;  // "link up", "no module", ...
};

std::string faceplate(const std::map<int, ModuleKind> &modules);
std::string port_table(const std::vector<PortView> &views);
// "TX_EQ_PRE1 -4 -> -5" style lines for the per-lane records that differ.
std::string tuning_diff(const std::vector<tools::SdkRecord> &before,
                        const std::vector<tools::SdkRecord> &after);
// Per-lane values of a record joined with '/', a single value when every lane agrees.
std::string lane_values(const std::vector<tools::SdkRecord> &records, const std::string &name);

nlohmann::json port_json(const PortView &view);

// The 34 cages as they are now: {"cage", "front_port", "kind", "module", "glyph", "ports"},
// with the module of the ports brought up in the cage (else of `modules`) and each port's
// port_json.
nlohmann::json cages_json(const std::vector<PortView> &views,
                          const std::map<int, ModuleKind> &modules);

}  // namespace pltfm::sim
