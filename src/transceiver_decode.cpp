// Pure decoders of module memory maps: identification, CMIS applications and media lanes.
#include "transceiver_decode.h"

namespace pltfm::decode {

namespace {

uint8_t byte_at(std::span<const uint8_t> image, std::size_t offset) {
    return offset < image.size() ? image[offset] : 0;
}

// Passive copper cable by whole metres: 0 or 1 is the 1 m class, anything longer the 3 m class.
CableType dac_by_metres(int metres) { return metres <= 1 ? CableType::dac_1m : CableType::dac_3m; }

struct FamilyTexts {
    const char *optics;
    const char *dac_1m;
    const char *dac_3m;
};
constexpr FamilyTexts kQsfpDdTexts{"QSFP-DD Optics", "QSFP-DD DAC cabletype 1M", "QSFP-DD DAC cabletype 3M"};
constexpr FamilyTexts kQsfp28Texts{"QSFP28 Optics", "QSFP28 DAC cabletype 1M", "QSFP28 DAC cabletype 3M"};
constexpr FamilyTexts kQsfpPlusTexts{"QSFP+ Optics", "QSFP+ DAC cabletype 1M", "QSFP+ DAC cabletype 3M"};
constexpr FamilyTexts kSfpTexts{"SFP+ Optics", "SFP+ DAC cabletype 1M", "SFP+ DAC cabletype 3M"};
constexpr const char *kSfpRj45Text = "SFP+ RJ45";
constexpr const char *kNotIdentifiedText = "Error! Could not get transceiver info!";

void set_result(Identification &id, CableType type, const FamilyTexts &texts) {
    id.cable_type = type;
    switch (type) {
        case CableType::optics: id.module_line = texts.optics; break;
        case CableType::dac_1m: id.module_line = texts.dac_1m; break;
        case CableType::dac_3m: id.module_line = texts.dac_3m; break;
        case CableType::rj45: id.module_line = kSfpRj45Text; break;
    }
}

void identify_sff8636(std::span<const uint8_t> image, Identification &id, const FamilyTexts &texts) {
    id.deciding_reg = sff8636::kTxTechnology;
    id.deciding_byte = byte_at(image, sff8636::kTxTechnology);
    if (((id.deciding_byte >> 4) & 0xE) != sff8636::kPassiveCopperTech) {
        set_result(id, CableType::optics, texts);
        return;
    }
    id.has_length = true;
    id.length_byte = byte_at(image, sff8636::kCopperLength);
    id.length_whole_m = id.length_byte;
    id.length_m = id.length_whole_m;
    set_result(id, dac_by_metres(id.length_whole_m), texts);
}

}  // namespace

const char *cable_type_text(CableType t) {
    switch (t) {
        case CableType::optics: return "OPTICS";
        case CableType::dac_1m: return "DAC_1M";
        case CableType::dac_3m: return "DAC_3M";
        case CableType::rj45: return "RJ45";
    }
    return "";
}

Identification identify(std::span<const uint8_t> image) {
    Identification id;
    id.identifier = byte_at(image, 0);
    id.module_line = kNotIdentifiedText;
    switch (id.identifier) {
        case sff8024::kIdQsfpDd: {
            id.family = Family::qsfp_dd;
            id.deciding_reg = cmis::kMediaType;
            id.deciding_byte = byte_at(image, cmis::kMediaType);
            if (id.deciding_byte != cmis::kMediaPassiveCopper) {
                set_result(id, CableType::optics, kQsfpDdTexts);
                break;
            }
            id.has_length = true;
            id.length_is_float = true;
            id.length_byte = byte_at(image, cmis::kCableLength);
            const auto length_base = static_cast<float>(id.length_byte & 0x3F);
            const int length_bit = id.length_byte >> 6;
            const float length = length_base * cmis::length_power[static_cast<std::size_t>(length_bit)];
            id.length_m = static_cast<double>(length);
            id.length_whole_m = static_cast<int>(length);
            set_result(id, id.length_m < 1.1 ? CableType::dac_1m : CableType::dac_3m, kQsfpDdTexts);
            break;
        }
        case sff8024::kIdQsfp28:
            id.family = Family::qsfp28;
            identify_sff8636(image, id, kQsfp28Texts);
            break;
        case sff8024::kIdQsfpPlus:
            id.family = Family::qsfp_plus;
            identify_sff8636(image, id, kQsfpPlusTexts);
            break;
        case sff8024::kIdSfp: {
            id.family = Family::sfp;
            id.deciding_reg = sff8472::kConnector;
            id.deciding_byte = byte_at(image, sff8472::kConnector);
            switch (id.deciding_byte) {
                case sff8024::kConnCopperPigtail:
                case sff8024::kConnNoSeparable:
                    id.has_length = true;
                    id.length_byte = byte_at(image, sff8472::kCopperLength);
                    id.length_whole_m = id.length_byte;
                    id.length_m = id.length_whole_m;
                    set_result(id, dac_by_metres(id.length_whole_m), kSfpTexts);
                    break;
                case sff8024::kConnRj45: set_result(id, CableType::rj45, kSfpTexts); break;
                case sff8024::kConnLc: set_result(id, CableType::optics, kSfpTexts); break;
                default: break;
            }
            break;
        }
        default: break;
    }
    return id;
}

AppDescriptorList cmis_applications(std::span<const uint8_t> flat_image) {
    AppDescriptorList list;
    for (int code = 1; code <= 15; ++code) {
        const std::size_t base = code <= 8 ? static_cast<std::size_t>(86 + 4 * (code - 1))
                                           : static_cast<std::size_t>(128 + 223 + 4 * (code - 9));
        AppDescriptor d;
        d.code = code;
        d.host_if = byte_at(flat_image, base);
        if (d.host_if == 0x00 || d.host_if == 0xFF) break;
        d.media_if = byte_at(flat_image, base + 1);
        const uint8_t counts = byte_at(flat_image, base + 2);
        d.host_lane_count = static_cast<uint8_t>(counts >> 4);
        d.media_lane_count = static_cast<uint8_t>(counts & 0x0F);
        d.host_lane_options = byte_at(flat_image, base + 3);
        list.apps[static_cast<std::size_t>(list.count++)] = d;
    }
    return list;
}

MediaLaneLayout media_lanes(ByteReader read, int32_t start_lane, int32_t num_lanes) {
    MediaLaneLayout out;
    auto default_count = read(0, cmis::kAppLaneCounts1);
    if (!default_count) {
        out.failure = MaskFailure::default_lane_count;
        return out;
    }
    out.default_lane_count = *default_count;

    uint8_t media_lane_start = 0;
    uint8_t host_lane_alloc = 0;
    for (int i = 0; i < cmis::kHostLanes; ++i) {
        const auto lane = static_cast<std::size_t>(i);
        auto staged = read(cmis::kPageDataPath, static_cast<uint8_t>(cmis::kStagedDpConfig + i));
        if (!staged) {
            out.failure = MaskFailure::appsel_lane;
            out.failed_lane = i;
            return out;
        }
        out.staged_byte[lane] = *staged;
        AppSelLane &sel = out.appsel_lane[lane];
        sel.AppSelCode = static_cast<uint8_t>(*staged >> 4);
        sel.DataPathID = static_cast<uint8_t>((*staged >> 1) & 0x7);

        AppLaneCounts &app = out.app_desc[sel.AppSelCode];
        if (app.HostLaneCount == 0) {
            const cmis::Reg reg = cmis::app_lane_count_reg(sel.AppSelCode);
            auto counts = read(reg.page, reg.reg);
            if (!counts) {
                out.failure = MaskFailure::lane_count;
                out.failed_lane = i;
                out.failed_code = sel.AppSelCode;
                return out;
            }
            out.lane_count_read[lane] = true;
            out.lane_count_byte[lane] = *counts;
            app.HostLaneCount = static_cast<uint8_t>(*counts >> 4);
            app.MediaLaneCount = static_cast<uint8_t>(*counts & 0x0F);
        }

        DataPath &dp = out.data_path[lane];
        dp.HostLaneStart = sel.DataPathID;
        dp.HostLaneCount = app.HostLaneCount;
        dp.MediaLaneStart = media_lane_start;
        dp.MediaLaneCount = app.MediaLaneCount;
        out.lanes_done = i + 1;

        ++host_lane_alloc;
        if (host_lane_alloc >= app.HostLaneCount) {
            media_lane_start = static_cast<uint8_t>(media_lane_start + app.MediaLaneCount);
            host_lane_alloc = 0;
        }
    }

    for (int j = 0; j < cmis::kHostLanes; ++j) {
        if (out.data_path[static_cast<std::size_t>(j)].HostLaneStart == start_lane) {
            out.found = j;
            break;
        }
    }
    if (out.found < 0) {
        out.failure = MaskFailure::start_lane_not_found;
        return out;
    }
    const DataPath &dp = out.data_path[static_cast<std::size_t>(out.found)];
    if (dp.HostLaneCount != num_lanes) {
        out.failure = MaskFailure::lane_count_mismatch;
        return out;
    }
    if (dp.MediaLaneCount == 0) {
        out.failure = MaskFailure::no_media_lanes;
        return out;
    }
    if (dp.MediaLaneStart < 8) {
        const uint64_t run = (uint64_t{1} << dp.MediaLaneCount) - 1;
        out.mask = static_cast<uint8_t>((run << dp.MediaLaneStart) & 0xFF);
    }
    return out;
}

MediaLaneLayout media_lanes_from_image(std::span<const uint8_t> flat_image, int32_t start_lane,
                                       int32_t num_lanes) {
    auto reader = [flat_image](uint8_t page, uint8_t reg) -> std::optional<uint8_t> {
        const std::size_t at = static_cast<std::size_t>(page) * 128 + reg;
        if (at >= flat_image.size()) return std::nullopt;
        return flat_image[at];
    };
    return media_lanes(ByteReader(reader), start_lane, num_lanes);
}

}  // namespace pltfm::decode
