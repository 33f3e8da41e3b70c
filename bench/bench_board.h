// The switch the Redis benchmarks bring up: 48 ports, 24 cages with one 400G port and 6 cages
// broken out 4 x 100G, as the SDK describes them. Header-only, shared by the bench programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform_hw_internal.h"

namespace pltfm::bench {

// A port the SDK creates: its SerDes group (fp_port_id + 1), start lane, lanes and speed.
struct Port {
    int32_t group, start, lanes, speed;
    uint32_t slot() const { return *pltfm::hw::port_slot(group - 1, start); }
    std::string name() const { return "Ethernet" + std::to_string(slot() - 1); }
    int front_panel() const {
        return static_cast<int>(
            pltfm::hw::intf_serdes_port_map[static_cast<std::size_t>(group - 1)]);
    }
};

// The 400G ports come first.
constexpr std::size_t kWholeCagePorts = 24;
inline std::vector<Port> board_ports() {
    std::vector<Port> ports;
    for (int32_t g = 1; g <= 24; ++g) ports.push_back({g, 0, 8, 400000});
    for (int32_t g = 25; g <= 30; ++g)
        for (int32_t s = 0; s < 8; s += 2) ports.push_back({g, s, 2, 100000});
    return ports;
}

}  // namespace pltfm::bench
