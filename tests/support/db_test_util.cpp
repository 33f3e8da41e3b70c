// Helpers of the tuning database tests.
#include "db_test_util.h"

#include <cstring>

#include "platform_database.h"

namespace pltfm::test {

pltfm_attr_t attr(pltfm_attr_type_t key, const std::string &value) {
    pltfm_attr_t a{};
    a.key = key;
    std::strncpy(a.value, value.c_str(), sizeof a.value - 1);
    return a;
}

pltfm_attr_t raw_attr(uint32_t key, const std::string &value) {
    pltfm_attr_t a = attr(PLTFM_ATTR_AN, value);
    std::memcpy(&a.key, &key, sizeof key);
    return a;
}

std::vector<pltfm_attr_t> row_keys(const RowKeys &k) {
    return {attr(PLTFM_ATTR_CABLE_TYPE, k.cable), attr(PLTFM_ATTR_VENDOR, k.vendor),
            attr(PLTFM_ATTR_SPEED, k.speed),      attr(PLTFM_ATTR_ENCODING, k.encoding),
            attr(PLTFM_ATTR_FRONT_PORT, k.port),  attr(PLTFM_ATTR_LANE, k.lane)};
}

std::vector<pltfm_attr_t> port_keys(const PortKeys &k) {
    return {attr(PLTFM_ATTR_VENDOR, k.vendor),   attr(PLTFM_ATTR_CABLE_TYPE, k.cable),
            attr(PLTFM_ATTR_SPEED, k.speed),     attr(PLTFM_ATTR_ENCODING, k.encoding),
            attr(PLTFM_ATTR_FRONT_PORT, k.port), attr(PLTFM_ATTR_NUM_LANES, k.num_lanes),
            attr(PLTFM_ATTR_LANE, k.lane)};
}

pltfm_status_t add_row(database::Tree &tree, const RowKeys &k,
                       std::initializer_list<const char *> values) {
    std::vector<pltfm_attr_t> v;
    int key = PLTFM_ATTR_TX_EQ_PRE1;
    for (const char *text : values)
        v.push_back(attr(static_cast<pltfm_attr_type_t>(key++ % 42), text));
    const auto keys = row_keys(k);
    return database::pi_database_add_row(tree, keys.data(), static_cast<uint32_t>(keys.size()),
                                         v.data(), static_cast<uint32_t>(v.size()));
}

namespace {
Lookup prepare(uint32_t capacity) {
    Lookup r{PLTFM_SUCCESS, capacity, std::vector<pltfm_attr_t>(capacity ? capacity : 1)};
    for (auto &a : r.out) a = attr(PLTFM_ATTR_VERSION, "unwritten");
    return r;
}
}  // namespace

Lookup lookup(const database::Tree &tree, const PortKeys &k, uint32_t capacity) {
    Lookup r = prepare(capacity);
    const auto keys = port_keys(k);
    r.rc = database::pi_database_get(tree, keys.data(), static_cast<uint32_t>(keys.size()),
                                     r.out.data(), &r.count);
    return r;
}

Lookup facade_lookup(const PortKeys &k, uint32_t capacity) {
    Lookup r = prepare(capacity);
    const auto keys = port_keys(k);
    r.rc = pltfm_parser_database_get(keys.data(), static_cast<uint32_t>(keys.size()), r.out.data(),
                                     &r.count);
    return r;
}

std::vector<std::string> values_of(const std::vector<pltfm_attr_t> &list, uint32_t count) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < count && i < list.size(); ++i) out.emplace_back(list[i].value);
    return out;
}

std::size_t row_count(const database::Tree &tree) {
    std::size_t rows = 0;
    for (auto *c = tree.serdes_db_p; c; c = c->cte_next_p)
        for (auto *v = c->vendor_name_p; v; v = v->vne_next_p)
            for (auto *s = v->lane_speed_p; s; s = s->lse_next_p)
                for (auto *e = s->encoding_p; e; e = e->ee_next_p)
                    for (auto *p = e->front_panel_port_p; p; p = p->fppe_next_p)
                        for (auto *l = p->lane_p; l; l = l->le_next_p)
                            rows += l->serdes_attr_p != nullptr;
    return rows;
}

}  // namespace pltfm::test
