// The translation exercised on one input, shared by the translation fuzzers.
#pragma once

#include <cstring>
#include <vector>

#include "alloc.h"
#include "fuzz_support.h"
#include "ifcs_devport.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"

namespace pltfm::fuzz {

inline int flags_set(uint64_t bitmap) {
    return __builtin_popcountll(bitmap);
}

// fail_at > 0: that counted allocation of the call (the list's element arrays) fails.
inline void exercise_translation(Input &in, unsigned long fail_at) {
    pltfm_port_t port{};
    std::strcpy(port.intf_name, "EthernetF");
    port.cur_num_lanes = port.fp_num_lanes = 1 + in.byte() % 8;
    port.cur_start_lane = port.fp_start_lane = static_cast<int8_t>(in.byte());
    const uint32_t capacity = in.byte() % 48;
    std::vector<pltfm_attr_t> rows;
    while (in.remaining() > 0 && rows.size() < 400) {
        pltfm_attr_t row{};
        const uint32_t key = in.u32();
        std::memcpy(&row.key, &key, sizeof key);  // any number, as a C caller may store it
        const std::string_view value = in.take(sizeof row.value);
        std::memcpy(row.value, value.data(), value.size());  // not necessarily terminated
        rows.push_back(row);
    }
    // Exactly the capacity, so that ASan reports a record written past it.
    auto *list = static_cast<ifcs_attr_t *>(mem::alloc_zeroed(capacity, sizeof(ifcs_attr_t)));
    FUZZ_CHECK(list != nullptr);
    uint32_t count = capacity;

    mem::fail_nth_allocation(fail_at);
    const int rc = pltfm_serdes_parameters_translate(port, rows.data(),
                                                     static_cast<int>(rows.size()), list, &count);
    const bool fired = fail_at != 0 && mem::allocation_count() >= fail_at;
    mem::fail_nth_allocation(0);

    bool cached = false;
    for (const auto &e : intf_db) cached = cached || (e.attr_ptr == list);
    if (fired) {
        FUZZ_CHECK(rc == PLTFM_UNINIT);
        FUZZ_CHECK(count == capacity);
        FUZZ_CHECK(!cached);
        serdes::release_attr_list(list, capacity);  // LeakSanitizer checks every array went
        return;
    }
    FUZZ_CHECK(rc == PLTFM_SUCCESS);
    FUZZ_CHECK(count <= capacity);
    FUZZ_CHECK(cached);
    for (uint32_t i = 0; i < capacity; ++i) {
        const ifcs_attr_t &r = list[i];
        if (i >= count) {
            FUZZ_CHECK(r.bitmap == 0);
            continue;
        }
        FUZZ_CHECK(flags_set(r.bitmap) == 1);
        if (r.bitmap & (IFCS_ATTR_VALUE_FLAG_U8_LIST | IFCS_ATTR_VALUE_FLAG_I8_LIST |
                        IFCS_ATTR_VALUE_FLAG_U32_LIST)) {
            FUZZ_CHECK(r.value.u8_list.count == static_cast<uint32_t>(port.cur_num_lanes));
            FUZZ_CHECK(r.value.u8_list.arr != nullptr);
        } else if (r.bitmap & IFCS_ATTR_VALUE_FLAG_DEVPORT_AN_BP_TECH_ABILITY_LIST) {
            FUZZ_CHECK(r.id == IFCS_DEVPORT_ATTR_AUTO_NEG_LD_BP_TECH_ABILITY);
            FUZZ_CHECK(r.value.devport_an_bp_tech_ability_list.count == 1);
        } else if (r.bitmap & IFCS_ATTR_VALUE_FLAG_DATA) {
            FUZZ_CHECK(r.id == IFCS_DEVPORT_ATTR_SD_RESET_25G);
            FUZZ_CHECK(r.value.data == IFCS_BOOL_TRUE || r.value.data == IFCS_BOOL_FALSE);
        } else {
            FUZZ_CHECK(r.bitmap == IFCS_ATTR_VALUE_FLAG_U32);
        }
    }
    FUZZ_CHECK(serdes::intf_db_release(port.intf_name));
    FUZZ_CHECK(!serdes::intf_db_release(port.intf_name));  // cached once
}

}  // namespace pltfm::fuzz
