// Helpers of the tuning database tests: building key and value lists, adding rows, looking
// ports up and counting what a tree holds.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "pi_database_internal.h"
#include "platform_types.h"

namespace pltfm::test {

pltfm_attr_t attr(pltfm_attr_type_t key, const std::string &value);
// An attribute whose key is any 32-bit number, as a C caller may send it.
pltfm_attr_t raw_attr(uint32_t key, const std::string &value);

// The six row keys of the loader, in level order.
struct RowKeys {
    std::string cable = "DAC_1M", vendor = "GENERIC", speed = "25G/100G", encoding = "NRZ",
                port = "1", lane = "0";
};
std::vector<pltfm_attr_t> row_keys(const RowKeys &k);

// The seven lookup keys in the order port pre-initialisation passes them.
struct PortKeys {
    std::string vendor = "GENERIC", cable = "DAC_1M", speed = "25G/100G", encoding = "NRZ",
                port = "1", num_lanes = "1", lane = "0";
};
std::vector<pltfm_attr_t> port_keys(const PortKeys &k);

// Adds a row whose values are TX_EQ_PRE1.. with the given texts.
pltfm_status_t add_row(database::Tree &tree, const RowKeys &k,
                       std::initializer_list<const char *> values);

struct Lookup {
    pltfm_status_t rc;
    uint32_t count;
    std::vector<pltfm_attr_t>
        out;  // the capacity passed in, sentinel-filled beyond what was written
};
Lookup lookup(const database::Tree &tree, const PortKeys &k, uint32_t capacity = 280);
// The same through the facade (live tree).
Lookup facade_lookup(const PortKeys &k, uint32_t capacity = 280);

// Value texts of the attributes, e.g. {"0", "-4", "40"} for a block with its lane marker.
std::vector<std::string> values_of(const std::vector<pltfm_attr_t> &list, uint32_t count);

// Lanes with a tuning list in the whole tree (database rows).
std::size_t row_count(const database::Tree &tree);

}  // namespace pltfm::test
