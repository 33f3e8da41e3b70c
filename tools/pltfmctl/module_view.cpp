// Display names of module identification.
#include "module_view.h"

#include <cstdio>

namespace pltfm::ctl {

namespace dec = pltfm::decode;

const char *family_name(dec::Family f) {
    switch (f) {
        case dec::Family::sfp:
            return "SFP/SFP+ (SFF-8472)";
        case dec::Family::qsfp_plus:
            return "QSFP+ (SFF-8636)";
        case dec::Family::qsfp28:
            return "QSFP28 (SFF-8636)";
        case dec::Family::qsfp_dd:
            return "QSFP-DD (CMIS)";
        case dec::Family::unknown:
            break;
    }
    return "unknown";
}

const char *deciding_field(uint8_t reg, dec::Family f) {
    if (f == dec::Family::qsfp_dd && reg == dec::cmis::kMediaType) return "module media type";
    if ((f == dec::Family::qsfp28 || f == dec::Family::qsfp_plus) &&
        reg == dec::sff8636::kTxTechnology) {
        return "transmitter technology (bits 7-4)";
    }
    if (f == dec::Family::sfp && reg == dec::sff8472::kConnector) return "connector code";
    return "identifier";
}

int length_register(dec::Family f) {
    return f == dec::Family::qsfp_dd ? dec::cmis::kCableLength
           : f == dec::Family::sfp   ? dec::sff8472::kCopperLength
                                     : dec::sff8636::kCopperLength;
}

std::string length_text(const dec::Identification &id) {
    char len[64];
    if (id.length_is_float)
        std::snprintf(len, sizeof len, "%f m", id.length_m);
    else
        std::snprintf(len, sizeof len, "%d m", id.length_whole_m);
    return len;
}

std::string hex(unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", value & 0xFFu);
    return buf;
}

}  // namespace pltfm::ctl
