// Identity fields and checksums by memory map.
#include "module_fields.h"

#include <cctype>

namespace pltfm::tools {

namespace {

// A text field of the map: offset and width.
struct Field {
    int offset;
    int width;
};

// Where each map keeps its identity fields (SFF-8472 A0h; SFF-8636 and CMIS upper page 00h).
struct IdentityLayout {
    Field vendor, oui, part_number, revision, serial_number, date_code;
};
constexpr IdentityLayout kSff8472 = {{20, 16}, {37, 3}, {40, 16}, {56, 4}, {68, 16}, {84, 8}};
constexpr IdentityLayout kSff8636 = {{148, 16}, {165, 3}, {168, 16}, {184, 2}, {196, 16}, {212, 8}};
constexpr IdentityLayout kCmis = {{129, 16}, {145, 3}, {148, 16}, {164, 2}, {166, 16}, {182, 8}};

// A checksum: bytes first..last summed, stored at `at`.
struct Sum {
    const char *name;
    int first, last, at;
};
constexpr Sum kSff8472Sums[] = {{"CC_BASE", 0, 62, 63}, {"CC_EXT", 64, 94, 95}};
constexpr Sum kSff8636Sums[] = {{"CC_BASE", 128, 190, 191}, {"CC_EXT", 192, 222, 223}};
constexpr Sum kCmisPage0Sum = {"page 00h", 128, 221, 222};
// Paged CMIS modules: page 01h sums registers 130-254, page 02h 128-254; both store at 255.
constexpr Sum kCmisPagedSums[] = {{"page 01h", 128 + 130, 128 + 254, 128 + 255},
                                  {"page 02h", 256 + 128, 256 + 254, 256 + 255}};
constexpr int kCmisFlatMemoryByte = 2;  // bit 7: only page 00h exists
constexpr uint8_t kCmisFlatMemoryBit = 0x80;

MemoryMap map_of(uint8_t identifier) {
    switch (identifier) {
        case 0x03:  // SFP/SFP+/SFP28
            return MemoryMap::sff8472;
        case 0x0C:  // QSFP
        case 0x0D:  // QSFP+
        case 0x11:  // QSFP28
            return MemoryMap::sff8636;
        case 0x18:  // QSFP-DD
        case 0x19:  // OSFP
        case 0x1E:  // QSFP+ with CMIS
            return MemoryMap::cmis;
        default:
            return MemoryMap::none;
    }
}

uint8_t byte_at(std::span<const uint8_t> image, int offset) {
    return offset >= 0 && static_cast<std::size_t>(offset) < image.size()
               ? image[static_cast<std::size_t>(offset)]
               : 0;
}

std::string text(std::span<const uint8_t> image, Field f) {
    std::string out;
    for (int i = 0; i < f.width; ++i) {
        const uint8_t b = byte_at(image, f.offset + i);
        out += (b >= 0x20 && b < 0x7F) || b == 0 ? static_cast<char>(b) : '?';
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\0')) out.pop_back();
    for (char &c : out)
        if (c == '\0') c = '?';
    return out;
}

// "2022-10-18" from "221018..": two-digit year of this century, month 1-12, day 1-31.
std::string date_of(const std::string &code) {
    if (code.size() < 6) return "";
    for (int i = 0; i < 6; ++i)
        if (!std::isdigit(static_cast<unsigned char>(code[static_cast<std::size_t>(i)]))) return "";
    const int month = std::stoi(code.substr(2, 2));
    const int day = std::stoi(code.substr(4, 2));
    if (month < 1 || month > 12 || day < 1 || day > 31) return "";
    return "20" + code.substr(0, 2) + "-" + code.substr(2, 2) + "-" + code.substr(4, 2);
}

Checksum checksum(std::span<const uint8_t> image, const Sum &s) {
    Checksum c{s.name, s.first, s.last, s.at, byte_at(image, s.at), 0};
    unsigned sum = 0;
    for (int i = s.first; i <= s.last; ++i) sum += byte_at(image, i);
    c.computed = static_cast<uint8_t>(sum & 0xFFu);
    return c;
}

bool covers(std::span<const uint8_t> image, const Sum &s) {
    return image.size() > static_cast<std::size_t>(s.at);
}

}  // namespace

const char *memory_map_name(MemoryMap map) {
    switch (map) {
        case MemoryMap::sff8472:
            return "SFF-8472";
        case MemoryMap::sff8636:
            return "SFF-8636";
        case MemoryMap::cmis:
            return "CMIS";
        case MemoryMap::none:
            break;
    }
    return "unknown";
}

ModuleFields module_fields(std::span<const uint8_t> image) {
    ModuleFields f;
    f.map = map_of(byte_at(image, 0));
    // Some modules leave byte 0 blank; upper page 00h repeats the identifier at byte 128.
    if (f.map == MemoryMap::none && image.size() > 128) {
        const MemoryMap upper = map_of(byte_at(image, 128));
        if (upper == MemoryMap::sff8636 || upper == MemoryMap::cmis) {
            f.map = upper;
            f.identifier_offset = 128;
        }
    }
    const IdentityLayout *layout = f.map == MemoryMap::sff8472   ? &kSff8472
                                   : f.map == MemoryMap::sff8636 ? &kSff8636
                                   : f.map == MemoryMap::cmis    ? &kCmis
                                                                 : nullptr;
    if (layout == nullptr) return f;
    f.vendor = text(image, layout->vendor);
    f.part_number = text(image, layout->part_number);
    f.revision = text(image, layout->revision);
    f.serial_number = text(image, layout->serial_number);
    f.date_code = text(image, layout->date_code);
    f.date = date_of(f.date_code);
    for (int i = 0; i < 3; ++i)
        f.oui[static_cast<std::size_t>(i)] = byte_at(image, layout->oui.offset + i);
    return f;
}

std::string checksum_range(const Checksum &c) {
    if (c.at < 256)
        return "bytes " + std::to_string(c.first) + "-" + std::to_string(c.last) + ", stored at " +
               std::to_string(c.at);
    // Upper page p holds registers 128-255 at file offsets p * 128 + register.
    const int page = (c.at - 128) / 128;
    return "registers " + std::to_string(c.first - page * 128) + "-" +
           std::to_string(c.last - page * 128) + ", stored at " + std::to_string(c.at - page * 128);
}

std::vector<Checksum> checksums(std::span<const uint8_t> image, MemoryMap map) {
    std::vector<Checksum> out;
    auto add = [&](const Sum &s) {
        if (covers(image, s)) out.push_back(checksum(image, s));
    };
    switch (map) {
        case MemoryMap::sff8472:
            for (const Sum &s : kSff8472Sums) add(s);
            break;
        case MemoryMap::sff8636:
            for (const Sum &s : kSff8636Sums) add(s);
            break;
        case MemoryMap::cmis:
            add(kCmisPage0Sum);
            if ((byte_at(image, kCmisFlatMemoryByte) & kCmisFlatMemoryBit) == 0)
                for (const Sum &s : kCmisPagedSums) add(s);
            break;
        case MemoryMap::none:
            break;
    }
    return out;
}

}  // namespace pltfm::tools
