// Internals of the transceiver layer shared by its source files and reachable by tests and
// tools: the board's wiring tables, port slot and cage computation, and the hidden laser,
// media lane mask, administrative toggle and insertion-monitor pass routines.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform_hw.h"

namespace pltfm::hw {

inline constexpr int kCageCount = 34;
// Highest SerDes group index: 0 to 31 serve the eight-lane cages, 32 the two extra cages.
inline constexpr int32_t kMaxSerdesGroup = 32;
inline constexpr int kLanesPerCage = 8;

// Board wiring. Indexed by map index (SerDes group, plus start lane for group 32): the
// front-panel number (1 to 34) of the cage that serves it.
inline constexpr std::array<uint32_t, kCageCount> intf_serdes_port_map = {
    32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16,
    15, 14, 13, 12, 11, 10, 9,  8,  7,  6,  5,  3,  4,  1,  2,  33, 34};
// Indexed by front-panel index (front-panel number - 1): the cage's Linux i2c bus number.
inline constexpr std::array<uint32_t, kCageCount> port_i2c_offset_map = {
    11, 30, 12, 29, 13, 28, 14, 27, 15, 34, 16, 33, 17, 32, 18, 31, 19,
    38, 20, 37, 21, 36, 22, 35, 23, 42, 24, 41, 25, 40, 26, 39, 43, 44};

// Where a port's module EEPROM lives.
struct CageRoute {
    int map_index;                // index into intf_serdes_port_map
    uint32_t front_panel_number;  // 1 to 34
    int front_panel_index;        // front_panel_number - 1 ("phy_port" in the access log)
    uint32_t bus;                 // Linux i2c bus of the cage
};

// EEPROM route of a descriptor; nullopt for descriptors outside this board (SerDes group
// outside 0 to 32, or a map index outside 0 to 33).
constexpr std::optional<CageRoute> cage_route(int32_t fp_port_id, int32_t fp_start_lane) {
    if (fp_port_id < 0 || fp_port_id > kMaxSerdesGroup) return std::nullopt;
    // The extra cages are told apart by start lane 0 or 1.
    if (fp_port_id == kMaxSerdesGroup && (fp_start_lane < 0 || fp_start_lane > 1))
        return std::nullopt;
    int64_t index = fp_port_id;
    if (fp_port_id > 31) index += fp_start_lane;
    if (index < 0 || index >= kCageCount) return std::nullopt;
    const uint32_t fpn = intf_serdes_port_map[static_cast<std::size_t>(index)];
    return CageRoute{static_cast<int>(index), fpn, static_cast<int>(fpn) - 1,
                     port_i2c_offset_map[fpn - 1]};
}

// Port slot: (front-panel number - 1) * 8 + start lane + 1, with the front-panel number taken
// at fp_port_id itself (group 32 gives slots 257 and 258). nullopt for descriptors outside
// this board: a start lane outside its cage's eight slots (outside 0 to 1 for group 32) would
// otherwise land on another cage's slot.
constexpr std::optional<uint32_t> port_slot(int32_t fp_port_id, int32_t fp_start_lane) {
    if (fp_port_id < 0 || fp_port_id > kMaxSerdesGroup) return std::nullopt;
    if (fp_start_lane < 0 || fp_start_lane >= kLanesPerCage) return std::nullopt;
    if (fp_port_id == kMaxSerdesGroup && fp_start_lane > 1) return std::nullopt;
    const int64_t fpn = intf_serdes_port_map[static_cast<std::size_t>(fp_port_id)];
    const int64_t slot = (fpn - 1) * kLanesPerCage + static_cast<int64_t>(fp_start_lane) + 1;
    if (slot < 1 || slot > PLTFM_PORT_SLOT_MAX) return std::nullopt;
    return static_cast<uint32_t>(slot);
}

// FRONT_PORT key value of a descriptor: front-panel number at fp_port_id, minus 1.
constexpr int front_port_key(int32_t fp_port_id) {
    return static_cast<int>(intf_serdes_port_map[static_cast<std::size_t>(fp_port_id)]) - 1;
}

// Slot whose i2c_mutex entry serialises every register access to the module of `slot`:
// breakout ports of one cage share the cage's TX disable register. Slots 257 and 258 are two
// different cages.
constexpr uint32_t cage_lock_slot(uint32_t slot) {
    if (slot > 256) return slot;
    return ((slot - 1) / kLanesPerCage) * kLanesPerCage + 1;
}

// Sysfs EEPROM file of the cage on `bus`: <sysfs devices>/<bus>-0050/eeprom. Returns false
// when the path does not fit `out`.
inline constexpr std::size_t kEepromPathMax = 512;
bool eeprom_path_for_bus(uint32_t bus, char (&out)[kEepromPathMax]) noexcept;

// A descriptor's interface name as a terminated text. A field that fills all 24 bytes
// without a terminator is a name of 24 or more characters: it is never safe.
struct IntfName {
    char text[PLTFM_INTF_NAME_LEN];
    bool unterminated;
    const char *c_str() const { return text; }
    // May stand on a command line (see is_safe_intf_name).
    bool safe() const;
};
IntfName intf_name_of(const pltfm_port_t &port) noexcept;

// Message written when a descriptor lies outside this board.
inline constexpr const char *kInvalidPortMessage =
    "Invalid port %s: serdes %d, start lane %d, lanes %d is outside this board.";

// One HSET of several fields of a hash (a port's published state), through the transport in
// use and under the stall rule, without a message: the caller reports. Key, fields and values
// must stand inside double quotes unchanged: no '"', '\\', '$' or '`'. True when Redis set them.
bool write_fields_quietly(int db, const std::string &key,
                          const std::vector<std::pair<std::string, std::string>> &fields) noexcept;

// What an administrative action did: wrote the new status; had nothing to do (the status
// does not read the opposite state, or is missing); or could not read or write the status.
enum class AdminWrite { written, not_needed, failed };

// The administrative action of slot i on an interface name copied by the caller: ADMIN_DOWN
// sets a port whose "admin_status" reads "up" down, ADMIN_UP sets one that reads "down" up.
AdminWrite oir_action_named(int32_t i, const char *intf_name, pltfm_act_t action);

// Where a slot stands in the administrative cycle of a module exchange. Guarded by `mutex`.
enum class AdminCycle : uint8_t {
    none,
    // The library set the port down for a module exchange (set only after the "down" was
    // written); the port's next port-down sets it up again.
    down_written,
    // That port-down could not write "up" (Redis stalled, refused or failed): the insertion
    // thread writes it once Redis answers, if "admin_status" still reads "down".
    up_owed,
};
// Cleared by the port's pre-initialisation: a port being created has no cycle to close.
extern AdminCycle admin_cycle[PLTFM_PORT_SLOT_TABLE_SIZE];
// When the slot's cycle was opened (the "down" written), in milliseconds of the system clock.
// Guarded by `mutex`.
extern int64_t admin_cycle_since_ms[PLTFM_PORT_SLOT_TABLE_SIZE];
// Opens slot's cycle now (the caller holds `mutex` and has written the "down").
void open_admin_cycle(uint32_t slot) noexcept;

// What the laser routine last did with the slot's module. Guarded by `mutex`.
enum class Lasers : uint8_t {
    unknown,       // not set up since start-up
    enabled,       // its lanes' transmitters enabled (SFF-8636 TX disable bits cleared)
    disabled,      // its lanes' transmitters disabled (bits set)
    not_written,   // a CMIS module: the change is computed and reported, never written
    not_an_optic,  // no transmitters to manage
    not_managed,   // an optic at a lane speed whose memory map the routine does not touch
    unreadable,    // the TX disable register could not be read
};
extern Lasers lasers_ar[PLTFM_PORT_SLOT_TABLE_SIZE];
const char *lasers_text(Lasers lasers) noexcept;

// The port-down that closes slot i's cycle: writes "up" or leaves it owed. The caller holds
// `mutex` and has copied the slot's interface name.
void close_admin_cycle(uint32_t slot, const char *intf_name);

// State bits of a port the SDK has taken down and not pre-initialised since.
inline constexpr bool port_is_down(uint32_t bits) {
    return (bits & (1u << PLTFM_PORT_DOWN)) != 0 && (bits & (1u << PLTFM_PORT_PRE_INIT)) == 0;
}

// One pass of the insertion monitor: the retry of a stalled Redis when one is due, the
// administrative writes owed since an outage, then slots 1 to 258 (the thread runs it once a
// second). In native mode it also makes the module event subscription; when that was lost
// and is made again, the pass identifies every present module afresh.
void oir_monitor_pass();

// How the laser routine reads one byte of a port's module at (page, reg); nullopt when it
// cannot be read. The library reads the cage's EEPROM file; tests wrap that to pull the module
// between two reads.
class ModuleRegisters {
  public:
    virtual std::optional<uint8_t> read(const pltfm_port_t &port, uint8_t page, uint8_t reg) = 0;

