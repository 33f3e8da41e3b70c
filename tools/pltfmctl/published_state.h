// What the running library published about its ports (database 6, PORT_SERDES_STATE|<intf>,
// kept when PLTFM_PORT_STATE=1), read for the status and explain commands: the key names,
// the times in the hashes, and the module in a port's cage identified now by the library's
// own identification (the OS's record in database 6, else the EEPROM).
#pragma once

#include <optional>
#include <string>

#include "platform_types.h"
#include "redis_reader.h"

namespace pltfm::ctl {

inline constexpr const char *kPortStatePrefix = "PORT_SERDES_STATE|";
inline constexpr int kStateDb = 6;
inline constexpr int kConfigDb = 4;

// How to turn the table on, for the messages of a switch where it is off.
inline constexpr const char *kTableOffHelp =
    "set PLTFM_PORT_STATE=1 in the environment of the process that loads libpltfm.so (the "
    "switch SDK's) and restart it; each port is published when it is next pre-initialised";

// A field of a hash; empty when it has none.
std::string field_of(const Hash &h, const char *name);

// Milliseconds since the epoch of a time as the hashes write it, "2026-12-10T16:40:00.123Z".
std::optional<long long> parse_iso_ms(const std::string &text);
long long now_ms();
std::string iso_text(long long ms);

// The port's descriptor: its lanes as the published hash gives them (front port key, start
// lane, lanes), else from the interface name Ethernet<n> of this board with `lanes`.
std::optional<pltfm_port_t> port_descriptor(const std::string &intf, const Hash *published,
                                            int lanes = 1);

// The module in the port's cage now, as the library identifies it ("OPTICS", ...; empty when
// none is identified) and where from ("state_db", "eeprom", "none"). The library's messages
// are captured into `log`.
struct CageModule {
    std::string cable_type;
    std::string from;
};
CageModule identify_cage_module(const pltfm_port_t &port, std::string &log);

}  // namespace pltfm::ctl
