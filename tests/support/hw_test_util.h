// Helpers for the transceiver-layer tests: port descriptors, key attribute lists, the stored
// per-slot answer, and an environment of a private Redis server plus a fake platform tree.
#pragma once

#include <cstring>
#include <string>

#include "both_modes.h"
#include "fake_platform.h"
#include "platform_hw.h"
#include "redis_server.h"

namespace pltfm::test {

inline pltfm_port_t make_port(const std::string &name, int32_t fp_port_id = 0, int32_t start_lane = 0,
                              int32_t num_lanes = 8) {
    pltfm_port_t p{};
    std::strncpy(p.intf_name, name.c_str(), sizeof p.intf_name - 1);
    p.fp_port_id = fp_port_id;
    p.fp_start_lane = p.cur_start_lane = start_lane;
    p.fp_num_lanes = p.cur_num_lanes = num_lanes;
    return p;
}

// The seven key attributes in key attribute order, values empty.
inline void key_list(pltfm_attr_t *list) {
    constexpr pltfm_attr_type_t order[PLTFM_KEY_ATTR_COUNT] = {
        PLTFM_ATTR_VENDOR, PLTFM_ATTR_CABLE_TYPE, PLTFM_ATTR_SPEED, PLTFM_ATTR_ENCODING,
        PLTFM_ATTR_FRONT_PORT, PLTFM_ATTR_NUM_LANES, PLTFM_ATTR_LANE};
    for (int i = 0; i < PLTFM_KEY_ATTR_COUNT; ++i) list[i] = pltfm_attr_t{order[i], {}};
}

// Values of a key list joined with '|'.
inline std::string values(const pltfm_attr_t *list) {
    std::string s;
    for (int i = 0; i < PLTFM_KEY_ATTR_COUNT; ++i) s += std::string(list[i].value) + "|";
    return s;
}

// Stores attributes for a slot as an earlier pre-initialisation would have.
inline void store_attrs(uint32_t slot, const char *cable, const char *speed, const char *encoding) {
    pthread_mutex_lock(&mutex);
    key_list(port_attr_list[slot]);
    std::strcpy(port_attr_list[slot][0].value, "GENERIC");
    std::strcpy(port_attr_list[slot][1].value, cable);
    std::strcpy(port_attr_list[slot][2].value, speed);
    std::strcpy(port_attr_list[slot][3].value, encoding);
    pthread_mutex_unlock(&mutex);
}

// A private Redis server, reached in the test's Redis mode, and an active fake platform tree.
struct HwEnv {
    RedisServer redis;
    FakePlatform fake;
    HwEnv() {
        modes::use(redis);
        fake.activate();
    }
    void speed(const std::string &intf, const std::string &value) { redis.hset(0, "PORT_TABLE:" + intf, "speed", value); }
    // The OS's record of a present module.
    void record(const std::string &intf, const std::string &type, const std::string &compliance,
                const std::string &connector, const std::string &length) {
        const std::string key = "TRANSCEIVER_INFO|" + intf;
        redis.hset(6, "TRANSCEIVER_STATUS|" + intf, "status", "1");
        redis.del(6, key);
        redis.hset(6, key, "type", type);
        redis.hset(6, key, "specification_compliance", compliance);
        redis.hset(6, key, "connector", connector);
        redis.hset(6, key, "cable_length", length);
    }
};

}  // namespace pltfm::test
