// Builder of module memory-map images as the i2c sysfs file presents them: flat, with page p
// register r at offset p * 128 + r. Layouts: SFF-8024 codes, SFF-8472 (SFP), SFF-8636
// (QSFP+/QSFP28) and CMIS (QSFP-DD), with identity fields and valid checksums. No test
// framework inside.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pltfm::test {

// SFF-8024 identifier (byte 0) and connector codes.
namespace sff8024 {
inline constexpr uint8_t kIdSfp = 0x03;
inline constexpr uint8_t kIdQsfpPlus = 0x0D;
inline constexpr uint8_t kIdQsfp28 = 0x11;
inline constexpr uint8_t kIdQsfpDd = 0x18;
inline constexpr uint8_t kConnLc = 0x07;
inline constexpr uint8_t kConnOpticalPigtail = 0x0B;
inline constexpr uint8_t kConnMpo = 0x0C;
inline constexpr uint8_t kConnCopperPigtail = 0x21;
inline constexpr uint8_t kConnRj45 = 0x22;
inline constexpr uint8_t kConnNoSeparable = 0x23;
}  // namespace sff8024

// Register addresses the builder fills (page, register). Written out here rather than taken
// from the library's decoder, so that a wrong address there fails the tests built on these.
namespace layout {
inline constexpr uint8_t kSfpConnector = 2;        // SFF-8472 A0h byte 2
inline constexpr uint8_t kSfpCopperLength = 18;    // SFF-8472 byte 18, metres
inline constexpr uint8_t kQsfpTxDisable = 86;      // SFF-8636 page 0 byte 86, bit k = lane k
inline constexpr uint8_t kQsfpConnector = 130;     // SFF-8636 byte 130
inline constexpr uint8_t kQsfpCopperLength = 146;  // SFF-8636 byte 146, metres
inline constexpr uint8_t kQsfpTxTechnology = 147;  // SFF-8636 byte 147, bits 7-4
inline constexpr uint8_t kCmisMediaType = 85;      // CMIS page 0 byte 85
inline constexpr uint8_t kCmisAppDesc1 = 86;       // CMIS page 0 bytes 86.., 4 bytes per app 1-8
inline constexpr uint8_t kCmisAppDesc9 = 223;      // CMIS page 1 bytes 223.., apps 9-15
inline constexpr uint8_t kCmisLength = 202;        // CMIS page 0 byte 202: bits 7-6 mult, 5-0 base
inline constexpr uint8_t kCmisConnector = 203;     // CMIS page 0 byte 203
inline constexpr uint8_t kCmisPageDataPath = 0x10;
inline constexpr uint8_t kCmisTxDisable = 130;     // page 16 byte 130, bit k = media lane k
inline constexpr uint8_t kCmisStagedDpConfig = 145;  // page 16 bytes 145-152, one per host lane
// Identity fields (vendor name, part number, revision, serial number, date code): first byte
// of each in page 0 (SFF-8472 A0h; SFF-8636 and CMIS upper page 00h).
struct IdentityFields {
    uint8_t vendor, part_number, revision, revision_width, serial_number, date_code;
};
inline constexpr IdentityFields kSfpIdentity = {20, 40, 56, 4, 68, 84};
inline constexpr IdentityFields kQsfpIdentity = {148, 168, 184, 2, 196, 212};
inline constexpr IdentityFields kCmisIdentity = {129, 148, 164, 2, 166, 182};
// Checksums: the low 8 bits of the sum of bytes first..last of a page, stored at `at`.
struct ChecksumSpan {
    uint8_t page, first, last, at;
};
inline constexpr ChecksumSpan kSfpChecksums[] = {{0, 0, 62, 63}, {0, 64, 94, 95}};
inline constexpr ChecksumSpan kQsfpChecksums[] = {{0, 128, 190, 191}, {0, 192, 222, 223}};
// Page 00h always; pages 01h and 02h when the image holds them.
inline constexpr ChecksumSpan kCmisChecksums[] = {{0, 128, 221, 222}, {1, 130, 254, 255},
                                                  {2, 128, 254, 255}};
}  // namespace layout

