// Names and numbers of module identification for display, shared by the eeprom and explain
// commands: the family, the field whose byte decided the cable type, hexadecimal bytes.
#pragma once

#include <string>

#include "transceiver_decode.h"

namespace pltfm::ctl {

const char *family_name(decode::Family f);
// The field at register `reg` that decided a module of family `f`.
const char *deciding_field(uint8_t reg, decode::Family f);
// The register that holds the cable length of family `f`.
int length_register(decode::Family f);
// "%f m" for a CMIS length, "%d m" for a whole-metre one, as the library logs it.
std::string length_text(const decode::Identification &id);
// "0x1F"
std::string hex(unsigned value);

}  // namespace pltfm::ctl
