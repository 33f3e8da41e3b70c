// Translation of a port's tuning rows (key/text pairs from the tuning database) into the chip
// SDK's device-port records, and the per-interface cache intf_db of the record lists handed
// to the SDK until port-down.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "alloc.h"
#include "attr_names.h"
#include "attr_value.h"
#include "ifcs_devport.h"
#include "log.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"

namespace {

// Access rules: intf_db entries are read and written only with g_intf_db_mutex held
// (translation caches, port-down releases, pre-initialisation zero-fills). The lists they
// point to belong to the SDK's reader until port-down; nobody else writes them.
std::mutex g_intf_db_mutex;

constexpr const char *kTranslate = "pltfm_serdes_parameters_translate";

// A port spans at most the eight lanes of one SerDes group.
constexpr int32_t kMaxPortLanes = 8;

// Which value member of the record a key fills; each has its fixed flag bit.
enum class Member { u32, data, an_ability_list, u8_list, i8_list, u32_list };

// How a key's text becomes a number.
using Conv = pltfm::serdes::ValueConversion;

constexpr uint64_t flag_of(Member m) {
    switch (m) {
        case Member::u32:
            return IFCS_ATTR_VALUE_FLAG_U32;
        case Member::data:
            return IFCS_ATTR_VALUE_FLAG_DATA;
        case Member::an_ability_list:
            return IFCS_ATTR_VALUE_FLAG_DEVPORT_AN_BP_TECH_ABILITY_LIST;
        case Member::u8_list:
            return IFCS_ATTR_VALUE_FLAG_U8_LIST;
        case Member::i8_list:
            return IFCS_ATTR_VALUE_FLAG_I8_LIST;
        case Member::u32_list:
            return IFCS_ATTR_VALUE_FLAG_U32_LIST;
    }
    return 0;
}

// Keys that give one record for the port, taken from the first lane's rows only.
struct ScalarKey {
    pltfm_attr_type_t key;
    ifcs_devport_attr_id_e id;
    Member member;
    Conv conv;
};

constexpr ScalarKey kScalarKeys[] = {
    {PLTFM_ATTR_AN, IFCS_DEVPORT_ATTR_AUTO_NEG, Member::u32, Conv::number},
    {PLTFM_ATTR_AN_ABILITY, IFCS_DEVPORT_ATTR_AUTO_NEG_LD_BP_TECH_ABILITY, Member::an_ability_list,
     Conv::number},
    {PLTFM_ATTR_LINK_TRAINING, IFCS_DEVPORT_ATTR_LINK_TRAINING, Member::u32, Conv::number},
    {PLTFM_ATTR_RX_EQ_COARSE_TUNE_EFFORT_25G, IFCS_DEVPORT_ATTR_RX_EQ_COARSE_TUNE_EFFORT_25G,
     Member::u32, Conv::effort},
    {PLTFM_ATTR_RX_EQ_COARSE_TUNE_EFFORT_50G, IFCS_DEVPORT_ATTR_RX_EQ_COARSE_TUNE_EFFORT_50G,
     Member::u32, Conv::effort},
    {PLTFM_ATTR_RX_EQ_FINE_TUNE_EFFORT_25G, IFCS_DEVPORT_ATTR_RX_EQ_FINE_TUNE_EFFORT_25G,
     Member::u32, Conv::effort},
    {PLTFM_ATTR_RX_EQ_FINE_TUNE_EFFORT_50G, IFCS_DEVPORT_ATTR_RX_EQ_FINE_TUNE_EFFORT_50G,
     Member::u32, Conv::effort},
    {PLTFM_ATTR_SD_RESET_25G, IFCS_DEVPORT_ATTR_SD_RESET_25G, Member::data, Conv::boolean},
    // Both threshold keys feed the SDK's one 25G threshold.
    {PLTFM_ATTR_SD_RESET_THRESHOLD, IFCS_DEVPORT_ATTR_SD_RESET_THRESHOLD_25G, Member::u32,
     Conv::number},
    {PLTFM_ATTR_SD_RESET_THRESHOLD_25G, IFCS_DEVPORT_ATTR_SD_RESET_THRESHOLD_25G, Member::u32,
     Conv::number},
};

// Keys that give one list record per port with one element per lane.
struct LaneKey {
    pltfm_attr_type_t key;
    ifcs_devport_attr_id_e id;
    Member member;
};

constexpr LaneKey kLaneKeys[] = {
    {PLTFM_ATTR_RX_AGC_TARGET, IFCS_DEVPORT_ATTR_RX_AGC_TARGET, Member::u32_list},
    {PLTFM_ATTR_RX_CTLE_BW, IFCS_DEVPORT_ATTR_RX_CTLE_BW, Member::u8_list},
    {PLTFM_ATTR_RX_CTLE_HF, IFCS_DEVPORT_ATTR_RX_CTLE_HF, Member::u8_list},
    {PLTFM_ATTR_RX_CTLE_LF, IFCS_DEVPORT_ATTR_RX_CTLE_LF, Member::u8_list},
    {PLTFM_ATTR_RX_EYE_DISQUALIFY_THRESHOLD_25G, IFCS_DEVPORT_ATTR_RX_EYE_DISQUALIFY_THRESHOLD_25G,
     Member::u32_list},
    {PLTFM_ATTR_RX_GAINSHAPE1, IFCS_DEVPORT_ATTR_RX_GAINSHAPE1, Member::u32_list},
    {PLTFM_ATTR_RX_GAINSHAPE2, IFCS_DEVPORT_ATTR_RX_GAINSHAPE2, Member::u32_list},
    {PLTFM_ATTR_TX_EQ_ATTN, IFCS_DEVPORT_ATTR_TX_EQ_ATTN, Member::i8_list},
    {PLTFM_ATTR_TX_EQ_POST, IFCS_DEVPORT_ATTR_TX_EQ_POST, Member::i8_list},
    {PLTFM_ATTR_TX_EQ_PRE1, IFCS_DEVPORT_ATTR_TX_EQ_PRE1, Member::i8_list},
    {PLTFM_ATTR_TX_EQ_PRE2, IFCS_DEVPORT_ATTR_TX_EQ_PRE2, Member::i8_list},
    {PLTFM_ATTR_TX_EQ_PRE3, IFCS_DEVPORT_ATTR_TX_EQ_PRE3, Member::i8_list},
};
constexpr std::size_t kLaneKeyCount = std::size(kLaneKeys);

// Keys are compared as the raw numbers a caller stored: any 32-bit value may arrive.
const ScalarKey *find_scalar(uint32_t key) {
    for (const auto &row : kScalarKeys)
        if (static_cast<uint32_t>(row.key) == key) return &row;
    return nullptr;
}

// Index into kLaneKeys, or kLaneKeyCount.
std::size_t find_lane_key(uint32_t key) {
    for (std::size_t i = 0; i < kLaneKeyCount; ++i)
        if (static_cast<uint32_t>(kLaneKeys[i].key) == key) return i;
    return kLaneKeyCount;
}

// Decimal text as strtol reads it; no digits give 0. Callers keep the low bits they need.
long to_number(const char *text) {
    return std::strtol(text, nullptr, 10);
}

uint32_t to_effort(std::string_view text) {
    if (text == "LOW") return IFCS_DEVPORT_RX_TUNE_EFFORT_LOW;
    if (text == "MEDIUM") return IFCS_DEVPORT_RX_TUNE_EFFORT_MEDIUM;
    return IFCS_DEVPORT_RX_TUNE_EFFORT_HIGH;
}

uint32_t to_bool(std::string_view text) {
    return text == "TRUE" ? IFCS_BOOL_TRUE : IFCS_BOOL_FALSE;
}

// The value text of a row, never read past its 24 bytes.
std::string_view value_of(const pltfm_attr_t &row) {
    return {row.value, ::strnlen(row.value, sizeof row.value)};
}

uint32_t convert(Conv conv, const pltfm_attr_t &row) {
    switch (conv) {
        case Conv::number: {
            char text[PLTFM_ATTR_VALUE_LEN + 1] = {};
            const auto v = value_of(row);
            std::memcpy(text, v.data(), v.size());
            return static_cast<uint32_t>(to_number(text));
        }
        case Conv::effort:
            return to_effort(value_of(row));
        case Conv::boolean:
            return to_bool(value_of(row));
        case Conv::none:
            break;
    }
    return 0;
}

// Writes one element of a per-lane record, narrowed to the member's width.
void store_element(ifcs_attr_t &rec, Member member, uint32_t index, uint32_t v) {
    switch (member) {
        case Member::u8_list:
            rec.value.u8_list.arr[index] = static_cast<uint8_t>(v);
            break;
        case Member::i8_list:
            rec.value.i8_list.arr[index] = static_cast<int8_t>(v);
            break;
        case Member::u32_list:
            rec.value.u32_list.arr[index] = static_cast<uint32_t>(v);
            break;
        case Member::u32:
        case Member::data:
        case Member::an_ability_list:
            break;
    }
}

constexpr std::size_t element_size(Member member) {
    return member == Member::u32_list ? sizeof(uint32_t) : sizeof(uint8_t);
}

void set_list(ifcs_attr_t &rec, Member member, uint32_t count, void *arr) {
    switch (member) {
        case Member::u8_list:
            rec.value.u8_list = {count, static_cast<uint8_t *>(arr)};
            break;
        case Member::i8_list:
            rec.value.i8_list = {count, static_cast<int8_t *>(arr)};
            break;
        case Member::u32_list:
            rec.value.u32_list = {count, static_cast<uint32_t *>(arr)};
            break;
        case Member::an_ability_list:
            rec.value.devport_an_bp_tech_ability_list = {
                count, static_cast<ifcs_devport_an_bp_tech_ability_t *>(arr)};
            break;
        case Member::u32:
        case Member::data:
            break;
    }
    rec.bitmap |= flag_of(member);
}

}  // namespace

