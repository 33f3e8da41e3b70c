// The simulated board: its 34 cages and their wiring (front-panel number, SerDes group, i2c
// bus), the ports of a port configuration file, and the module plugged into each cage.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pltfm::sim {

inline constexpr int kCages = 34;

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
std::vector<std::string> module_kind_names();

// Wiring of one cage.
struct Cage {
    int front_panel_number;  // 1 to 34, as printed on the faceplate
    int serdes_group;        // fp_port_id of its ports (0 to 32); the SDK's group is one more
    int start_lane_offset;   // 0, or 1 for cage 34 (the two extra cages share group 32)
    int bus;                 // i2c bus of its EEPROM
};
Cage cage(int front_panel_number);

// One port of the port configuration file.
struct Port {
    std::string intf;  // Ethernet<n>
    int number = 0;    // n; the library's port slot is n + 1
    int cage = 0;      // front-panel number
    int serdes_group = 0;
    int start_lane = 0;
    int lanes = 0;
    int64_t speed = 0;
};

// Builds the port of interface Ethernet<number> with the given lanes and speed; nullopt for
// numbers outside this board (0 to 255 in the eight-lane cages, 256 and 257 extra).
std::optional<Port> port_of(int number, int lanes, int64_t speed);

// The demo board: port layout and modules.
struct BoardPlan {
    std::vector<Port> ports;
    std::map<int, ModuleKind> modules;  // cage -> module (absent: empty)
};
BoardPlan demo_board();

// port_config.ini text for the ports (name, lanes, alias, speed, index).
std::string port_config_text(const std::vector<Port> &ports);
// Ports of a port configuration file; lines that do not describe a port of this board are
// skipped. Empty when the file cannot be read.
std::vector<Port> read_port_config(const std::string &path);

}  // namespace pltfm::sim
