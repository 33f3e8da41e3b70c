// Decoding of SDK attribute records for display.
#include "sdk_records.h"

#include "names.h"

namespace pltfm::tools {

namespace {

template <class List>
std::vector<int64_t> elements(const List &list) {
    std::vector<int64_t> out;
    if (list.arr == nullptr) return out;
    out.reserve(list.count);
    for (uint32_t i = 0; i < list.count; ++i) out.push_back(static_cast<int64_t>(list.arr[i]));
    return out;
}

}  // namespace

std::vector<SdkRecord> decode_sdk_records(const ifcs_attr_t *list, uint32_t count) {
    std::vector<SdkRecord> out;
    if (list == nullptr) return out;
    for (uint32_t i = 0; i < count; ++i) {
        const ifcs_attr_t &rec = list[i];
        SdkRecord r;
        r.id = rec.id;
        r.name = devport_attr_name(rec.id);
        if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_I8_LIST) {
            r.member = "i8_list";
            r.per_lane = true;
            r.values = elements(rec.value.i8_list);
        } else if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_U8_LIST) {
            r.member = "u8_list";
            r.per_lane = true;
            r.values = elements(rec.value.u8_list);
        } else if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_U32_LIST) {
            r.member = "u32_list";
            r.per_lane = true;
            r.values = elements(rec.value.u32_list);
        } else if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_DEVPORT_AN_BP_TECH_ABILITY_LIST) {
            r.member = "an_ability_list";
            r.values = elements(rec.value.devport_an_bp_tech_ability_list);
        } else if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_DATA) {
            r.member = "data";
            r.values = {static_cast<int64_t>(rec.value.data)};
        } else if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_U32) {
            r.member = "u32";
            r.values = {static_cast<int64_t>(rec.value.u32)};
        } else {
            continue;
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::string join_values(const std::vector<int64_t> &values, const char *separator) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0) out += separator;
        out += std::to_string(values[i]);
    }
    return out;
}

}  // namespace pltfm::tools