// Access rules: see g_intf_db_mutex above; entries change only through the pltfm::serdes
// intf_db_* functions, which hold that lock.
pltfm_intf_db_t intf_db[PLTFM_INTF_DB_SIZE] = {};

namespace pltfm::serdes {

void release_attr_list(ifcs_attr_t *list, uint32_t count) noexcept {
    if (list == nullptr) return;
    for (uint32_t i = 0; i < count; ++i) {
        const ifcs_attr_t &rec = list[i];
        // The list members share one layout, so one arr pointer serves every flag.
        if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_I8_LIST)
            pltfm::mem::release(rec.value.i8_list.arr);
        else if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_U8_LIST)
            pltfm::mem::release(rec.value.u8_list.arr);
        else if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_U32_LIST)
            pltfm::mem::release(rec.value.u32_list.arr);
        else if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_DEVPORT_AN_BP_TECH_ABILITY_LIST)
            pltfm::mem::release(rec.value.devport_an_bp_tech_ability_list.arr);
    }
    pltfm::mem::release(list);
}

namespace {

// FNV-1a, 64 bits.
class Fnv1a {
  public:
    void add(uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            h_ ^= (v >> (8 * i)) & 0xFF;
            h_ *= 1099511628211ULL;
        }
    }
    uint64_t value() const { return h_; }

