// What each port got, for the people who run the switch. With PLTFM_PORT_STATE=1 the library
// keeps one hash per interface in the state database (database 6),
// "PORT_SERDES_STATE|<interface>": the module and speed its tuning was chosen for and where
// they came from, its lanes, state bits, lasers and exchange cycle, a digest and count of the
// records handed to the SDK with the tuning files and lines they came from, and whether a
// rescan has changed that tuning since. One function renders a port's hash whole from what the
// library holds for its slot, and one HSET writes it per change; the library never reads it.
// After a rescan, the ports whose pre-initialisation would now hand out other records are
// named in the log (table on or off) and marked stale until they are created again.
#pragma once

#include <cstdint>
#include <string>

#include "ifcs_types.h"
#include "platform_hw_internal.h"
#include "platform_types.h"

namespace pltfm::port_state {

// PLTFM_PORT_STATE: "1" turns the table on; unset, empty or "0" leave it off; any other value
// is ignored with one message. Read once, at the first use.
bool enabled() noexcept;
// A time in milliseconds since the epoch as UTC ISO text with milliseconds ("...T...Z").
std::string iso_time(int64_t ms_since_epoch);
// Test hook: read PLTFM_PORT_STATE again.
void reload_for_test() noexcept;

// What a pre-initialisation that succeeded handed the SDK, and what it was chosen from.
struct Handout {
    pltfm_port_t port{};
    pltfm_attr_t keys[PLTFM_KEY_ATTR_COUNT]{};
    hw::InfoSource source{};
    uint32_t records = 0;
    uint64_t digest = 0;
};

// The slot's pre-initialisation handed `h` out (its rows are those of the keys now): kept for
// the stale check, the stale mark cleared, and the port's hash written.
void handed_out(uint32_t slot, const Handout &h) noexcept;
// The slot's pre-initialisation failed after the port was recorded: it handed nothing out.
void hand_out_failed(uint32_t slot) noexcept;
// Something of the slot changed (a port event, a module stored, an exchange cycle): its hash
// is written again. Call without `mutex`.
void changed(uint32_t slot) noexcept;

// Writes again the hashes whose last write failed (Redis refused it or did not answer). The
// insertion thread calls it once per pass while Redis answers.
void republish_unwritten() noexcept;

// After a reload that succeeded (a rescan, or a start-up again): compares what every
// pre-initialised port was handed with what its keys give now (no Redis, EEPROM or file
// access), logs one line naming the ports whose tuning changed (as `func`, the reload being
// `what`), and marks them stale; a port whose tuning the files give again is current again.
void check_stale_after_reload(const char *func, const char *what) noexcept;

}  // namespace pltfm::port_state
