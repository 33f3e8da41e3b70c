// The attribute names of the tuning files (line 5's column names) and their keys: what the
// loader reads and what messages name an attribute by.
#pragma once

#include <string_view>

#include "platform_types.h"

namespace pltfm {

struct AttrName {
    std::string_view name;
    pltfm_attr_type_t key;
};

// In the order the loader tries them.
inline constexpr AttrName kAttrNames[] = {
    {"AN", PLTFM_ATTR_AN},
    {"AN_ABILITY", PLTFM_ATTR_AN_ABILITY},
    {"FEC", PLTFM_ATTR_FEC},
    {"FRONT PORT", PLTFM_ATTR_FRONT_PORT},
    {"INDEX", PLTFM_ATTR_INDEX},
    {"LANE", PLTFM_ATTR_LANE},
    {"LINK_TRAINING", PLTFM_ATTR_LINK_TRAINING},
    {"OPTICAL MODULE CTLE", PLTFM_ATTR_OPTICAL_MODULE_CTLE},
    {"OPTICAL MODULE HOST CTLE FOR TP1A", PLTFM_ATTR_OPTICAL_MODULE_HOST_CTLE_FOR_TP1A},
    {"OPTICAL MODULE HTX AMPLITUDE", PLTFM_ATTR_OPTICAL_MODULE_HTX_AMPLITUDE},
    {"OPTICAL MODULE HTX EQ", PLTFM_ATTR_OPTICAL_MODULE_HTX_EQ},
    {"OPTICAL MODULE HTX TXEQ_POST", PLTFM_ATTR_OPTICAL_MODULE_HTX_TXEQ_POST},
    {"OPTICAL MODULE HTX TXEQ_PRE", PLTFM_ATTR_OPTICAL_MODULE_HTX_TXEQ_PRE},
    {"RX_AGC_TARGET", PLTFM_ATTR_RX_AGC_TARGET},
    {"RX_CTLE_BW", PLTFM_ATTR_RX_CTLE_BW},
    {"RX_CTLE_HF", PLTFM_ATTR_RX_CTLE_HF},
    {"RX_CTLE_LF", PLTFM_ATTR_RX_CTLE_LF},
    {"RX_EQ_COARSE_TUNE_EFFORT_25G", PLTFM_ATTR_RX_EQ_COARSE_TUNE_EFFORT_25G},
    {"RX_EQ_COARSE_TUNE_EFFORT_50G", PLTFM_ATTR_RX_EQ_COARSE_TUNE_EFFORT_50G},
    {"RX_EQ_FINE_TUNE_EFFORT_25G", PLTFM_ATTR_RX_EQ_FINE_TUNE_EFFORT_25G},
    {"RX_EQ_FINE_TUNE_EFFORT_50G", PLTFM_ATTR_RX_EQ_FINE_TUNE_EFFORT_50G},
    {"RX_EYE_DISQUALIFY_THRESHOLD_25G", PLTFM_ATTR_RX_EYE_DISQUALIFY_THRESHOLD_25G},
    {"RX_GAINSHAPE1", PLTFM_ATTR_RX_GAINSHAPE1},
    {"RX_GAINSHAPE2", PLTFM_ATTR_RX_GAINSHAPE2},
    {"SD_OPTICAL_MODE", PLTFM_ATTR_SD_OPTICAL_MODE},
    {"SD_RESET_25G", PLTFM_ATTR_SD_RESET_25G},
    {"SD_RESET_THRESHOLD", PLTFM_ATTR_SD_RESET_THRESHOLD},
    {"SD_RESET_THRESHOLD_25G", PLTFM_ATTR_SD_RESET_THRESHOLD_25G},
    {"TX_EQ_ATTN", PLTFM_ATTR_TX_EQ_ATTN},
    {"TX_EQ_MAIN", PLTFM_ATTR_TX_EQ_MAIN},
    {"TX_EQ_POST", PLTFM_ATTR_TX_EQ_POST},
    {"TX_EQ_POST1", PLTFM_ATTR_TX_EQ_POST1},
    {"TX_EQ_POST2", PLTFM_ATTR_TX_EQ_POST2},
    {"TX_EQ_PRE1", PLTFM_ATTR_TX_EQ_PRE1},
    {"TX_EQ_PRE2", PLTFM_ATTR_TX_EQ_PRE2},
    {"TX_EQ_PRE3", PLTFM_ATTR_TX_EQ_PRE3},
};

// The file's name of an attribute key; "?" for a key without one.
constexpr std::string_view attr_name(pltfm_attr_type_t key) {
    for (const AttrName &a : kAttrNames)
        if (a.key == key) return a.name;
    return "?";
}

}  // namespace pltfm