  private:
    uint64_t h_ = 14695981039346656037ULL;
};

template <class List>
void add_list(Fnv1a &h, const List &list) {
    h.add(list.count, 4);
    for (uint32_t i = 0; i < list.count && list.arr != nullptr; ++i)
        h.add(static_cast<uint64_t>(static_cast<int64_t>(list.arr[i])), 8);
}

}  // namespace

uint64_t records_digest(const ifcs_attr_t *list, uint32_t count) noexcept {
    Fnv1a h;
    for (uint32_t i = 0; i < count && list != nullptr; ++i) {
        const ifcs_attr_t &rec = list[i];
        h.add(rec.id, 4);
        h.add(rec.bitmap, 8);
        if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_I8_LIST)
            add_list(h, rec.value.i8_list);
        else if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_U8_LIST)
            add_list(h, rec.value.u8_list);
        else if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_U32_LIST)
            add_list(h, rec.value.u32_list);
        else if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_DEVPORT_AN_BP_TECH_ABILITY_LIST)
            add_list(h, rec.value.devport_an_bp_tech_ability_list);
        else if (rec.bitmap & IFCS_ATTR_VALUE_FLAG_DATA)
            h.add(rec.value.data, 4);
        else
            h.add(rec.value.u32, 4);
    }
    return h.value();
}

bool intf_db_cache(const char *intf_name, ifcs_attr_t *list, uint32_t count) noexcept {
    std::lock_guard lock(g_intf_db_mutex);
    for (auto &entry : intf_db) {
        if (entry.intf_name[0] != '\0') continue;
        const std::size_t len = ::strnlen(intf_name, sizeof entry.intf_name - 1);
        std::memcpy(entry.intf_name, intf_name, len);
        entry.intf_name[len] = '\0';
        entry.attr_num = count;
        entry.attr_ptr = list;
        return true;
    }
    return false;
}

