// Display names shared by the tools: tuning attribute keys (as the tuning files spell them),
// SDK device-port attribute identifiers, status codes, and the lane-speed classes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ifcs_types.h"
#include "platform_types.h"

namespace pltfm::tools {

// "TX_EQ_PRE1", "FRONT PORT", "CABLE_TYPE", ...; "KEY_<n>" for values outside the enum.
std::string attr_key_name(uint32_t key);
// "TX_EQ_PRE1" for 43, ...; "ATTR_<n>" for identifiers the library never produces.
std::string devport_attr_name(ifcs_attr_id_t id);
// "PLTFM_INVAL" for 11, ...
std::string status_name(int32_t status);

// The three lane-speed classes of the key attributes.
struct LaneSpeedClass {
    int32_t lane_speed;  // port speed / lanes, in the unit of the OS's speed field
    std::string_view speed;
    std::string_view encoding;
};
std::optional<LaneSpeedClass> lane_class_of_speed(int64_t port_speed, int32_t lanes);
std::optional<LaneSpeedClass> lane_class_by_name(std::string_view speed_text);

}  // namespace pltfm::tools