// CMIS module media type codes (byte 85).
namespace cmis_media {
inline constexpr uint8_t kMultiModeFibre = 0x01;
inline constexpr uint8_t kSingleModeFibre = 0x02;
inline constexpr uint8_t kPassiveCopper = 0x03;
inline constexpr uint8_t kActiveCable = 0x04;
}  // namespace cmis_media

class EepromImage {
public:
    // A zeroed image of `size` bytes.
    explicit EepromImage(std::size_t size = 256) : bytes_(size, 0) {}

    // Byte at (page, reg); grows the image when needed.
    EepromImage &set(uint8_t page, uint8_t reg, uint8_t value);
    uint8_t get(uint8_t page, uint8_t reg) const;
    // Writes text into consecutive bytes of page 0, padded with blanks to `width`.
    EepromImage &text(uint8_t reg, std::string_view value, std::size_t width);
    // Cuts or extends the image to `size` bytes (short files).
    EepromImage &resize(std::size_t size);

    // Vendor name, part number, revision, serial number and date code (YYMMDD + lot) in the
    // layout of the identifier in byte 0; blank-padded.
    EepromImage &identity(std::string_view vendor, std::string_view part_number,
                          std::string_view revision, std::string_view serial_number,
                          std::string_view date_code);
    // Writes every checksum of the layout of byte 0 that the image holds. The factories below
    // end with it; a test that changes covered bytes afterwards gets wrong checksums.
    EepromImage &seal();

    // --- CMIS (QSFP-DD) -------------------------------------------------------------------
    // Application `code` (1 to 15): host/media interface ids and lane counts.
    EepromImage &cmis_app(int code, uint8_t host_if, uint8_t media_if, int host_lanes, int media_lanes);
    // Staged data path configuration of host lane `lane`: AppSel code and DataPathID (first
    // host lane of the lane's data path).
    EepromImage &cmis_lane(int lane, int appsel, int data_path_id);
    // Host lanes first..first+count-1 form one data path of application `appsel`.
    EepromImage &cmis_data_path(int appsel, int first_lane, int count);
    EepromImage &cmis_tx_disable(uint8_t value) { return set(layout::kCmisPageDataPath, layout::kCmisTxDisable, value); }
    // Raw length byte 202.
    EepromImage &cmis_length_byte(uint8_t value) { return set(0, layout::kCmisLength, value); }

    const std::vector<uint8_t> &bytes() const { return bytes_; }
    std::string str() const { return std::string(bytes_.begin(), bytes_.end()); }

private:
    std::vector<uint8_t> bytes_;
};

// Size of a CMIS image that holds pages 0, 1 and 16 (up to page 16 register 255).
inline constexpr std::size_t kCmisImageSize = 16 * 128 + 256;

// CMIS length byte for a cable length in metres: the smallest multiplier (0.1, 1, 10, 100)
// whose base (0 to 63) gives the length exactly, else the nearest with multiplier 1 or more.
uint8_t cmis_length_code(double metres);

// QSFP-DD optical module, 8 host lanes on application 1 (8 host lanes, 8 media lanes),
// all lanes staged on application 1, data path 0, all transmitters disabled (0xFF).
EepromImage qsfp_dd_optic(uint8_t media_type = cmis_media::kSingleModeFibre);
// QSFP-DD broken out: `ports` data paths of 8/ports host lanes each, application 2 with
// 8/ports host and media lanes per data path (ports = 1, 2, 4 or 8).
EepromImage qsfp_dd_optic_breakout(int ports);
// QSFP-DD passive copper cable of the given length.
EepromImage qsfp_dd_dac(double metres);
// QSFP-DD active cable (media type 0x04).
EepromImage qsfp_dd_active(double metres);

// SFF-8636: transmitter technology 0xA0 (copper unequalised) for DACs.
EepromImage qsfp28_dac(int metres);
EepromImage qsfp_plus_dac(int metres);
// Optics: transmitter technology 0x00 (850 nm VCSEL), MPO connector, TX disable 0x0F.
EepromImage qsfp28_optic();
EepromImage qsfp_plus_optic();
// Active copper (transmitter technology 0xC0): counts as optics.
EepromImage qsfp28_active_copper(int metres);

// SFF-8472.
EepromImage sfp_optic();
EepromImage sfp_rj45();
EepromImage sfp_dac(int metres, uint8_t connector = sff8024::kConnCopperPigtail);

}  // namespace pltfm::test
