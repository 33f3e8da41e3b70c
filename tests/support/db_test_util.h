// Helpers of the tuning database tests: key lists of rows and of port lookups, adding a row,
// a lookup into a sentinel-filled output, and the number of rows a tree holds.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "pi_database_internal.h"
#include "platform_database.h"

namespace pltfm::test {

using V = std::vector<std::string>;

// `key` may be any 32-bit number, as a C caller may send it.
inline pltfm_attr_t attr(uint32_t key, const std::string &value) {
    pltfm_attr_t a{};
    std::memcpy(&a.key, &key, sizeof key);
    std::strncpy(a.value, value.c_str(), sizeof a.value - 1);
    return a;
}

struct Keys {
    std::string vendor = "GENERIC", cable = "DAC_1M", speed = "25G/100G", encoding = "NRZ", port = "1",
                num_lanes = "1", lane = "0";
};
// The six row keys in level order.
inline std::vector<pltfm_attr_t> row_keys(const Keys &k) {
    return {attr(PLTFM_ATTR_CABLE_TYPE, k.cable), attr(PLTFM_ATTR_VENDOR, k.vendor),
            attr(PLTFM_ATTR_SPEED, k.speed),      attr(PLTFM_ATTR_ENCODING, k.encoding),
            attr(PLTFM_ATTR_FRONT_PORT, k.port),  attr(PLTFM_ATTR_LANE, k.lane)};
}
// The seven lookup keys in the order port pre-initialisation passes them.
inline std::vector<pltfm_attr_t> port_keys(const Keys &k) {
    const auto r = row_keys(k);
    return {r[1], r[0], r[2], r[3], r[4], attr(PLTFM_ATTR_NUM_LANES, k.num_lanes), r[5]};
}

// Adds a row whose values are TX_EQ_PRE1, TX_EQ_PRE2, ... with the given texts.
inline pltfm_status_t add_row(database::Tree &tree, const Keys &k, const V &values) {
    std::vector<pltfm_attr_t> v;
    for (const auto &text : values) v.push_back(attr(PLTFM_ATTR_TX_EQ_PRE1 + v.size(), text));
    return database::pi_database_add_row(tree, row_keys(k).data(), 6, v.data(), v.size());
}

struct Lookup {
    pltfm_status_t rc;
    uint32_t count;
    std::vector<pltfm_attr_t> out;  // "unwritten" beyond what the lookup wrote
    V values() const {  // up to the count or the capacity, whichever is smaller
        V texts;
        for (uint32_t i = 0; i < count && i < out.size(); ++i) texts.emplace_back(out[i].value);
        return texts;
    }
};

// Looks up in `tree`, or through the facade (the live tree) when `tree` is null.
inline Lookup lookup(const database::Tree *tree, const Keys &k, uint32_t capacity = 280) {
    Lookup r{PLTFM_SUCCESS, capacity, std::vector<pltfm_attr_t>(capacity, attr(PLTFM_ATTR_VERSION, "unwritten"))};
    const auto keys = port_keys(k);
    r.rc = tree ? database::pi_database_get(*tree, keys.data(), 7, r.out.data(), &r.count)
                : pltfm_parser_database_get(keys.data(), 7, r.out.data(), &r.count);
    return r;
}

// Lanes with a tuning list in the whole tree (database rows).
inline std::size_t row_count(const database::Tree &tree) {
    std::size_t rows = 0;
    for (auto *c = tree.serdes_db_p; c; c = c->cte_next_p)
        for (auto *v = c->vendor_name_p; v; v = v->vne_next_p)
            for (auto *s = v->lane_speed_p; s; s = s->lse_next_p)
                for (auto *e = s->encoding_p; e; e = e->ee_next_p)
                    for (auto *p = e->front_panel_port_p; p; p = p->fppe_next_p)
                        for (auto *l = p->lane_p; l; l = l->le_next_p) rows += l->serdes_attr_p != nullptr;
    return rows;
}

}  // namespace pltfm::test
