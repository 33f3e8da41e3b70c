// What a module of each kind looks like to the switch: its EEPROM image (built with the test
// fixtures' image builder) and the fields the OS records for it in the state database.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "board.h"

namespace pltfm::sim {

// Bytes of the module's i2c sysfs EEPROM file; empty for an empty cage.
std::string eeprom_bytes(ModuleKind kind);

// Fields of TRANSCEIVER_INFO|<interface> in the state database, as the OS fills them.
std::vector<std::pair<std::string, std::string>> transceiver_info(ModuleKind kind);

}  // namespace pltfm::sim