bool intf_db_release(const char *intf_name) noexcept {
    ifcs_attr_t *list = nullptr;
    uint32_t count = 0;
    {
        std::lock_guard lock(g_intf_db_mutex);
        pltfm_intf_db_t *found = nullptr;
        for (auto &entry : intf_db) {
            if (entry.intf_name[0] != '\0' &&
                std::strncmp(entry.intf_name, intf_name, sizeof entry.intf_name) == 0) {
                found = &entry;
                break;
            }
        }
        if (found == nullptr) return false;
        list = found->attr_ptr;
        count = found->attr_num;
        *found = pltfm_intf_db_t{};
    }
    release_attr_list(list, count);
    return true;
}

void intf_db_clear() noexcept {
    std::lock_guard lock(g_intf_db_mutex);
    for (auto &entry : intf_db) entry = pltfm_intf_db_t{};
}

ValueConversion value_conversion(uint32_t key) noexcept {
    const auto k = static_cast<pltfm_attr_type_t>(key);
    if (const ScalarKey *sk = find_scalar(k)) return sk->conv;
    return find_lane_key(k) != kLaneKeyCount ? ValueConversion::number : ValueConversion::none;
}

}  // namespace pltfm::serdes

namespace {

// The lane a row belongs to, as translation tracks it: a lane row sets it for the rows that
// follow; rows before any lane row belong to the first lane.
class LaneTracker {
  public:
    explicit LaneTracker(const pltfm_port_t &port)
        : first_(static_cast<uint32_t>(port.cur_start_lane)), lane_(first_) {}
    // False for a lane row, which only moves the tracker.
    bool visit(const pltfm_attr_t &row) {
        if (pltfm::raw_key(row) != static_cast<uint32_t>(PLTFM_ATTR_LANE)) return true;
        lane_ = convert(Conv::number, row);
        return false;
    }
    uint32_t lane() const { return lane_; }
    bool at_first_lane() const { return lane_ == first_; }
    uint32_t index() const { return lane_ - first_; }

  private:
    uint32_t first_;
    uint32_t lane_;
};

void log_skipped(bool quiet, pltfm_attr_type_t key, uint32_t lane, const char *why) {
    if (quiet) return;
    const std::string_view name = pltfm::attr_name(key);
    PLTFM_LOG_AS(kTranslate, "Skipped %.*s of lane %d: %s", static_cast<int>(name.size()),
                 name.data(), static_cast<int32_t>(lane), why);
}

}  // namespace

namespace pltfm::serdes {

uint32_t translated_record_count(const pltfm_port_t &port, const pltfm_attr_t *serdes_attr_list,
                                 int serdes_attr_count) noexcept {
    LaneTracker lane(port);
    uint32_t records = 0;
    for (int i = 0; i < serdes_attr_count; ++i) {
        const pltfm_attr_t &row = serdes_attr_list[i];
        if (!lane.visit(row) || !lane.at_first_lane()) continue;
        const uint32_t key = pltfm::raw_key(row);
        if (find_scalar(key) != nullptr || find_lane_key(key) != kLaneKeyCount) ++records;
    }
    return records;
}

}  // namespace pltfm::serdes

