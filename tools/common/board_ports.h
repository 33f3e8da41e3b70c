// The board's ports as the tools see them: the wiring of each cage (front-panel number,
// SerDes group, i2c bus), the geometry of interface Ethernet<n>, and the port_config.ini
// table (name, lanes, alias, speed, index) that lists the configured ports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pltfm::tools {

inline constexpr int kCages = 34;

// Wiring of one cage.
struct Cage {
    int front_panel_number;  // 1 to 34, as printed on the faceplate
    int serdes_group;        // fp_port_id of its ports (0 to 32); the SDK's group is one more
    int start_lane_offset;   // 0, or 1 for cage 34 (the two extra cages share group 32)
    int bus;                 // i2c bus of its EEPROM
};
Cage cage(int front_panel_number);

// One port: interface Ethernet<number> with its lanes and speed.
struct Port {
    std::string intf;  // Ethernet<n>
    int number = 0;    // n; the library's port slot is n + 1
    int cage = 0;      // front-panel number
    int serdes_group = 0;
    int start_lane = 0;
    int front_port = 0;  // FRONT PORT key of the tuning files: cage - 1, 32 for cages 33 and 34
    int lanes = 0;
    int64_t speed = 0;
};

// Builds the port of interface Ethernet<number> with the given lanes and speed; nullopt for
// numbers outside this board (0 to 255 in the eight-lane cages, 256 and 257 extra).
std::optional<Port> port_of(int number, int lanes, int64_t speed);
// The same from an interface name; nullopt unless it is Ethernet<number> on this board.
std::optional<Port> port_named(const std::string &intf, int lanes, int64_t speed);

// Lanes the board wires to a FRONT PORT key: 8 for each eight-lane cage (keys 0 to 31), 2 for
// key 32 (the two extra cages, one lane each), 0 for a key the board does not have.
int front_port_lanes(int front_port);

// port_config.ini text for the ports (name, lanes, alias, speed, index).
std::string port_config_text(const std::vector<Port> &ports);

// Ports of a port configuration file: the lane count from the lanes column, the speed from
// the fourth column. Lines that do not describe a port of this board are skipped.
struct PortConfig {
    bool readable = false;
    std::vector<Port> ports;
};
PortConfig read_port_config(const std::string &path);

}  // namespace pltfm::tools
