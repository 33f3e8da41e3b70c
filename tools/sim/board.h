// The simulated board: the kinds of module the simulation plugs into its cages and the demo
// layout of ports and modules. Cage wiring and port geometry come from board_ports.h.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "board_ports.h"

namespace pltfm::sim {

// Kinds of module the simulation can plug into a cage.
enum class ModuleKind {
    empty,
    qsfp_dd_optic,        // 400G QSFP-DD optic, one 8-lane data path
    qsfp_dd_optic_4x,     // QSFP-DD optic broken out 4 x 100G (2 host lanes per data path)
    qsfp_dd_optic_2x,     // QSFP-DD optic broken out 2 x 100G (4 host lanes per data path)
    qsfp_dd_dac_1m,       // 400G passive copper, 1 m
    qsfp_dd_dac_3m,       // 400G passive copper, 3 m
    qsfp28_optic,         // 100G QSFP28 optic
    qsfp28_dac_1m,
    qsfp28_dac_3m,
    sfp_optic,            // 10G SFP+ optic, LC
    sfp_rj45,             // 10G SFP+ RJ45 (copper)
    unknown,              // a module of a tree the simulation did not write
};

struct ModuleInfo {
    const char *glyph;        // five characters for the faceplate
    const char *description;  // for the port table
};
ModuleInfo module_info(ModuleKind kind);
std::optional<ModuleKind> module_kind_by_name(const std::string &name);
// "qsfp-dd-optic", "empty", ...: the name module_kind_by_name takes.
const char *module_kind_name(ModuleKind kind);
std::vector<std::string> module_kind_names();

using tools::Cage;
using tools::cage;
using tools::kCages;
using tools::Port;
using tools::port_config_text;
using tools::port_of;

// The demo board: port layout and modules.
struct BoardPlan {
    std::vector<Port> ports;
    std::map<int, ModuleKind> modules;  // cage -> module (absent: empty)
};
BoardPlan demo_board();

}  // namespace pltfm::sim
