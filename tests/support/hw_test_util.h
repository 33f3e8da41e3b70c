// Helpers for the transceiver-layer tests: port descriptors and a reset of the layer's tables.
#pragma once

#include <cstring>
#include <string>

#include "platform_hw.h"

namespace pltfm::test {

inline pltfm_port_t make_port(const std::string &name, int32_t fp_port_id, int32_t start_lane = 0,
                              int32_t num_lanes = 8) {
    pltfm_port_t p{};
    std::strncpy(p.intf_name, name.c_str(), sizeof p.intf_name - 1);
    p.fp_port_id = fp_port_id;
    p.fp_start_lane = start_lane;
    p.fp_num_lanes = num_lanes;
    p.cur_start_lane = start_lane;
    p.cur_num_lanes = num_lanes;
    return p;
}

// The seven key attributes in key attribute order, values empty.
inline void key_list(pltfm_attr_t (&list)[PLTFM_KEY_ATTR_COUNT]) {
    constexpr pltfm_attr_type_t order[PLTFM_KEY_ATTR_COUNT] = {
        PLTFM_ATTR_VENDOR, PLTFM_ATTR_CABLE_TYPE, PLTFM_ATTR_SPEED, PLTFM_ATTR_ENCODING,
        PLTFM_ATTR_FRONT_PORT, PLTFM_ATTR_NUM_LANES, PLTFM_ATTR_LANE};
    for (int i = 0; i < PLTFM_KEY_ATTR_COUNT; ++i) {
        list[i] = pltfm_attr_t{};
        list[i].key = order[i];
    }
}

// Stores attributes for a slot as an earlier pre-initialisation would have.
inline void store_attrs(uint32_t slot, const char *cable, const char *speed, const char *encoding) {
    pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
    key_list(list);
    std::strcpy(list[0].value, "GENERIC");
    std::strcpy(list[1].value, cable);
    std::strcpy(list[2].value, speed);
    std::strcpy(list[3].value, encoding);
    pthread_mutex_lock(&mutex);
    std::memcpy(port_attr_list[slot], list, sizeof list);
    pthread_mutex_unlock(&mutex);
}

}  // namespace pltfm::test
