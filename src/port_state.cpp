// The published port-state table and the stale check after a rescan (see the header).
#include "port_state.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "alloc.h"
#include "decimal_text.h"
#include "build_config.h"
#include "database_port_rows.h"
#include "log.h"
#include "platform_serdes_internal.h"

namespace pltfm::port_state {

namespace {

constexpr const char *kKeyPrefix = "PORT_SERDES_STATE|";
constexpr int kStateDb = 6;
// Rows of tuning a port may have in the database (as pre-initialisation asks for).
constexpr uint32_t kRowCapacity = 280;

// ---- the setting ----

std::atomic<bool> g_on{false};
std::once_flag g_once;

void read_setting() noexcept {
    const char *env = std::getenv("PLTFM_PORT_STATE");
    const std::string_view value = env != nullptr ? env : "";
    if (value.empty() || value == "0") {
        g_on = false;
    } else if (value == "1") {
        g_on = true;
        PLTFM_LOG_AS("pltfm_pre_init",
                     "Port state table on (PLTFM_PORT_STATE=1): each port's SerDes state is "
                     "published in database 6 as PORT_SERDES_STATE|<interface>");
    } else {
        g_on = false;
        PLTFM_LOG_AS("pltfm_pre_init",
                     "PLTFM_PORT_STATE ignored: \"%.64s\" is not 1 or 0; the port state table "
                     "stays off",
                     env);
    }
}

// ---- what the library remembers of each slot's pre-initialisations ----

enum class PreInit { never, ok, failed };

struct SlotRecord {
    PreInit pre_init = PreInit::never;
    bool handed = false;  // `handout` holds what the last pre-initialisation handed out
    Handout handout;
    std::string tuning_rows;
    bool stale = false;
    uint64_t generation = 0;            // counts handouts, for the stale check's race
    bool unwritten = false;             // the last write failed: written again later
    bool write_failure_logged = false;  // one message per port until a write succeeds
};

// Access rules: g_slots is read and written with g_table_lock held; g_publish_lock is held
// for the whole render and write of one hash, so that the last write of a slot is always its
// latest state. Order: g_publish_lock, then `mutex` or g_table_lock (never both at once).
std::mutex g_table_lock;
std::mutex g_publish_lock;
SlotRecord g_slots[PLTFM_PORT_SLOT_TABLE_SIZE];


int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

const char *module_source_text(hw::ModuleSource m) {
    switch (m) {
        case hw::ModuleSource::stored:
            return "stored";
        case hw::ModuleSource::state_db:
            return "state_db";
        case hw::ModuleSource::eeprom:
            return "eeprom";
    }
    return "";
}

// The names of the set state bits, in bit order.
std::string state_text(uint32_t bits) {
    static constexpr const char *kNames[] = {"pre_init", "init",      "down",
                                             "link_up",  "link_down", "inserted"};
    std::string out;
    for (unsigned b = 0; b < std::size(kNames); ++b) {
        if ((bits & (1u << b)) == 0) continue;
        if (!out.empty()) out += ' ';
        out += kNames[b];
    }
    return out.empty() ? "none" : out;
}

// A text from outside the library (a module record's cable type) made safe to stand inside
// double quotes on a command line.
std::string quotable(const char *text, std::size_t max) {
    std::string out;
    for (std::size_t i = 0; i < max && text[i] != '\0'; ++i) {
        const char c = text[i];
        const bool safe = c >= ' ' && c <= '~' && c != '"' && c != '\\' && c != '$' && c != '`';
        out += safe ? c : '?';
    }
    return out;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

// What the library holds for the slot, copied under the two locks one after the other.
struct Snapshot {
    hw::IntfName name{};
    uint32_t bits = 0;
    char module_now[PLTFM_ATTR_VALUE_LEN] = {};
    hw::AdminCycle cycle = hw::AdminCycle::none;
    int64_t cycle_since_ms = 0;
    hw::Lasers lasers = hw::Lasers::unknown;
    SlotRecord record;
};

Snapshot take_snapshot(uint32_t slot) {
    Snapshot s;
    pthread_mutex_lock(&mutex);
    s.name = hw::intf_name_of(port_ar[slot]);
    s.bits = port_state_ar[slot];
    std::memcpy(s.module_now, port_attr_list[slot][1].value, sizeof s.module_now);
    s.cycle = hw::admin_cycle[slot];
    s.cycle_since_ms = hw::admin_cycle_since_ms[slot];
    s.lasers = hw::lasers_ar[slot];
    pthread_mutex_unlock(&mutex);
    std::lock_guard<std::mutex> hold(g_table_lock);
    s.record = g_slots[slot];
    return s;
}

// The port's hash, whole.
Fields render(const Snapshot &s) {
    const SlotRecord &r = s.record;
    const Handout &h = r.handout;
    auto key = [&](int i) {
        return r.handed ? quotable(h.keys[i].value, PLTFM_ATTR_VALUE_LEN) : "";
    };
    char digest[24] = "";
    if (r.handed) std::snprintf(digest, sizeof digest, "%016" PRIx64, h.digest);
    const char *exchange = s.cycle == hw::AdminCycle::down_written ? "open"
                           : s.cycle == hw::AdminCycle::up_owed    ? "up owed"
                                                                   : "none";
    return Fields{
        {"cable_type", key(1)},
        {"vendor", key(0)},
        {"identified_by", r.handed ? module_source_text(h.source.module) : ""},
        {"speed", r.handed ? pltfm::decimal_text(h.source.speed) : ""},
        {"speed_from",
         r.handed ? (h.source.speed_from == hw::SpeedSource::app_db ? "app_db" : "port_config")
                  : ""},
        {"lane_speed", key(2)},
        {"encoding", key(3)},
        {"front_port", key(4)},
        {"lanes", key(5)},
        {"start_lane", key(6)},
        {"module", quotable(s.module_now, sizeof s.module_now)},
        {"state", state_text(s.bits)},
        {"state_bits", pltfm::decimal_text(s.bits)},
        {"lasers", hw::lasers_text(s.lasers)},
        {"exchange", exchange},
        {"exchange_since", s.cycle != hw::AdminCycle::none ? iso_time(s.cycle_since_ms) : ""},
        {"pre_init", r.pre_init == PreInit::ok       ? "ok"
                     : r.pre_init == PreInit::failed ? "failed"
                                                     : "never"},
        {"records", r.handed ? pltfm::decimal_text(h.records) : ""},
        {"digest", digest},
        {"tuning_rows", r.handed ? r.tuning_rows : ""},
        {"stale", r.stale ? "yes" : "no"},
        {"updated", iso_time(now_ms())},
        {"version", PLTFM_LIBRARY_VERSION},
    };
}

void publish(uint32_t slot) noexcept {
    if (!enabled() || slot < 1 || slot > PLTFM_PORT_SLOT_MAX) return;
    try {
        std::lock_guard<std::mutex> publishing(g_publish_lock);
        const Snapshot s = take_snapshot(slot);
        if (s.name.text[0] == '\0' || !s.name.safe()) return;  // no port recorded in the slot
        const bool written =
            hw::write_fields_quietly(kStateDb, kKeyPrefix + std::string(s.name.c_str()), render(s));
        std::lock_guard<std::mutex> hold(g_table_lock);
        SlotRecord &r = g_slots[slot];
        r.unwritten = !written;
        if (written) {
            r.write_failure_logged = false;
        } else if (!r.write_failure_logged) {
            r.write_failure_logged = true;
            PLTFM_LOG_AS("pltfm_port_state",
                         "The state of %s could not be written to PORT_SERDES_STATE|%s in "
                         "database 6; it is written again once Redis takes it",
                         s.name.c_str(), s.name.c_str());
        }
    } catch (...) {
        // Out of memory rendering the hash: the port keeps its last published state.
    }
}

// What the port's pre-initialisation would hand out now, as records count and digest; false
// when that cannot be told (memory).
struct Now {
    bool known = false;
    bool fails = false;  // the lookup or the translation would fail
    uint32_t records = 0;
    uint64_t digest = 0;
};

Now what_it_would_get(const Handout &h) {
    Now now;
    pltfm_attr_t rows[kRowCapacity];
    uint32_t count = kRowCapacity;
    pltfm_attr_t keys[PLTFM_KEY_ATTR_COUNT];
    std::memcpy(keys, h.keys, sizeof keys);
    if (database::get_quietly(keys, PLTFM_KEY_ATTR_COUNT, rows, &count) != PLTFM_SUCCESS) {
        now.known = now.fails = true;
        return now;
    }
    const uint32_t lanes = static_cast<uint32_t>(std::max(1, h.port.cur_num_lanes));
    const uint32_t capacity =
        std::max(lanes + count / lanes,
                 serdes::translated_record_count(h.port, rows, static_cast<int>(count)));
    auto *list = static_cast<ifcs_attr_t *>(mem::alloc_zeroed(capacity, sizeof(ifcs_attr_t)));
    if (list == nullptr) return now;
    uint32_t filled = capacity;
    const int rc = serdes::translate_rows(h.port, rows, static_cast<int>(count), list, &filled,
                                          serdes::Messages::none);
    if (rc == PLTFM_SUCCESS) {
        now.known = true;
        now.records = filled;
        now.digest = serdes::records_digest(list, filled);
    } else if (rc != PLTFM_UNINIT) {
        now.known = now.fails = true;  // PLTFM_UNINIT: an element array was not allocated
    }
    serdes::release_attr_list(list, capacity);
    return now;
}

}  // namespace

std::string iso_time(int64_t ms_since_epoch) {
    const std::time_t secs = static_cast<std::time_t>(ms_since_epoch / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms_since_epoch % 1000));
    return text;
}

bool enabled() noexcept {
    std::call_once(g_once, [] { read_setting(); });
    return g_on.load();
}

void reload_for_test() noexcept {
    std::call_once(g_once, [] {});
    read_setting();
}

void handed_out(uint32_t slot, const Handout &h) noexcept {
    if (slot < 1 || slot > PLTFM_PORT_SLOT_MAX) return;
    std::string rows;
    if (enabled()) {
        pltfm_attr_t keys[PLTFM_KEY_ATTR_COUNT];
        std::memcpy(keys, h.keys, sizeof keys);
        rows = database::tuning_rows_text(keys, PLTFM_KEY_ATTR_COUNT);
    }
    {
        std::lock_guard<std::mutex> hold(g_table_lock);
        SlotRecord &r = g_slots[slot];
        r.pre_init = PreInit::ok;
        r.handed = true;
        r.handout = h;
        r.tuning_rows.swap(rows);
        r.stale = false;
        ++r.generation;
    }
    publish(slot);
}

void hand_out_failed(uint32_t slot) noexcept {
    if (slot < 1 || slot > PLTFM_PORT_SLOT_MAX) return;
    {
        std::lock_guard<std::mutex> hold(g_table_lock);
        SlotRecord &r = g_slots[slot];
        r.pre_init = PreInit::failed;
        r.handed = false;
        r.stale = false;
        ++r.generation;
    }
    publish(slot);
}

void changed(uint32_t slot) noexcept {
    publish(slot);
}

void republish_unwritten() noexcept {
    if (!enabled()) return;
    for (uint32_t slot = 1; slot <= PLTFM_PORT_SLOT_MAX; ++slot) {
        bool unwritten = false;
        {
            std::lock_guard<std::mutex> hold(g_table_lock);
            unwritten = g_slots[slot].unwritten;
        }
        if (unwritten) publish(slot);
    }
}

void check_stale_after_reload(const char *func, const char *what) noexcept {
    struct Candidate {
        uint32_t slot;
        uint64_t generation;
        Handout handout;
    };
    try {
        std::vector<Candidate> candidates;
        {
            std::lock_guard<std::mutex> hold(g_table_lock);
            for (uint32_t slot = 1; slot <= PLTFM_PORT_SLOT_MAX; ++slot)
                if (g_slots[slot].handed)
                    candidates.push_back({slot, g_slots[slot].generation, g_slots[slot].handout});
        }
        // Every running port's mark is decided again: a rescan that brings a port's old
        // tuning back makes it current again.
        struct Verdict {
            uint32_t slot;
            uint64_t generation;
            bool stale;
        };
        std::vector<Verdict> verdicts;
        std::string names;
        std::size_t stale_count = 0;
        for (const Candidate &c : candidates) {
            pthread_mutex_lock(&mutex);
            const bool running = (port_state_ar[c.slot] & (1u << PLTFM_PORT_PRE_INIT)) != 0;
            pthread_mutex_unlock(&mutex);
            if (!running) continue;  // taken down since: its next creation takes the new tuning
            const Now now = what_it_would_get(c.handout);
            if (!now.known) continue;
            const bool stale =
                now.fails || now.records != c.handout.records || now.digest != c.handout.digest;
            verdicts.push_back({c.slot, c.generation, stale});
            if (!stale) continue;
            ++stale_count;
            names += names.empty() ? "" : ", ";
            names += hw::intf_name_of(c.handout.port).c_str();
        }
        if (stale_count > 0)
            PLTFM_LOG_AS(func,
                         "%s changed the tuning of %zu port%s that run%s on the tuning it "
                         "replaced (%s): re-create these ports to apply it",
                         what, stale_count, stale_count == 1 ? "" : "s",
                         stale_count == 1 ? "s" : "", names.c_str());
        for (const Verdict &v : verdicts) {
            {
                std::lock_guard<std::mutex> hold(g_table_lock);
                SlotRecord &r = g_slots[v.slot];
                // A pre-initialisation since the check took the new tuning already.
                if (r.generation != v.generation || r.stale == v.stale) continue;
                r.stale = v.stale;
            }
            publish(v.slot);
        }
    } catch (...) {
        PLTFM_LOG_AS(func, "malloc failed");
    }
}

}  // namespace pltfm::port_state
