// The module decoders on any byte image: identification, CMIS application descriptors and the
// media lane mask of every port shape. Each result is checked against the bytes that decide
// it: the family by byte 0, the cable type by the family's deciding byte, descriptors ending
// at the first unused one, and a mask that is one run of media lanes or nothing.
#include "fuzz_support.h"
#include "transceiver_decode.h"

namespace {

using namespace pltfm::decode;

void check_identification(std::span<const uint8_t> image) {
    const Identification id = identify(image);
    const uint8_t first = image.empty() ? 0 : image[0];
    FUZZ_CHECK(id.identifier == first);
    FUZZ_CHECK(id.module_line != nullptr);
    switch (first) {
        case sff8024::kIdQsfpDd:
            FUZZ_CHECK(id.family == Family::qsfp_dd);
            FUZZ_CHECK(id.cable_type.has_value());
            FUZZ_CHECK((*id.cable_type == CableType::optics) ==
                       (id.deciding_byte != cmis::kMediaPassiveCopper));
            break;
        case sff8024::kIdQsfp28:
        case sff8024::kIdQsfpPlus:
            FUZZ_CHECK(id.cable_type.has_value());
            FUZZ_CHECK(*id.cable_type != CableType::rj45);
            break;
        case sff8024::kIdSfp:
            FUZZ_CHECK(id.family == Family::sfp);
            FUZZ_CHECK(id.cable_type.has_value() ==
                       (id.deciding_byte == sff8024::kConnLc ||
                        id.deciding_byte == sff8024::kConnRj45 ||
                        id.deciding_byte == sff8024::kConnCopperPigtail ||
                        id.deciding_byte == sff8024::kConnNoSeparable));
            break;
        default:
            FUZZ_CHECK(id.family == Family::unknown);
            FUZZ_CHECK(!id.cable_type.has_value());
    }
    // A length belongs to a copper cable, and decides between its two classes.
    if (id.has_length) {
        FUZZ_CHECK(id.cable_type == CableType::dac_1m || id.cable_type == CableType::dac_3m);
        FUZZ_CHECK((id.cable_type == CableType::dac_1m) ==
                   (id.length_is_float ? id.length_m < 1.1 : id.length_whole_m <= 1));
    } else if (id.cable_type.has_value()) {
        FUZZ_CHECK(*id.cable_type == CableType::optics || *id.cable_type == CableType::rj45);
    }
}

void check_applications(std::span<const uint8_t> image) {
    const AppDescriptorList list = cmis_applications(image);
    FUZZ_CHECK(list.count >= 0 && list.count <= 15);
    for (int i = 0; i < list.count; ++i) {
        const AppDescriptor &d = list.apps[static_cast<std::size_t>(i)];
        FUZZ_CHECK(d.code == i + 1);
        FUZZ_CHECK(d.host_if != 0x00 && d.host_if != 0xFF);
        FUZZ_CHECK(d.host_lane_count <= 15 && d.media_lane_count <= 15);
    }
}

void check_masks(std::span<const uint8_t> image) {
    for (int32_t start = 0; start < cmis::kHostLanes; ++start) {
        for (int32_t lanes : {1, 2, 4, 8}) {
            const MediaLaneLayout m = media_lanes_from_image(image, start, lanes);
            if (m.failure != MaskFailure::none) {
                FUZZ_CHECK(m.mask == 0);
                continue;
            }
            FUZZ_CHECK(m.lanes_done == cmis::kHostLanes);
            FUZZ_CHECK(m.found >= 0 && m.found < cmis::kHostLanes);
            const DataPath &dp = m.data_path[static_cast<std::size_t>(m.found)];
            FUZZ_CHECK(dp.HostLaneStart == start && dp.HostLaneCount == lanes);
            // One run of set bits (or none, when the run starts beyond the eight lanes).
            const unsigned mask = m.mask;
            FUZZ_CHECK((mask & (mask + (mask & -mask))) == 0);
            FUZZ_CHECK((mask != 0) == (dp.MediaLaneStart < 8));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::span<const uint8_t> image(data, data != nullptr ? size : 0);
    check_identification(image);
    check_applications(image);
    check_masks(image);
    return 0;
}
