// Reference model of the event-order test: what the world around the library holds (modules,
// port layouts, speeds, the operator's admin choices, the tuning in use) and what the library
// must have made of it. Plain data and pure functions; the test drives the real library and
// compares it with this after every event.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "serdes_records.h"

namespace pltfm::test::events {

// Modules of the two cages: QSFP-DD kinds in cage A, QSFP28 kinds in cage B.
enum class Kind { none, dd_optic, dd_dac_1m, dd_dac_3m, q28_optic, q28_dac_1m, q28_dac_3m };
const char *kind_name(Kind k);
// The cable type the library must derive; null for an empty cage.
const char *cable_of(Kind k);

inline constexpr int kCages = 2;

// One SDK port of a cage's layout.
struct PortDef {
    std::string name;
    int cage;
    int32_t start, lanes;
};

// Cage A (front panel 1, SerDes group 31): one 8-lane port or two 4-lane ports. Cage B
// (front panel 2, SerDes group 32): one 4-lane port or two 2-lane ports, always at 25G lanes.
std::vector<PortDef> layout_ports(int cage, int layout);
int32_t serdes_group(int cage);
int front_panel(int cage);
// Port speeds the OS may configure for a port of `lanes` lanes in `cage`.
std::vector<long> valid_speeds(int cage, int32_t lanes);
// The speeds of port_config.ini (the defaults), by interface name.
const std::map<std::string, long> &default_speeds();

struct Cage {
    Kind kind = Kind::none;
    bool record_complete = true;  // the OS filled the state database's "type" field
    int layout = 0;
};

// What the library has seen of a port: never configured, last pre-initialised, or last taken
// down.
enum class Lib { never, up, down };

struct Port {
    std::string operator_admin = "up";
    std::optional<std::string> speed_field;  // db 0 "speed"; nullopt when absent
    bool created = false;                    // the SDK has the port
    Lib lib = Lib::never;
    // The library holds the port's current lanes (it was pre-initialised since its last
    // re-split); only then can it manage the lasers of those lanes.
    bool lanes_known = false;
    std::vector<Rec> records;       // answer of the last successful pre-initialisation
    int tuning = -1;                // tuning version in use at that pre-initialisation
    std::string key;                // the tuning key it was looked up with (see TuningKey)
    bool last_pre_init_ok = false;  // the SDK's last pre-initialisation of it gave a list
    long speed = 0;                 // the port speed it was created with
};

struct Model {
    std::array<Cage, kCages> cages;
    std::map<std::string, Port> ports;  // every name ever used
    int tuning_in_use = 0;              // versions: 0 sample, 1 changed, 2 broken
    int tuning_in_dir = 0;
    bool redis_stalled = false;  // the server is frozen: the library falls back on everything
};

inline constexpr int kTuningVersions = 3;
inline constexpr int kBrokenTuning = 2;

std::vector<PortDef> current_ports(const Model &m);
std::optional<PortDef> port_def(const Model &m, const std::string &name);

// The speed the library must use: db 0 when it holds a number and Redis answers, else the
// default.
long effective_speed(const Model &m, const std::string &name);

// What pre-initialising `p` must give now: the reference key of its tuning and its lane
// range, or nullopt when it must fail (empty cage, no lane-speed class).
struct TuningKey {
    std::string key;  // "cable|GENERIC|class|encoding|front port"
    std::size_t first, lanes;
};
std::optional<TuningKey> expected_tuning(const Model &m, const PortDef &p);

// One row per current port, the model's view beside what was observed of the library.
struct Observed {
    std::string admin;
    uint32_t state_bits = 0;
    std::string stored;   // the slot's stored key attributes
    int tx_disable = -1;  // cage B's SFF-8636 TX disable register, -1 when not read
};
std::string side_by_side(const Model &m, const std::map<std::string, Observed> &seen);

}  // namespace pltfm::test::events
