// Lookup and translation of one port, with the library's messages of each step captured.
#include "port_tuning.h"

#include <cstring>

#include "alloc.h"
#include "names.h"
#include "platform_database.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "stderr_capture.h"

namespace pltfm::tuning {

namespace {

// Rows returned for one port at most (the capacity port pre-initialisation uses).
constexpr uint32_t kRowCapacity = 280;

std::vector<LaneBlock> lane_blocks(const pltfm_attr_t *rows, uint32_t count) {
    std::vector<LaneBlock> out;
    for (uint32_t i = 0; i < count; ++i) {
        const pltfm_attr_t &a = rows[i];
        if (a.key == PLTFM_ATTR_LANE || out.empty()) {
            out.push_back({a.key == PLTFM_ATTR_LANE ? value_text(a) : "?", {}});
            if (a.key == PLTFM_ATTR_LANE) continue;
        }
        out.back().values.emplace_back(tools::attr_key_name(a.key), value_text(a));
    }
    return out;
}

}  // namespace

std::string value_text(const pltfm_attr_t &a) {
    return std::string(a.value, ::strnlen(a.value, sizeof a.value));
}

PortTuning port_tuning(const std::vector<pltfm_attr_t> &keys, const pltfm_port_t &port) {
    PortTuning t;
    std::vector<pltfm_attr_t> rows(kRowCapacity);
    t.row_count = kRowCapacity;
    {
        tools::StderrCapture capture;
        t.lookup_status = pltfm_parser_database_get(keys.data(), static_cast<uint32_t>(keys.size()),
                                                    rows.data(), &t.row_count);
        t.lookup_messages = capture.finish();
    }
    t.vendor_fallback =
        t.lookup_messages.find("using vendor name GENERIC instead") != std::string::npos;
    if (t.lookup_status != PLTFM_SUCCESS) {
        t.row_count = 0;
        return t;
    }
    t.lanes = lane_blocks(rows.data(), t.row_count);

    // The record list as pre-initialisation sizes it.
    const auto lanes = static_cast<uint32_t>(port.cur_num_lanes > 0 ? port.cur_num_lanes : 1);
    uint32_t capacity = lanes + t.row_count / lanes;
    const uint32_t allocated = capacity;
    auto *list = static_cast<ifcs_attr_t *>(mem::alloc_zeroed(capacity, sizeof(ifcs_attr_t)));
    if (list == nullptr) throw std::bad_alloc();
    {
        tools::StderrCapture capture;
        t.translate_status = pltfm_serdes_parameters_translate(
            port, rows.data(), static_cast<int>(t.row_count), list, &capacity);
        t.translate_messages = capture.finish();
    }
    if (t.translate_status == PLTFM_SUCCESS) {
        t.records = tools::decode_sdk_records(list, capacity);
        t.digest = serdes::records_digest(list, capacity);
    }
    // The list was cached under the interface name; release it as port-down would.
    if (!serdes::intf_db_release(port.intf_name)) serdes::release_attr_list(list, allocated);
    return t;
}

}  // namespace pltfm::tuning