namespace pltfm::serdes {

// Rows that would write outside the list or an element array are skipped, each with a message:
// a lane row naming a lane outside the port, a per-lane key with no record at the first lane,
// or a record beyond the list's capacity. Scalars at later lanes and keys the SDK does not
// take are skipped quietly. Records follow the order in which the first lane's rows name the
// keys.
int translate_rows(const pltfm_port_t &port, const pltfm_attr_t *serdes_attr_list,
                   int serdes_attr_count, ifcs_attr_t *ifcs_attr_list, uint32_t *ifcs_attr_count,
                   Messages messages) noexcept {
    const bool quiet = messages == Messages::none;
    if (ifcs_attr_list == nullptr || ifcs_attr_count == nullptr ||
        (serdes_attr_list == nullptr && serdes_attr_count > 0) || port.cur_num_lanes < 1 ||
        port.cur_num_lanes > kMaxPortLanes || port.intf_name[0] == '\0') {
        if (!quiet) PLTFM_LOG_AS(kTranslate, "Invalid input value.");
        return PLTFM_PARAM;
    }

    const uint32_t in_ifcs_attr_count = *ifcs_attr_count;
    const uint32_t n = static_cast<uint32_t>(port.cur_num_lanes);
    LaneTracker lane(port);
    uint32_t ifcs_attr_set = 0;
    // Record of each per-lane key's current element array; null until its first lane.
    ifcs_attr_t *lane_records[kLaneKeyCount] = {};

    for (int i = 0; i < serdes_attr_count; ++i) {
        const pltfm_attr_t &row = serdes_attr_list[i];
        if (!lane.visit(row)) continue;
        const uint32_t key = pltfm::raw_key(row);

        if (const ScalarKey *sk = find_scalar(key)) {
            if (!lane.at_first_lane()) continue;
            if (ifcs_attr_set >= in_ifcs_attr_count) {
                log_skipped(quiet, sk->key, lane.lane(), "the list is full");
                continue;
            }
            ifcs_attr_t &rec = ifcs_attr_list[ifcs_attr_set];
            const uint32_t v = convert(sk->conv, row);
            if (sk->member == Member::an_ability_list) {
                auto *arr = static_cast<ifcs_devport_an_bp_tech_ability_t *>(
                    pltfm::mem::alloc_zeroed(1, sizeof(ifcs_devport_an_bp_tech_ability_t)));
                if (arr == nullptr) {
                    if (!quiet) PLTFM_LOG_AS(kTranslate, "FATAL: malloc failed");
                    return PLTFM_UNINIT;
                }
                arr[0] = v;
                set_list(rec, sk->member, 1, arr);
            } else if (sk->member == Member::data) {
                rec.value.data = v;
                rec.bitmap |= flag_of(sk->member);
            } else {
                rec.value.u32 = v;
                rec.bitmap |= flag_of(sk->member);
            }
            rec.id = sk->id;
            ++ifcs_attr_set;
            continue;
        }

        const std::size_t k = find_lane_key(key);
        if (k == kLaneKeyCount) continue;  // not a key the SDK takes
        const LaneKey &lk = kLaneKeys[k];
        if (lane.at_first_lane()) {
            if (ifcs_attr_set >= in_ifcs_attr_count) {
                log_skipped(quiet, lk.key, lane.lane(), "the list is full");
                continue;
            }
            if (lk.key == PLTFM_ATTR_TX_EQ_ATTN && !quiet)
                PLTFM_LOG_AS(kTranslate, "tx_eq_attn lane=%d cur_num_lanes=%d",
                             static_cast<int>(lane.lane()), port.cur_num_lanes);
            void *arr = pltfm::mem::alloc_zeroed(n, element_size(lk.member));
            if (arr == nullptr) {
                if (!quiet) PLTFM_LOG_AS(kTranslate, "FATAL: malloc failed");
                return PLTFM_UNINIT;
            }
            ifcs_attr_t &rec = ifcs_attr_list[ifcs_attr_set++];
            rec.id = lk.id;
            set_list(rec, lk.member, n, arr);
            lane_records[k] = &rec;
        }
        if (lane.index() >= n) {
            char why[64];
            std::snprintf(why, sizeof why, "outside the port's lanes %d to %d", port.cur_start_lane,
                          port.cur_start_lane + port.cur_num_lanes - 1);
            log_skipped(quiet, lk.key, lane.lane(), why);
            continue;
        }
        if (lane_records[k] == nullptr) {
            log_skipped(quiet, lk.key, lane.lane(), "no record of it at the first lane");
            continue;
        }
        store_element(*lane_records[k], lk.member, lane.index(), convert(Conv::number, row));
    }
    *ifcs_attr_count = ifcs_attr_set;
    return PLTFM_SUCCESS;
}

}  // namespace pltfm::serdes

int pltfm_serdes_parameters_translate(pltfm_port_t port, pltfm_attr_t *serdes_attr_list,
                                      int serdes_attr_count, ifcs_attr_t *ifcs_attr_list,
                                      uint32_t *ifcs_attr_count) {
    // Checked and refused by translate_rows, which is given the caller's count itself.
    const uint32_t capacity = ifcs_attr_count != nullptr ? *ifcs_attr_count : 0;
    uint32_t filled = capacity;
    const int rc = pltfm::serdes::translate_rows(
        port, serdes_attr_list, serdes_attr_count, ifcs_attr_list,
        ifcs_attr_count != nullptr ? &filled : nullptr, pltfm::serdes::Messages::logged);
    if (rc != PLTFM_SUCCESS) return rc;
    if (!pltfm::serdes::intf_db_cache(port.intf_name, ifcs_attr_list, capacity)) {
        PLTFM_LOG_AS(kTranslate, "intf_db is full, the list of %.*s is not cached",
                     static_cast<int>(::strnlen(port.intf_name, sizeof port.intf_name)),
                     port.intf_name);
    }
    *ifcs_attr_count = filled;
    return PLTFM_SUCCESS;
}
