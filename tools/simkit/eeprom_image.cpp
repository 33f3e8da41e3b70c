// Module memory-map image builder for SFP, QSFP+/QSFP28 and QSFP-DD layouts.
#include "eeprom_image.h"

#include <cmath>
#include <span>

namespace pltfm::test {

namespace {
std::size_t offset(uint8_t page, uint8_t reg) { return static_cast<std::size_t>(page) * 128 + reg; }
}  // namespace

EepromImage &EepromImage::set(uint8_t page, uint8_t reg, uint8_t value) {
    const std::size_t at = offset(page, reg);
    if (at >= bytes_.size()) bytes_.resize(at + 1, 0);
    bytes_[at] = value;
    return *this;
}

uint8_t EepromImage::get(uint8_t page, uint8_t reg) const {
    const std::size_t at = offset(page, reg);
    return at < bytes_.size() ? bytes_[at] : 0;
}

EepromImage &EepromImage::text(uint8_t reg, std::string_view value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        set(0, static_cast<uint8_t>(reg + i), i < value.size() ? static_cast<uint8_t>(value[i]) : ' ');
    return *this;
}

EepromImage &EepromImage::resize(std::size_t size) {
    bytes_.resize(size, 0);
    return *this;
}

EepromImage &EepromImage::identity(std::string_view vendor, std::string_view part_number,
                                   std::string_view revision, std::string_view serial_number,
                                   std::string_view date_code) {
    const uint8_t id = get(0, 0);
    const layout::IdentityFields &f = id == sff8024::kIdSfp      ? layout::kSfpIdentity
                                      : id == sff8024::kIdQsfpDd ? layout::kCmisIdentity
                                                                 : layout::kQsfpIdentity;
    text(f.vendor, vendor, 16);
    text(f.part_number, part_number, 16);
    text(f.revision, revision, f.revision_width);
    text(f.serial_number, serial_number, 16);
    return text(f.date_code, date_code, 8);
}

EepromImage &EepromImage::seal() {
    const uint8_t id = get(0, 0);
    const std::span<const layout::ChecksumSpan> spans =
        id == sff8024::kIdSfp      ? std::span<const layout::ChecksumSpan>(layout::kSfpChecksums)
        : id == sff8024::kIdQsfpDd ? std::span<const layout::ChecksumSpan>(layout::kCmisChecksums)
                                   : std::span<const layout::ChecksumSpan>(layout::kQsfpChecksums);
    for (const auto &c : spans) {
        if (offset(c.page, c.at) >= bytes_.size()) continue;
        unsigned sum = 0;
        for (int r = c.first; r <= c.last; ++r) sum += get(c.page, static_cast<uint8_t>(r));
        set(c.page, c.at, static_cast<uint8_t>(sum & 0xFFu));
    }
    return *this;
}

EepromImage &EepromImage::cmis_app(int code, uint8_t host_if, uint8_t media_if, int host_lanes,
                                   int media_lanes) {
    if (code < 1 || code > 15) return *this;
    uint8_t page = 0;
    int reg = layout::kCmisAppDesc1 + 4 * (code - 1);
    if (code >= 9) {
        page = 1;
        reg = layout::kCmisAppDesc9 + 4 * (code - 9);
    }
    const auto r = static_cast<uint8_t>(reg);
    set(page, r, host_if);
    set(page, static_cast<uint8_t>(r + 1), media_if);
    set(page, static_cast<uint8_t>(r + 2), static_cast<uint8_t>(((host_lanes & 0xF) << 4) | (media_lanes & 0xF)));
    set(page, static_cast<uint8_t>(r + 3), 0x01);  // host lane assignment options: lane 0
    return *this;
}

EepromImage &EepromImage::cmis_lane(int lane, int appsel, int data_path_id) {
    if (lane < 0 || lane > 7) return *this;
    return set(layout::kCmisPageDataPath, static_cast<uint8_t>(layout::kCmisStagedDpConfig + lane),
               static_cast<uint8_t>(((appsel & 0xF) << 4) | ((data_path_id & 0x7) << 1)));
}

EepromImage &EepromImage::cmis_data_path(int appsel, int first_lane, int count) {
    for (int l = first_lane; l < first_lane + count; ++l) cmis_lane(l, appsel, first_lane);
    return *this;
}

uint8_t cmis_length_code(double metres) {
    constexpr double kMult[4] = {0.1, 1.0, 10.0, 100.0};
    for (int code = 0; code < 4; ++code) {
        const double base = metres / kMult[code];
        const double rounded = std::round(base);
        if (rounded <= 63 && std::fabs(base - rounded) < 1e-6)
            return static_cast<uint8_t>((code << 6) | static_cast<int>(rounded));
    }
    for (int code = 1; code < 4; ++code) {
        const double base = std::round(metres / kMult[code]);
        if (base <= 63) return static_cast<uint8_t>((code << 6) | static_cast<int>(base));
    }
    return 0xFF;
}

static EepromImage cmis_base(uint8_t media_type, std::string_view part_number) {
    EepromImage img(kCmisImageSize);
    img.set(0, 0, sff8024::kIdQsfpDd);
    img.set(0, layout::kCmisMediaType, media_type);
    img.set(0, 128, sff8024::kIdQsfpDd);
    img.identity("ACME NETWORKS", part_number, "A1", "ACM2419000123", "240507");
    return img;
}

EepromImage qsfp_dd_optic(uint8_t media_type) {
    EepromImage img = cmis_base(media_type, "QDD-400G-DR4");
    img.set(0, layout::kCmisConnector, sff8024::kConnMpo);
    img.cmis_app(1, 0x11, 0x1A, 8, 8);  // 400GAUI-8, 400GBASE-DR4-like media id
    img.cmis_data_path(1, 0, 8);
    img.cmis_tx_disable(0xFF);
    return img.seal();
}

EepromImage qsfp_dd_optic_breakout(int ports) {
    EepromImage img = qsfp_dd_optic();
    if (ports != 1 && ports != 2 && ports != 4 && ports != 8) return img;
    const int lanes = 8 / ports;
    img.cmis_app(2, 0x0D, 0x14, lanes, lanes);
    for (int p = 0; p < ports; ++p) img.cmis_data_path(2, p * lanes, lanes);
    return img.seal();
}

// A QSFP-DD cable assembly (no separable connector) of one 8-lane application.
static EepromImage qsfp_dd_cable(uint8_t media_type, double metres) {
    EepromImage img = cmis_base(media_type, media_type == cmis_media::kPassiveCopper
                                                ? "QDD-400G-CU"
                                                : "QDD-400G-AC");
    img.set(0, layout::kCmisConnector, sff8024::kConnNoSeparable);
    img.cmis_length_byte(cmis_length_code(metres));
    img.cmis_app(1, 0x11, 0x01, 8, 8);
    img.cmis_data_path(1, 0, 8);
    return img.seal();
}

EepromImage qsfp_dd_dac(double metres) { return qsfp_dd_cable(cmis_media::kPassiveCopper, metres); }

EepromImage qsfp_dd_active(double metres) { return qsfp_dd_cable(cmis_media::kActiveCable, metres); }

static EepromImage sff8636(uint8_t id, uint8_t tech, uint8_t connector, int metres) {
    EepromImage img(256);
    img.set(0, 0, id);
    img.set(0, 128, id);
    img.set(0, layout::kQsfpConnector, connector);
    img.set(0, layout::kQsfpCopperLength, static_cast<uint8_t>(metres));
    img.set(0, layout::kQsfpTxTechnology, tech);
    img.identity("ACME NETWORKS", id == sff8024::kIdQsfp28 ? "Q28-100G" : "QSFP-40G", "B", "ACM2318000456",
                 "230502");
    return img.seal();
}

EepromImage qsfp28_dac(int metres) { return sff8636(sff8024::kIdQsfp28, 0xA0, sff8024::kConnNoSeparable, metres); }
EepromImage qsfp_plus_dac(int metres) { return sff8636(sff8024::kIdQsfpPlus, 0xA0, sff8024::kConnNoSeparable, metres); }
// The TX disable register (86) lies outside the checksummed bytes.
EepromImage qsfp28_optic() { return sff8636(sff8024::kIdQsfp28, 0x00, sff8024::kConnMpo, 0).set(0, layout::kQsfpTxDisable, 0x0F); }
EepromImage qsfp_plus_optic() { return sff8636(sff8024::kIdQsfpPlus, 0x00, sff8024::kConnMpo, 0).set(0, layout::kQsfpTxDisable, 0x0F); }
EepromImage qsfp28_active_copper(int metres) { return sff8636(sff8024::kIdQsfp28, 0xC0, sff8024::kConnNoSeparable, metres); }

static EepromImage sff8472(uint8_t connector, int metres) {
    EepromImage img(256);
    img.set(0, 0, sff8024::kIdSfp);
    img.set(0, 1, 0x04);
    img.set(0, layout::kSfpConnector, connector);
    img.set(0, layout::kSfpCopperLength, static_cast<uint8_t>(metres));
    img.identity("ACME NETWORKS", "SFP-10G", "1.0", "ACM2207000789", "220715");
    return img.seal();
}

EepromImage sfp_optic() { return sff8472(sff8024::kConnLc, 0); }
EepromImage sfp_rj45() { return sff8472(sff8024::kConnRj45, 0); }
EepromImage sfp_dac(int metres, uint8_t connector) { return sff8472(connector, metres); }

}  // namespace pltfm::test
