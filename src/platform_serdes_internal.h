// Internals of the SDK entry points shared between their source files and reachable by tests:
// the locked operations on the per-interface cache intf_db, the release of a record list, one
// poll of the tuning rescan, and the periods that tests may shorten.
#pragma once

#include <chrono>
#include <cstdint>

#include "ifcs_types.h"
#include "platform_serdes.h"

namespace pltfm::serdes {

// Frees the element arrays of the first `count` records (by their member flags) and then
// the list itself. Null is ignored.
void release_attr_list(ifcs_attr_t *list, uint32_t count) noexcept;

// Records `list` (allocated with `count` records) under the interface name in the
// lowest-numbered free entry of intf_db. False when every entry is in use.
bool intf_db_cache(const char *intf_name, ifcs_attr_t *list, uint32_t count) noexcept;

// Frees the list of the lowest-numbered entry named `intf_name` with its element arrays and
// makes the entry free. False when no entry carries the name.
bool intf_db_release(const char *intf_name) noexcept;

// Number of records pltfm_serdes_parameters_translate makes of these rows for the port given
// room enough: one per scalar or per-lane key row of the first lane.
uint32_t translated_record_count(const pltfm_port_t &port, const pltfm_attr_t *serdes_attr_list,
                                 int serdes_attr_count) noexcept;

// Zero-fills every entry; lists cached earlier are not released (the SDK may hold them).
void intf_db_clear() noexcept;

// A digest of records as the SDK reads them (identifier, member flag, the value or every
// element of the list): equal records give equal digests. FNV-1a, 64 bits.
uint64_t records_digest(const ifcs_attr_t *list, uint32_t count) noexcept;

// Whether translation writes its messages (a port's pre-initialisation), or works silently (a
// check of what a port would get, which hands nothing out).
enum class Messages { logged, none };
// pltfm_serdes_parameters_translate without caching the list in intf_db.
int translate_rows(const pltfm_port_t &port, const pltfm_attr_t *serdes_attr_list,
                   int serdes_attr_count, ifcs_attr_t *ifcs_attr_list, uint32_t *ifcs_attr_count,
                   Messages messages) noexcept;

// How translation turns the text of a tuning value into the SDK's number: not at all (the key
// gives the SDK no record), as a decimal number (strtol, then narrowed to the record's width),
// as a tuning effort ("LOW", "MEDIUM", anything else HIGH) or as a boolean ("TRUE", anything
// else FALSE).
enum class ValueConversion { none, number, effort, boolean };
ValueConversion value_conversion(uint32_t key) noexcept;

// The rescan thread's memory between polls: whether the trigger was present last time.
struct RescanState {
    bool file_exists = false;
};

// One poll of the rescan trigger: reloads the tuning directory when the trigger has
// appeared since the previous poll. The rescan thread loops over this with a sleep.
void rescan_poll(RescanState &state) noexcept;

// Sleep of post-initialisation (10 s); tests may shorten it, the product never changes it.
void set_post_init_delay_for_test(std::chrono::milliseconds delay) noexcept;

}  // namespace pltfm::serdes
