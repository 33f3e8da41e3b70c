// SDK device-port records as the SerDes tests build and compare them: identifier, member
// flag, and the scalar value or the elements of the list the flag names. Header-only.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "ifcs_types.h"

namespace pltfm::test {

// The SDK's member flags, spelled out independently of the library's tables.
constexpr uint64_t kU32 = 1ULL << 1, kU8List = 1ULL << 6, kI8List = 1ULL << 8,
                   kU32List = 1ULL << 10, kData = 1ULL << 21, kAbilityList = 1ULL << 41;

struct Rec {
    uint32_t id;
    uint64_t flag;
    std::vector<long long> values;
    bool operator==(const Rec &) const = default;
};

inline std::ostream &operator<<(std::ostream &o, const Rec &r) {
    o << "{id " << r.id << ", flag " << r.flag << ",";
    for (long long v : r.values) o << ' ' << v;
    return o << '}';
}

inline Rec rec_of(const ifcs_attr_t &r) {
    const auto &v = r.value;
    auto span = [&](const auto &l) { return Rec{r.id, r.bitmap, {l.arr, l.arr + l.count}}; };
    if (r.bitmap == kU32) return {r.id, r.bitmap, {v.u32}};
    if (r.bitmap == kData) return {r.id, r.bitmap, {v.data}};
    if (r.bitmap == kAbilityList) return span(v.devport_an_bp_tech_ability_list);
    if (r.bitmap == kU8List) return span(v.u8_list);
    if (r.bitmap == kI8List) return span(v.i8_list);
    if (r.bitmap == kU32List) return span(v.u32_list);
    return {r.id, r.bitmap, {}};
}

// A device-port attribute as the SDK passes it to the port entry points.
inline ifcs_attr_t devport(uint32_t id, int32_t value) {
    ifcs_attr_t a{};
    a.id = id;
    a.value.u32 = static_cast<uint32_t>(value);
    a.bitmap = kU32;
    return a;
}

inline std::vector<Rec> recs_of(const ifcs_attr_t *list, uint32_t count) {
    std::vector<Rec> out;
    for (uint32_t i = 0; i < count; ++i) out.push_back(rec_of(list[i]));
    return out;
}

}  // namespace pltfm::test
