// The six-level tuning tree: row insertion, port lookup and destruction, on any Tree and,
// through the exported C functions, on the live tree. Lists at levels 1 to 5 grow at the
// head; a port's lanes are appended so that a lookup can select them by position.
#include <strings.h>

#include <cassert>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "alloc.h"
#include "attr_value.h"
#include "log.h"
#include "pi_csvfile_internal.h"
#include "pi_database_internal.h"

namespace pltfm::database {

namespace {

constexpr std::size_t kCmpLen = PLTFM_ATTR_VALUE_LEN;
constexpr const char *kGenericVendor = "GENERIC";

// Exact (case-sensitive) match of an entry's key text.
bool same_text(const pltfm_attr_t &attr, const char *text) noexcept {
    return std::strncmp(attr.value, text, kCmpLen) == 0;
}

template <class Entry, Entry *Entry::*Next>
Entry *find_exact(Entry *head, const char *text) noexcept {
    for (Entry *e = head; e != nullptr; e = e->*Next) {
        if (same_text(e->attr, text)) return e;
    }
    return nullptr;
}

// Lists up to this length are searched by walking them from the head, which for the short
// lists of real tuning files is the fastest; a list that grows longer is entered in the
// tree's index, so that a row costs the same however many ports or lanes a file has.
constexpr int kWalkLimit = 16;

// What walking the first kWalkLimit entries of a list found.
template <class Entry>
struct Walk {
    Entry *found = nullptr;  // the entry with the text, if among those walked
    Entry *last = nullptr;   // the last entry walked: the tail of a list that is not indexed
    int length = 0;          // entries walked before `found` or the end
    bool indexed = false;    // longer than kWalkLimit, so every entry is in the index
};

// Equal key texts of an entry and a row key, both terminated and zero after their text (as
// the tree and copy_terminated store them): the whole fields compare equal.
bool same_value(const pltfm_attr_t &attr, const pltfm_attr_t &key) noexcept {
    return std::memcmp(attr.value, key.value, sizeof attr.value) == 0;
}

template <class Entry, Entry *Entry::*Next>
Walk<Entry> walk(Entry *head, const pltfm_attr_t &key) noexcept {
    Walk<Entry> w;
    for (Entry *e = head; e != nullptr; e = e->*Next) {
        if (w.length == kWalkLimit) {
            w.indexed = true;
            break;
        }
        if (same_value(e->attr, key)) {
            w.found = e;
            break;
        }
        w.last = e;
        ++w.length;
    }
    return w;
}

// Enters every entry of a list that has just outgrown kWalkLimit in the index, with room
// for `spare` further slots. False when the index could not grow.
template <class Entry, Entry *Entry::*Next>
bool index_list(InsertIndex &index, const void *parent, Entry *head, std::size_t length,
                std::size_t spare) noexcept {
    if (!index.reserve(length + spare)) return false;
    for (Entry *e = head; e != nullptr; e = e->*Next)
        *index.slot(InsertIndex::Link::child, parent, e->attr.value) = e;
    return true;
}

// Returns the entry with the key's text, or pushes a new one at the head of the list (null
// parent: the tree's own list). Null only when an allocation failed.
template <class Entry, Entry *Entry::*Next>
Entry *find_or_push(Tree &tree, const void *parent, Entry *&head, pltfm_attr_type_t level_key,
                    const pltfm_attr_t &key) noexcept {
    InsertIndex &index = tree.index;
    const Walk<Entry> w = walk<Entry, Next>(head, key);
    if (w.found != nullptr) return w.found;
    void **slot = nullptr;
    if (w.indexed) {
        slot = index.slot(InsertIndex::Link::child, parent, key.value);
        if (slot == nullptr) return nullptr;
        if (*slot != nullptr) return static_cast<Entry *>(*slot);
    }
    auto *entry = static_cast<Entry *>(tree.memory.alloc_zeroed(1, sizeof(Entry)));
    if (entry == nullptr) return nullptr;
    entry->attr.key = level_key;
    set_attr_value(entry->attr.value, key.value);
    entry->*Next = head;
    head = entry;
    if (slot != nullptr) {
        *slot = entry;
    } else if (w.length + 1 > kWalkLimit &&
               !index_list<Entry, Next>(index, parent, head, w.length + 1, 0)) {
        return nullptr;  // linked already: the failing row discards the whole tree
    }
    return entry;
}

// ---- create (used by add) ----

pi_cable_type_entry_t *pi_cable_type_create(Tree &tree, const pltfm_attr_t &key) noexcept {
    auto *e = find_or_push<pi_cable_type_entry_t, &pi_cable_type_entry_t::cte_next_p>(
        tree, nullptr, tree.serdes_db_p, PLTFM_ATTR_CABLE_TYPE, key);
    if (e == nullptr) PLTFM_LOG("malloc failed");
    return e;
}

pi_vendor_name_entry_t *pi_vendor_name_create(Tree &tree, pi_cable_type_entry_t *parent,
                                              const pltfm_attr_t &key) noexcept {
    auto *e = find_or_push<pi_vendor_name_entry_t, &pi_vendor_name_entry_t::vne_next_p>(
        tree, parent, parent->vendor_name_p, PLTFM_ATTR_VENDOR, key);
    if (e == nullptr) PLTFM_LOG("malloc failed");
    return e;
}

pi_lane_speed_entry_t *pi_lane_speed_create(Tree &tree, pi_vendor_name_entry_t *parent,
                                            const pltfm_attr_t &key) noexcept {
    auto *e = find_or_push<pi_lane_speed_entry_t, &pi_lane_speed_entry_t::lse_next_p>(
        tree, parent, parent->lane_speed_p, PLTFM_ATTR_SPEED, key);
    if (e == nullptr) PLTFM_LOG("malloc failed");
    return e;
}

pi_encoding_entry_t *pi_encoding_create(Tree &tree, pi_lane_speed_entry_t *parent,
                                        const pltfm_attr_t &key) noexcept {
    auto *e = find_or_push<pi_encoding_entry_t, &pi_encoding_entry_t::ee_next_p>(
        tree, parent, parent->encoding_p, PLTFM_ATTR_ENCODING, key);
    if (e == nullptr) PLTFM_LOG("malloc failed");
    return e;
}

pi_front_panel_port_entry_t *pi_front_panel_port_create(Tree &tree, pi_encoding_entry_t *parent,
                                                        const pltfm_attr_t &key) noexcept {
    auto *e = find_or_push<pi_front_panel_port_entry_t, &pi_front_panel_port_entry_t::fppe_next_p>(
        tree, parent, parent->front_panel_port_p, PLTFM_ATTR_FRONT_PORT, key);
    if (e == nullptr) PLTFM_LOG("malloc failed");
    return e;
}

// Lanes are appended at the tail: their position is what a lookup selects by. The index
// also keeps the last lane of each long list, so appending does not walk it.
pi_lane_entry_t *pi_lane_create(Tree &tree, pi_front_panel_port_entry_t *parent,
                                const pltfm_attr_t &key) noexcept {
    using Link = InsertIndex::Link;
    InsertIndex &index = tree.index;
    const Walk<pi_lane_entry_t> w =
        walk<pi_lane_entry_t, &pi_lane_entry_t::le_next_p>(parent->lane_p, key);
    if (w.found != nullptr) return w.found;
    void **slot = nullptr;
    // Room for both slots first, so that neither moves while the other is held.
    if (w.indexed) {
        if (!index.reserve(2)) {
            PLTFM_LOG("malloc failed");
            return nullptr;
        }
        slot = index.slot(Link::child, parent, key.value);
        if (*slot != nullptr) return static_cast<pi_lane_entry_t *>(*slot);
    }
    auto *lane =
        static_cast<pi_lane_entry_t *>(tree.memory.alloc_zeroed(1, sizeof(pi_lane_entry_t)));
    if (lane == nullptr) {
        PLTFM_LOG("malloc failed");
        return nullptr;
    }
    lane->attr.key = PLTFM_ATTR_LANE;
    set_attr_value(lane->attr.value, key.value);
    void **last = w.indexed ? index.slot(Link::last_lane, parent, "") : nullptr;
    pi_lane_entry_t *tail = last != nullptr ? static_cast<pi_lane_entry_t *>(*last) : w.last;
    (tail != nullptr ? tail->le_next_p : parent->lane_p) = lane;
    if (w.indexed) {
        *slot = lane;
        *last = lane;
    } else if (w.length + 1 > kWalkLimit) {
        if (!index_list<pi_lane_entry_t, &pi_lane_entry_t::le_next_p>(index, parent, parent->lane_p,
                                                                      w.length + 1, 1)) {
            PLTFM_LOG("malloc failed");
            return nullptr;  // linked already: the failing row discards the whole tree
        }
        *index.slot(Link::last_lane, parent, "") = lane;
    }
    return lane;
}

// How a row's values reach its tuning list: re-terminated one by one (any caller), or
// copied whole (the loader's values, already terminated and zero after their text).
enum class Values { terminate, copy_whole };

// A tuning list is followed, in the same allocation, by the RowSource of its row.
static_assert(sizeof(pltfm_attr_t) % alignof(RowSource) == 0);

pltfm_status_t pi_lane_serdes_attr_set(mem::Arena &memory, pi_lane_entry_t *lane,
                                       const pltfm_attr_t *value_list_p, uint32_t value_count,
                                       Values values, RowSource source) noexcept {
    if (lane->serdes_attr_p != nullptr) {
        PLTFM_LOG("lane entry has existing SerDes attributes");
        return PLTFM_EXIST;
    }
    const std::size_t total = static_cast<std::size_t>(value_count) + 1;
    auto *list = static_cast<pltfm_attr_t *>(
        memory.alloc_zeroed(1, total * sizeof(pltfm_attr_t) + sizeof(RowSource)));
    if (list == nullptr) {
        PLTFM_LOG("malloc failed");
        return PLTFM_MEMORY;
    }
    list[0] = lane->attr;
    if (values == Values::copy_whole) {
        std::memcpy(list + 1, value_list_p, value_count * sizeof(pltfm_attr_t));
    } else {
        for (uint32_t i = 0; i < value_count; ++i) copy_terminated(list[i + 1], value_list_p[i]);
    }
    std::memcpy(static_cast<void *>(list + total), static_cast<const void *>(&source),
                sizeof source);
    lane->serdes_attr_p = list;
    lane->serdes_attr_count = value_count + 1;
    return PLTFM_SUCCESS;
}

// ---- find (used by get) ----

// The lookup's steps report what they do not find, unless `quiet`.
pi_cable_type_entry_t *pi_cable_type_get(const Tree &tree, const pltfm_attr_t &key,
                                         bool quiet) noexcept {
    auto *e = find_exact<pi_cable_type_entry_t, &pi_cable_type_entry_t::cte_next_p>(
        tree.serdes_db_p, key.value);
    if (e == nullptr && !quiet) PLTFM_LOG("entry not found for key %s", key.value);
    return e;
}

// Vendors match without regard to case (the most recently created spelling wins); an
// unknown vendor falls back to the entry spelled exactly "GENERIC".
pi_vendor_name_entry_t *pi_vendor_name_get(const pi_cable_type_entry_t *parent,
                                           const pltfm_attr_t &key, bool quiet) noexcept {
    for (auto *e = parent->vendor_name_p; e != nullptr; e = e->vne_next_p) {
        if (::strncasecmp(e->attr.value, key.value, kCmpLen) == 0) return e;
    }
    if (!quiet)
        PLTFM_LOG("vendor name entry not found for key %s, using vendor name GENERIC instead",
                  key.value);
    auto *e = find_exact<pi_vendor_name_entry_t, &pi_vendor_name_entry_t::vne_next_p>(
        parent->vendor_name_p, kGenericVendor);
    if (e == nullptr && !quiet) PLTFM_LOG("entry not found for key %s", key.value);
    return e;
}

pi_lane_speed_entry_t *pi_lane_speed_get(const pi_vendor_name_entry_t *parent,
                                         const pltfm_attr_t &key, bool quiet) noexcept {
    auto *e = find_exact<pi_lane_speed_entry_t, &pi_lane_speed_entry_t::lse_next_p>(
        parent->lane_speed_p, key.value);
    if (e == nullptr && !quiet) PLTFM_LOG("entry not found for key %s", key.value);
    return e;
}

pi_encoding_entry_t *pi_encoding_get(const pi_lane_speed_entry_t *parent,
                                     const pltfm_attr_t &key, bool quiet) noexcept {
    auto *e = find_exact<pi_encoding_entry_t, &pi_encoding_entry_t::ee_next_p>(parent->encoding_p,
                                                                               key.value);
    if (e == nullptr && !quiet) PLTFM_LOG("entry not found for key %s", key.value);
    return e;
}

pi_front_panel_port_entry_t *pi_front_panel_port_get(const pi_encoding_entry_t *parent,
                                                     const pltfm_attr_t &key, bool quiet) noexcept {
    auto *e = find_exact<pi_front_panel_port_entry_t, &pi_front_panel_port_entry_t::fppe_next_p>(
        parent->front_panel_port_p, key.value);
    if (e == nullptr && !quiet) PLTFM_LOG("entry not found for key %s", key.value);
    return e;
}

// Copies the blocks of the lanes at positions start_lane .. start_lane + lane_count - 1.
// Once a block does not fit, nothing more is copied but the sizes are still summed, so the
// caller learns the capacity it needs.
pltfm_status_t pi_lane_serdes_attr_get_all(const pi_front_panel_port_entry_t *port,
                                           uint32_t capacity, int64_t start_lane,
                                           int64_t lane_count, pltfm_attr_t *value_list_p,
                                           uint32_t *value_count_p, bool quiet = false) noexcept {
    if (port->lane_p == nullptr) {
        if (!quiet) PLTFM_LOG("lane entry is null");
        return PLTFM_UNINIT;
    }
    const int64_t end_lane = start_lane + lane_count;
    uint64_t fill = 0;
    bool overflow = false;
    int64_t position = 0;
    for (const pi_lane_entry_t *lane = port->lane_p; lane != nullptr;
         lane = lane->le_next_p, ++position) {
        if (lane->serdes_attr_p == nullptr) {
            if (!quiet) PLTFM_LOG("serdes attribute is null for lane %s", lane->attr.value);
            return PLTFM_UNINIT;
        }
        if (position < start_lane) continue;
        if (position >= end_lane) break;
        if (!overflow && fill + lane->serdes_attr_count <= capacity) {
            std::memcpy(value_list_p + fill, lane->serdes_attr_p,
                        lane->serdes_attr_count * sizeof(pltfm_attr_t));
        } else {
            overflow = true;
        }
        fill += lane->serdes_attr_count;
    }
    const uint32_t required = fill > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(fill);
    *value_count_p = required;
    if (overflow) {
        if (!quiet)
            PLTFM_LOG("length mismatch getting serdes attribute. required count %u, provided count %u",
                      required, capacity);
        return PLTFM_LENGTH_MISMATCH;
    }
    return PLTFM_SUCCESS;
}

// The key types of a row, in the order of the levels; the index of each in the key list.
constexpr pltfm_attr_type_t kRowKeys[kRowKeyCount] = {PLTFM_ATTR_CABLE_TYPE, PLTFM_ATTR_VENDOR,
                                                      PLTFM_ATTR_SPEED,      PLTFM_ATTR_ENCODING,
                                                      PLTFM_ATTR_FRONT_PORT, PLTFM_ATTR_LANE};

enum class Level : int { kCableType, kVendor, kSpeed, kEncoding, kFrontPort, kLane };

int level_of(uint32_t key) noexcept {
    for (int i = 0; i < static_cast<int>(kRowKeyCount); ++i) {
        if (static_cast<uint32_t>(kRowKeys[i]) == key) return i;
    }
    return -1;
}

// Lane numbers of a lookup: decimal as strtol reads it, clamped to 32 bits.
int64_t lane_number(const char *text) noexcept {
    const long v = std::strtol(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return v;
}

// Inserts the row (keys in level order, terminated and zero after their text) into the
// tree. On failure the failing function has logged; the whole tree goes, so that a failed
// row never leaves a partial tree behind.
pltfm_status_t insert_row(Tree &tree, const pltfm_attr_t *keys, const pltfm_attr_t *value_list_p,
                          uint32_t value_count, Values values, RowSource source) noexcept {
    const pltfm_status_t rc = [&]() -> pltfm_status_t {
        auto at = [keys](Level l) -> const pltfm_attr_t & { return keys[static_cast<int>(l)]; };
        auto *cable = pi_cable_type_create(tree, at(Level::kCableType));
        if (cable == nullptr) return PLTFM_MEMORY;
        auto *vendor = pi_vendor_name_create(tree, cable, at(Level::kVendor));
        if (vendor == nullptr) return PLTFM_MEMORY;
        auto *speed = pi_lane_speed_create(tree, vendor, at(Level::kSpeed));
        if (speed == nullptr) return PLTFM_MEMORY;
        auto *encoding = pi_encoding_create(tree, speed, at(Level::kEncoding));
        if (encoding == nullptr) return PLTFM_MEMORY;
        auto *port = pi_front_panel_port_create(tree, encoding, at(Level::kFrontPort));
        if (port == nullptr) return PLTFM_MEMORY;
        auto *lane = pi_lane_create(tree, port, at(Level::kLane));
        if (lane == nullptr) return PLTFM_MEMORY;
        return pi_lane_serdes_attr_set(tree.memory, lane, value_list_p, value_count, values,
                                       source);
    }();
    if (rc != PLTFM_SUCCESS) {
        PLTFM_LOG_AS("pi_database_add_row", "deinit due to error %d", rc);
        pi_database_deinit(tree);
    }
    return rc;
}

// Never destroyed: the library's detached threads may still reach it while the process exits.
union LiveTree {
    Tree tree;
    LiveTree() : tree() {}
    ~LiveTree() {}
} g_live;

}  // namespace

Tree &live_tree() noexcept {
    return g_live.tree;
}

pltfm_status_t pi_database_add_row(Tree &tree, const pltfm_attr_t *key_list_p, uint32_t key_count,
                                   const pltfm_attr_t *value_list_p,
                                   uint32_t value_count) noexcept {
    if (key_count != kRowKeyCount || value_count == 0) {
        PLTFM_LOG("invalid key count %u or value count %u", key_count, value_count);
        return PLTFM_PARAM;
    }
    if (key_list_p == nullptr || value_list_p == nullptr) {
        PLTFM_LOG("null key or value list");
        return PLTFM_PARAM;
    }
    int index[kRowKeyCount] = {-1, -1, -1, -1, -1, -1};
    for (uint32_t i = 0; i < key_count; ++i) {
        const int level = level_of(raw_key(key_list_p[i]));
        if (level < 0) {
            PLTFM_LOG("unknown key %d", static_cast<int>(raw_key(key_list_p[i])));
            return PLTFM_PARAM;
        }
        index[level] = static_cast<int>(i);
    }
    for (int idx : index) {
        if (idx < 0) {
            PLTFM_LOG("required key not provided [%d, %d, %d, %d, %d, %d]", index[0], index[1],
                      index[2], index[3], index[4], index[5]);
            return PLTFM_PARAM;
        }
    }
    pltfm_attr_t keys[kRowKeyCount];
    for (uint32_t l = 0; l < kRowKeyCount; ++l) copy_terminated(keys[l], key_list_p[index[l]]);

    return insert_row(tree, keys, value_list_p, value_count, Values::terminate, RowSource{});
}

pltfm_status_t add_loaded_row(Tree &tree, const pltfm_attr_t *key_list_p,
                              const pltfm_attr_t *value_list_p, uint32_t value_count,
                              RowSource source) noexcept {
    assert(value_count > 0);
    for (uint32_t l = 0; l < kRowKeyCount; ++l) assert(raw_key(key_list_p[l]) == kRowKeys[l]);
    return insert_row(tree, key_list_p, value_list_p, value_count, Values::copy_whole, source);
}

bool set_files(Tree &tree, const pi_csv_file_entry_t *files, uint32_t count) noexcept {
    auto *names = static_cast<const char **>(tree.memory.alloc_zeroed(count, sizeof(char *)));
    if (names == nullptr && count > 0) {
        PLTFM_LOG_AS("pi_csv_file_parse_all", "malloc failed");
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const char *path = files[i].file_path_p;
        const char *slash = std::strrchr(path, '/');
        const char *base = slash != nullptr ? slash + 1 : path;
        const std::size_t len = std::strlen(base);
        auto *copy = static_cast<char *>(tree.memory.alloc_zeroed(len + 1, 1));
        if (copy == nullptr) {
            PLTFM_LOG_AS("pi_csv_file_parse_all", "malloc failed");
            return false;
        }
        std::memcpy(copy, base, len);
        names[i] = copy;
    }
    tree.files = names;
    tree.file_count = count;
    return true;
}

RowSource row_source(const pi_lane_entry_t &lane) noexcept {
    RowSource source;
    if (lane.serdes_attr_p != nullptr)
        std::memcpy(static_cast<void *>(&source),
                    static_cast<const void *>(lane.serdes_attr_p + lane.serdes_attr_count),
                    sizeof source);
    return source;
}

namespace {

// The port entry a lookup's seven keys name, with the lane positions it asks for.
struct PortLookup {
    const pi_front_panel_port_entry_t *port = nullptr;
    int64_t start_lane = -1;
    int64_t lane_count = -1;
};

// The lookup's key checks and walk down the tree, with the lookup's messages; success with
// `out` set when the port entry exists.
pltfm_status_t find_port(const Tree &tree, const pltfm_attr_t *key_list_p, uint32_t key_count,
                         PortLookup &out, bool quiet = false) noexcept {
    int index[kRowKeyCount - 1] = {-1, -1, -1, -1, -1};
    int64_t start_lane = -1;
    int64_t lane_count = -1;
    pltfm_attr_t keys[kLookupKeyCount];
    for (uint32_t i = 0; i < key_count; ++i) {
        copy_terminated(keys[i], key_list_p[i]);
        const uint32_t type = raw_key(keys[i]);
        if (type == PLTFM_ATTR_LANE) {
            start_lane = lane_number(keys[i].value);
        } else if (type == PLTFM_ATTR_NUM_LANES) {
            lane_count = lane_number(keys[i].value);
        } else {
            const int level = level_of(type);
            if (level < 0 || level >= static_cast<int>(Level::kLane)) {
                if (!quiet)
                    PLTFM_LOG_AS("pi_database_get", "unknown key type %d", static_cast<int>(type));
                return PLTFM_PARAM;
            }
            index[level] = static_cast<int>(i);
        }
    }
    bool missing = start_lane == -1 || lane_count == -1;
    for (int idx : index) missing = missing || idx < 0;
    if (missing) {
        if (!quiet)
            PLTFM_LOG_AS("pi_database_get", "required key not provided [%d, %d, %d, %d, %d, %d, %d]",
                         index[0], index[1], index[2], index[3], index[4],
                         static_cast<int>(lane_count), static_cast<int>(start_lane));
        return PLTFM_PARAM;
    }
    auto key = [&](Level l) -> const pltfm_attr_t & { return keys[index[static_cast<int>(l)]]; };

    auto *cable = pi_cable_type_get(tree, key(Level::kCableType), quiet);
    if (cable == nullptr) return PLTFM_NOTFOUND;
    auto *vendor = pi_vendor_name_get(cable, key(Level::kVendor), quiet);
    if (vendor == nullptr) return PLTFM_NOTFOUND;
    auto *speed = pi_lane_speed_get(vendor, key(Level::kSpeed), quiet);
    if (speed == nullptr) return PLTFM_NOTFOUND;
    auto *encoding = pi_encoding_get(speed, key(Level::kEncoding), quiet);
    if (encoding == nullptr) return PLTFM_NOTFOUND;
    auto *port = pi_front_panel_port_get(encoding, key(Level::kFrontPort), quiet);
    if (port == nullptr) return PLTFM_NOTFOUND;
    out = PortLookup{port, start_lane, lane_count};
    return PLTFM_SUCCESS;
}

}  // namespace

pltfm_status_t port_row_sources(const Tree &tree, const pltfm_attr_t *key_list_p,
                                uint32_t key_count, RowSource *sources, uint32_t *count) noexcept {
    if (key_list_p == nullptr || count == nullptr || key_count != kLookupKeyCount)
        return PLTFM_PARAM;
    PortLookup found;
    const pltfm_status_t rc = find_port(tree, key_list_p, key_count, found, true);
    if (rc != PLTFM_SUCCESS) return rc;
    uint32_t n = 0;
    int64_t position = 0;
    for (const pi_lane_entry_t *lane = found.port->lane_p; lane != nullptr;
         lane = lane->le_next_p, ++position) {
        if (position < found.start_lane) continue;
        if (position >= found.start_lane + found.lane_count) break;
        if (n < *count && sources != nullptr) sources[n] = row_source(*lane);
        ++n;
    }
    *count = n;
    return PLTFM_SUCCESS;
}

pltfm_status_t lookup_quietly(const Tree &tree, const pltfm_attr_t *key_list_p,
                              uint32_t key_count, pltfm_attr_t *value_list_p,
                              uint32_t *value_count_p) noexcept {
    const uint32_t capacity = value_count_p != nullptr ? *value_count_p : 0;
    if (key_count != kLookupKeyCount || capacity == 0 || key_list_p == nullptr ||
        value_list_p == nullptr)
        return PLTFM_PARAM;
    PortLookup found;
    const pltfm_status_t rc = find_port(tree, key_list_p, key_count, found, true);
    if (rc != PLTFM_SUCCESS) return rc;
    return pi_lane_serdes_attr_get_all(found.port, capacity, found.start_lane, found.lane_count,
                                       value_list_p, value_count_p, true);
}

pltfm_status_t pi_database_get(const Tree &tree, const pltfm_attr_t *key_list_p, uint32_t key_count,
                               pltfm_attr_t *value_list_p, uint32_t *value_count_p) noexcept {
    const uint32_t capacity = value_count_p != nullptr ? *value_count_p : 0;
    if (key_count != kLookupKeyCount || capacity == 0) {
        PLTFM_LOG("invalid key count %u or value count %u", key_count, capacity);
        return PLTFM_PARAM;
    }
    if (key_list_p == nullptr || value_list_p == nullptr) {
        PLTFM_LOG("null key or value list");
        return PLTFM_PARAM;
    }
    PortLookup found;
    const pltfm_status_t rc = find_port(tree, key_list_p, key_count, found);
    if (rc != PLTFM_SUCCESS) return rc;
    return pi_lane_serdes_attr_get_all(found.port, capacity, found.start_lane, found.lane_count,
                                       value_list_p, value_count_p);
}

pltfm_status_t pi_database_deinit(Tree &tree) noexcept {
    if (tree.serdes_db_p == nullptr) {
        PLTFM_LOG("SerDes database is already deinited");
        return PLTFM_UNINIT;
    }
    discard(tree);
    return PLTFM_SUCCESS;
}

pltfm_status_t pi_database_init(Tree &tree, const char *serdes_params_directory_p) noexcept {
    if (tree.serdes_db_p != nullptr) {
        PLTFM_LOG("SerDes database is already inited");
        return PLTFM_EXIST;
    }
    const pltfm_status_t rc = csv::pi_csv_file_parse_all(tree, serdes_params_directory_p);
    if (rc != PLTFM_SUCCESS) {
        PLTFM_LOG("deinit due to error %d", rc);
        // Silently: the tree is often empty already (a failing row discards it, a failing
        // check adds nothing), and "already deinited" would only mislead the reader.
        discard(tree);
    }
    return rc;
}

// Every entry and tuning list lives in the tree's arena: the tree goes with it, without a walk.
void discard(Tree &tree) noexcept {
    tree.serdes_db_p = nullptr;
    tree.files = nullptr;
    tree.file_count = 0;
    tree.memory.release_all();
    tree.index.clear();
}

}  // namespace pltfm::database

// ---- exported C functions: the same operations on the live tree ----

extern "C" {

pltfm_status_t pi_database_add_row(const pltfm_attr_t *key_list_p, uint32_t key_count,
                                   const pltfm_attr_t *value_list_p, uint32_t value_count) {
    return pltfm::database::pi_database_add_row(pltfm::database::live_tree(), key_list_p, key_count,
                                                value_list_p, value_count);
}

pltfm_status_t pi_database_get(const pltfm_attr_t *key_list_p, uint32_t key_count,
                               pltfm_attr_t *value_list_p, uint32_t *value_count_p) {
    return pltfm::database::pi_database_get(pltfm::database::live_tree(), key_list_p, key_count,
                                            value_list_p, value_count_p);
}

pltfm_status_t pi_database_deinit(void) {
    return pltfm::database::pi_database_deinit(pltfm::database::live_tree());
}

pltfm_status_t pi_database_init(const char *serdes_params_directory_p) {
    return pltfm::database::pi_database_init(pltfm::database::live_tree(),
                                             serdes_params_directory_p);
}

}  // extern "C"
