// Cage wiring from the library's board tables, interface geometry and port_config.ini.
#include "board_ports.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform_hw_internal.h"

namespace pltfm::tools {

Cage cage(int front_panel_number) {
    Cage c{front_panel_number, 0, 0, 0};
    if (front_panel_number < 1 || front_panel_number > kCages) return c;
    if (front_panel_number >= 33) {
        c.serdes_group = hw::kMaxSerdesGroup;
        c.start_lane_offset = front_panel_number - 33;
    } else {
        for (std::size_t i = 0; i < 32; ++i) {
            if (static_cast<int>(hw::intf_serdes_port_map[i]) == front_panel_number) {
                c.serdes_group = static_cast<int>(i);
            }
        }
    }
    c.bus =
        static_cast<int>(hw::port_i2c_offset_map[static_cast<std::size_t>(front_panel_number - 1)]);
    return c;
}

std::optional<Port> port_of(int number, int lanes, int64_t speed) {
    Port p;
    p.intf = "Ethernet" + std::to_string(number);
    p.number = number;
    p.lanes = lanes;
    p.speed = speed;
    if (number >= 0 && number < 256) {
        p.cage = number / hw::kLanesPerCage + 1;
        p.start_lane = number % hw::kLanesPerCage;
    } else if (number == 256 || number == 257) {
        p.cage = 33 + (number - 256);
        p.start_lane = number - 256;
    } else {
        return std::nullopt;
    }
    p.serdes_group = cage(p.cage).serdes_group;
    p.front_port = hw::front_port_key(p.serdes_group);
    return p;
}

std::optional<Port> port_named(const std::string &intf, int lanes, int64_t speed) {
    constexpr std::size_t kPrefix = 8;  // "Ethernet"
    if (intf.rfind("Ethernet", 0) != 0 || intf.size() == kPrefix || intf.size() > kPrefix + 3)
        return std::nullopt;
    char *end = nullptr;
    const long number = std::strtol(intf.c_str() + kPrefix, &end, 10);
    if (*end != '\0' || intf[kPrefix] < '0' || intf[kPrefix] > '9') return std::nullopt;
    auto p = port_of(static_cast<int>(number), lanes, speed);
    // The library names slot n + 1 "Ethernet<n>" exactly; a leading zero is another name.
    if (p && p->intf != intf) return std::nullopt;
    return p;
}

int front_port_lanes(int front_port) {
    // Every interface number of the board is one lane of one cage.
    int lanes = 0;
    for (int number = 0; number < 258; ++number) {
        const auto p = port_of(number, 1, 0);
        if (p && p->front_port == front_port) ++lanes;
    }
    return lanes;
}

std::string port_config_text(const std::vector<Port> &ports) {
    std::ostringstream out;
    out << "# name          lanes                  alias     speed   index\n";
    for (const Port &p : ports) {
        std::string lanes;
        const int first = p.serdes_group * hw::kLanesPerCage + p.start_lane;
        for (int i = 0; i < p.lanes; ++i) lanes += (i ? "," : "") + std::to_string(first + i);
        out << p.intf << ' ' << lanes << " etp" << p.cage;
        if (p.lanes < hw::kLanesPerCage && p.cage <= 32) out << char('a' + p.start_lane / p.lanes);
        out << ' ' << p.speed << ' ' << p.cage << '\n';
    }
    return out.str();
}

PortConfig read_port_config(const std::string &path) {
    PortConfig out;
    std::ifstream in(path);
    out.readable = static_cast<bool>(in);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream cols(line);
        std::string name, lanes, alias, speed;
        if (!(cols >> name >> lanes >> alias >> speed)) continue;
        int lane_count = 1;
        for (char ch : lanes) lane_count += ch == ',';
        if (auto p = port_named(name, lane_count, std::strtoll(speed.c_str(), nullptr, 10))) {
            out.ports.push_back(*p);
        }
    }
    return out;
}

}  // namespace pltfm::tools