  protected:
    ~ModuleRegisters() = default;
};
class EepromRegisters final : public ModuleRegisters {
  public:
    std::optional<uint8_t> read(const pltfm_port_t &port, uint8_t page, uint8_t reg) override;
};
// The laser routine of pltfm_transceiver_configure_helper, reading the module through
// `registers` (writes go to the EEPROM file).
pltfm_status_t configure_lasers(uint32_t phy_port, pltfm_port_state_t state,
                                ModuleRegisters &registers);

// Module events: visits, with a fresh identification, the slots whose interfaces the events
// name (each slot once, in slot order); interfaces of no configured slot are ignored. The
// same visit as a pass's, its steps, messages and administrative cycle included. Returns the
// number of slots visited.
std::size_t oir_visit_module_events(const std::vector<std::string> &interfaces);
// Waits up to `wait` for module events and visits their slots (the insertion thread, between
// passes). Without a subscription it returns at once with 0.
std::size_t oir_dispatch_events(std::chrono::milliseconds wait);
// Visits the slots of every module event the server sent so far (tests drive the event
// dispatch step by step with it). `heard`, when given, gets the events' interfaces.
std::size_t oir_dispatch_pending_events(std::vector<std::string> *heard = nullptr);

// Key attribute texts of the lane-speed classes.
struct LaneSpeedClass {
    int32_t lane_speed;
    const char *speed;
    const char *encoding;
};
inline constexpr std::array<LaneSpeedClass, 3> kLaneSpeedClasses = {{
    {10000, "10G/40G", "NRZ"},
    {25000, "25G/100G", "NRZ"},
    {50000, "50G/400G", "PAM4"},
}};

// The steps of a port's key attributes (pltfm_transceiver_info_get), each on its own so that
// a tool can tell where every answer came from without deciding anything itself.

// Where a port's speed came from: the "speed" field of PORT_TABLE:<intf> in database 0, or
// the default read from port_config.ini at start-up when that read failed.
enum class SpeedSource { app_db, port_config };
struct PortSpeed {
    long speed = 0;
    SpeedSource source = SpeedSource::port_config;
    char reply[32] = {};  // database 0's answer, when it gave one (a non-number falls back too)
};
PortSpeed port_speed(const char *intf, uint32_t phy_port) noexcept;

// The class whose lane speed is speed / lanes; null when none is (the port gets no tuning).
const LaneSpeedClass *lane_speed_class(long speed, int32_t lanes) noexcept;

// Where the cable type came from: the module's record in the state database (database 6),
// or its EEPROM when that record gave no answer; none when neither identified a module.
enum class CableTypeSource { none, state_db, eeprom };
CableTypeSource identify_cable_type(const pltfm_port_t &port, char (&cable_type)[24]) noexcept;

// Where pltfm_transceiver_info_get took a port's answer from: the module (what the slot
// stored after a recorded insertion, the state database's record, or the EEPROM) and the
// speed.
enum class ModuleSource { stored, state_db, eeprom };
struct InfoSource {
    ModuleSource module = ModuleSource::stored;
    long speed = 0;
    SpeedSource speed_from = SpeedSource::port_config;
};
// pltfm_transceiver_info_get that also says where its answer came from.
pltfm_status_t transceiver_info_traced(const pltfm_port_t &port, pltfm_attr_t *attr_list_p,
                                       int attr_count, int update_flag,
                                       InfoSource *source) noexcept;

// The port's key attributes as the insertion monitor compares them after a module event: as
// pltfm_transceiver_info_get with update flag 0, but the module is always identified afresh
// (a slot with a recorded insertion gets its stored speed, encoding and lanes refreshed as
// usual, and the cable type of the module in the cage now). Nothing is stored.
pltfm_status_t transceiver_info_fresh(const pltfm_port_t &port, pltfm_attr_t *attr_list_p,
                                      int attr_count) noexcept;

}  // namespace pltfm::hw

// Hidden operations of the transceiver layer (C++ linkage, not exported).

// Laser routine of port slot `phy_port`: enables (PRE_INIT) or disables (DOWN) the
// transmitters of the port's lanes on an optical module.
pltfm_status_t pltfm_transceiver_configure_helper(uint32_t phy_port, pltfm_port_state_t state);
// Media lane mask of a CMIS module's port; 0 when anything fails.
uint8_t pltfm_transceiver_get_media_lane_mask(uint32_t phy_port);
// Administrative action of slot i (see oir_action_named). Reads port_ar[i]: the caller holds
// `mutex`.
void pltfm_transceiver_hw_oir_action(int32_t i, pltfm_act_t action);
