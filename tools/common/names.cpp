// Name tables of the tools; display only, the library keeps its own tables.
#include "names.h"

#include <array>
#include <cctype>

#include "ifcs_devport.h"

namespace pltfm::tools {

namespace {

// Indexed by pltfm_attr_type_e. Tuning columns as the files name them; key-only attributes
// by their enumerator suffix.
constexpr std::array<std::string_view, 42> kAttrNames = {
    "AN",
    "AN_ABILITY",
    "CABLE_TYPE",
    "ENCODING",
    "FEC",
    "FRONT PORT",
    "INDEX",
    "LANE",
    "LINK_TRAINING",
    "NUM_LANES",
    "OPTICAL MODULE CTLE",
    "OPTICAL MODULE HOST CTLE FOR TP1A",
    "OPTICAL MODULE HTX AMPLITUDE",
    "OPTICAL MODULE HTX EQ",
    "OPTICAL MODULE HTX TXEQ_POST",
    "OPTICAL MODULE HTX TXEQ_PRE",
    "RX_AGC_TARGET",
    "RX_CTLE_BW",
    "RX_CTLE_HF",
    "RX_CTLE_LF",
    "RX_EQ_COARSE_TUNE_EFFORT_25G",
    "RX_EQ_COARSE_TUNE_EFFORT_50G",
    "RX_EQ_FINE_TUNE_EFFORT_25G",
    "RX_EQ_FINE_TUNE_EFFORT_50G",
    "RX_EYE_DISQUALIFY_THRESHOLD_25G",
    "RX_GAINSHAPE1",
    "RX_GAINSHAPE2",
    "SD_OPTICAL_MODE",
    "SD_RESET_25G",
    "SD_RESET_THRESHOLD",
    "SD_RESET_THRESHOLD_25G",
    "SPEED",
    "TX_EQ_ATTN",
    "TX_EQ_MAIN",
    "TX_EQ_POST",
    "TX_EQ_POST1",
    "TX_EQ_POST2",
    "TX_EQ_PRE1",
    "TX_EQ_PRE2",
    "TX_EQ_PRE3",
    "VENDOR",
    "VERSION",
};

struct IdName {
    ifcs_attr_id_t id;
    std::string_view name;
};

constexpr std::array<IdName, 25> kDevportNames = {{
    {IFCS_DEVPORT_ATTR_SERDES_GROUP, "SERDES_GROUP"},
    {IFCS_DEVPORT_ATTR_START_LANE, "START_LANE"},
    {IFCS_DEVPORT_ATTR_NUM_LANES, "NUM_LANES"},
    {IFCS_DEVPORT_ATTR_SPEED, "SPEED"},
    {IFCS_DEVPORT_ATTR_AUTO_NEG, "AUTO_NEG"},
    {IFCS_DEVPORT_ATTR_AUTO_NEG_LD_BP_TECH_ABILITY, "AUTO_NEG_LD_BP_TECH_ABILITY"},
    {IFCS_DEVPORT_ATTR_LINK_TRAINING, "LINK_TRAINING"},
    {IFCS_DEVPORT_ATTR_TX_EQ_PRE1, "TX_EQ_PRE1"},
    {IFCS_DEVPORT_ATTR_TX_EQ_PRE2, "TX_EQ_PRE2"},
    {IFCS_DEVPORT_ATTR_TX_EQ_PRE3, "TX_EQ_PRE3"},
    {IFCS_DEVPORT_ATTR_TX_EQ_ATTN, "TX_EQ_ATTN"},
    {IFCS_DEVPORT_ATTR_TX_EQ_POST, "TX_EQ_POST"},
    {IFCS_DEVPORT_ATTR_RX_CTLE_LF, "RX_CTLE_LF"},
    {IFCS_DEVPORT_ATTR_RX_CTLE_HF, "RX_CTLE_HF"},
    {IFCS_DEVPORT_ATTR_RX_CTLE_BW, "RX_CTLE_BW"},
    {IFCS_DEVPORT_ATTR_RX_GAINSHAPE1, "RX_GAINSHAPE1"},
    {IFCS_DEVPORT_ATTR_RX_GAINSHAPE2, "RX_GAINSHAPE2"},
    {IFCS_DEVPORT_ATTR_RX_AGC_TARGET, "RX_AGC_TARGET"},
    {IFCS_DEVPORT_ATTR_RX_EYE_DISQUALIFY_THRESHOLD_25G, "RX_EYE_DISQUALIFY_THRESHOLD_25G"},
    {IFCS_DEVPORT_ATTR_RX_EQ_COARSE_TUNE_EFFORT_25G, "RX_EQ_COARSE_TUNE_EFFORT_25G"},
    {IFCS_DEVPORT_ATTR_RX_EQ_COARSE_TUNE_EFFORT_50G, "RX_EQ_COARSE_TUNE_EFFORT_50G"},
    {IFCS_DEVPORT_ATTR_RX_EQ_FINE_TUNE_EFFORT_25G, "RX_EQ_FINE_TUNE_EFFORT_25G"},
    {IFCS_DEVPORT_ATTR_RX_EQ_FINE_TUNE_EFFORT_50G, "RX_EQ_FINE_TUNE_EFFORT_50G"},
    {IFCS_DEVPORT_ATTR_SD_RESET_25G, "SD_RESET_25G"},
    {IFCS_DEVPORT_ATTR_SD_RESET_THRESHOLD_25G, "SD_RESET_THRESHOLD_25G"},
}};

constexpr std::array<std::string_view, 17> kStatusNames = {
    "PLTFM_SUCCESS",      "PLTFM_UNINIT",          "PLTFM_BUSY",
    "PLTFM_CONFIG",       "PLTFM_MEMORY",          "PLTFM_PARAM",
    "PLTFM_EXIST",        "PLTFM_MULTI_EXIST",     "PLTFM_ENTRY_REPLACED",
    "PLTFM_LENGTH_MISMATCH", "PLTFM_NOTFOUND",     "PLTFM_INVAL",
    "PLTFM_UNSUPPORTED",  "PLTFM_RESOURCE_FULL",   "PLTFM_TIMEOUT",
    "PLTFM_DEVICE_ACCESS_ERROR", "PLTFM_DRIVER_ERROR",
};

constexpr std::array<LaneSpeedClass, 3> kClasses = {{
    {10000, "10G/40G", "NRZ"},
    {25000, "25G/100G", "NRZ"},
    {50000, "50G/400G", "PAM4"},
}};

}  // namespace

std::string attr_key_name(uint32_t key) {
    if (key < kAttrNames.size()) return std::string(kAttrNames[key]);
    return "KEY_" + std::to_string(key);
}

std::string devport_attr_name(ifcs_attr_id_t id) {
    for (const auto &entry : kDevportNames) {
        if (entry.id == id) return std::string(entry.name);
    }
    return "ATTR_" + std::to_string(id);
}

std::string status_name(int32_t status) {
    if (status >= 0 && static_cast<std::size_t>(status) < kStatusNames.size()) {
        return std::string(kStatusNames[static_cast<std::size_t>(status)]);
    }
    return "status " + std::to_string(status);
}

std::optional<LaneSpeedClass> lane_class_of_speed(int64_t port_speed, int32_t lanes) {
    if (lanes <= 0) return std::nullopt;
    const int64_t lane_speed = port_speed / lanes;
    for (const auto &c : kClasses) {
        if (c.lane_speed == lane_speed) return c;
    }
    return std::nullopt;
}

std::optional<LaneSpeedClass> lane_class_by_name(std::string_view speed_text) {
    std::string upper(speed_text);
    for (char &ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const auto &c : kClasses) {
        if (c.speed == upper) return c;
    }
    return std::nullopt;
}

}  // namespace pltfm::tools
