// What an engineer reads first from a module memory map: vendor name and OUI, part number,
// revision, serial number and date code, and the checksums the map defines (SFF-8472 and
// SFF-8636 base and extended, CMIS page checksums). Pure decoding of a flat image (page p
// register r at offset p * 128 + r); display only, the library identifies modules itself.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pltfm::tools {

enum class MemoryMap { none, sff8472, sff8636, cmis };
const char *memory_map_name(MemoryMap map);  // "SFF-8472", "SFF-8636", "CMIS", "unknown"

struct ModuleFields {
    MemoryMap map = MemoryMap::none;
    int identifier_offset = 0;  // the byte that named the map: 0, or 128 when byte 0 did not
    // Printable ASCII; other bytes show as '?'; trailing blanks and NULs removed.
    std::string vendor, part_number, revision, serial_number, date_code;
    std::string date;  // "2022-10-18" when the date code starts with YYMMDD, else empty
    std::array<uint8_t, 3> oui{};
};
ModuleFields module_fields(std::span<const uint8_t> image);

struct Checksum {
    std::string name;  // "CC_BASE", "CC_EXT", "page 00h", "page 01h", "page 02h"
    int first = 0;     // file offsets of the bytes summed, first to last
    int last = 0;
    int at = 0;  // file offset of the stored checksum
    uint8_t stored = 0;
    uint8_t computed = 0;  // low 8 bits of the sum
    bool ok() const { return stored == computed; }
};
// "bytes 128-190, stored at 191"; for a page above 00h its registers, "registers 130-254,
// stored at 255".
std::string checksum_range(const Checksum &c);

// The checksums of the map that the image covers (CMIS pages 01h and 02h only for a paged
// module whose image holds them).
std::vector<Checksum> checksums(std::span<const uint8_t> image, MemoryMap map);

}  // namespace pltfm::tools
