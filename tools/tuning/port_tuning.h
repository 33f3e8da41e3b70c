// One port's tuning as port pre-initialisation obtains it from the loaded database: the rows
// of its lanes (saying when the vendor fell back to GENERIC) and the SDK records translation
// makes of them. Lookup and translation are the library's; nothing is kept afterwards.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform_types.h"
#include "sdk_records.h"

namespace pltfm::tuning {

// One lane block of a lookup: the lane marker's text and the lane's values (name, text).
struct LaneBlock {
    std::string lane;
    std::vector<std::pair<std::string, std::string>> values;
};

struct PortTuning {
    pltfm_status_t lookup_status = PLTFM_NOTFOUND;
    bool vendor_fallback = false;  // the vendor had no rows: GENERIC's were used
    std::string lookup_messages;   // what the lookup logged
    uint32_t row_count = 0;        // attributes returned, lane markers included
    std::vector<LaneBlock> lanes;
    int translate_status = -1;  // -1: not translated (the lookup failed)
    std::string translate_messages;
    std::vector<tools::SdkRecord> records;
    // The library's digest of the records (as the port-state table publishes it).
    uint64_t digest = 0;
    bool tuned() const {
        return lookup_status == PLTFM_SUCCESS && translate_status == PLTFM_SUCCESS;
    }
};

// Looks the seven key attributes up in the live database (pltfm_parser_database_get, with
// pre-initialisation's capacity of 280) and translates the rows for `port` as
// pre-initialisation does; the record list is released before returning.
PortTuning port_tuning(const std::vector<pltfm_attr_t> &keys, const pltfm_port_t &port);

// Value text of an attribute, also when the field is not terminated.
std::string value_text(const pltfm_attr_t &a);

}  // namespace pltfm::tuning
