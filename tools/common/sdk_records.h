// Reading the SDK attribute records that port pre-initialisation hands out: which member of
// the value union each record carries (by its bitmap flag) and the values in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ifcs_types.h"

namespace pltfm::tools {

struct SdkRecord {
    ifcs_attr_id_t id = 0;
    std::string name;             // devport_attr_name(id)
    std::string member;           // "u32", "data", "i8_list", "u8_list", "u32_list", "an_ability_list"
    bool per_lane = false;        // a list with one element per lane
    std::vector<int64_t> values;  // the scalar, or the list elements in lane order
};

// Decodes `count` records; records without a known member flag are skipped.
std::vector<SdkRecord> decode_sdk_records(const ifcs_attr_t *list, uint32_t count);

// "-2 -3 0 5" / "1".
std::string join_values(const std::vector<int64_t> &values, const char *separator = " ");

}  // namespace pltfm::tools
