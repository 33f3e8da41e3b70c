// Pure decoders of module memory maps, shared by the library and its tools: cable-type
// identification of a 256-byte image (lower memory + upper page 0), CMIS application
// descriptors, and a CMIS port's media lanes read through a byte-reader callback.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace pltfm::decode {

// --- Register map ------------------------------------------------------------------------
namespace sff8024 {
inline constexpr uint8_t kIdSfp = 0x03;       // SFP/SFP+ (SFF-8472)
inline constexpr uint8_t kIdQsfpPlus = 0x0D;  // QSFP+ (SFF-8636)
inline constexpr uint8_t kIdQsfp28 = 0x11;    // QSFP28 (SFF-8636)
inline constexpr uint8_t kIdQsfpDd = 0x18;    // QSFP-DD (CMIS)
inline constexpr uint8_t kConnLc = 0x07;
inline constexpr uint8_t kConnCopperPigtail = 0x21;
inline constexpr uint8_t kConnRj45 = 0x22;
inline constexpr uint8_t kConnNoSeparable = 0x23;
}  // namespace sff8024

namespace sff8472 {
inline constexpr uint8_t kConnector = 2;       // connector code (SFF-8024)
inline constexpr uint8_t kCopperLength = 18;   // copper cable length, metres
}  // namespace sff8472

namespace sff8636 {
inline constexpr uint8_t kTxDisable = 86;      // page 0: bit k disables the transmitter of lane k
inline constexpr uint8_t kCopperLength = 146;  // cable length, metres
inline constexpr uint8_t kTxTechnology = 147;  // bits 7-4: transmitter technology
// Transmitter technology 1010b (copper unequalised) or 1011b (copper passive equalised).
inline constexpr uint8_t kPassiveCopperTech = 0xA;
}  // namespace sff8636

namespace cmis {
inline constexpr uint8_t kMediaType = 85;               // page 0: module media type
inline constexpr uint8_t kMediaPassiveCopper = 0x03;
inline constexpr uint8_t kCableLength = 202;            // page 0: bits 7-6 multiplier, 5-0 base
inline constexpr uint8_t kAppLaneCounts1 = 88;          // page 0: lane counts of application 1
inline constexpr uint8_t kPageDataPath = 0x10;          // page 16
inline constexpr uint8_t kTxDisable = 130;              // page 16: bit k disables media lane k
inline constexpr uint8_t kStagedDpConfig = 145;         // page 16: 145 + host lane
inline constexpr int kHostLanes = 8;
inline constexpr int kAppCodes = 16;
// Multiplier of the cable length base, by the two-bit multiplier code (single precision).
inline constexpr std::array<float, 4> length_power = {0.1f, 1.0f, 10.0f, 100.0f};

// Register (page, reg) of the lane counts of the application with code 0 to 15.
struct Reg {
    uint8_t page;
    uint8_t reg;
};
constexpr Reg app_lane_count_reg(int code) {
    if (code <= 8) return {0, static_cast<uint8_t>(84 + 4 * code)};
    return {1, static_cast<uint8_t>(225 + 4 * (code - 9))};
}
}  // namespace cmis

// --- Identification ----------------------------------------------------------------------
enum class Family { unknown, sfp, qsfp_plus, qsfp28, qsfp_dd };
enum class CableType { optics, dac_1m, dac_3m, rj45 };

// Cable type key texts: "OPTICS", "DAC_1M", "DAC_3M", "RJ45".
const char *cable_type_text(CableType t);

struct Identification {
    uint8_t identifier = 0;  // byte 0 ("spec_flag")
    Family family = Family::unknown;
    // The byte that decided: CMIS media type (85), SFF-8636 transmitter technology (147) or
    // SFF-8472 connector (2); 0 for an unknown family.
    uint8_t deciding_byte = 0;
    uint8_t deciding_reg = 0;
    std::optional<CableType> cable_type;  // nullopt: not identified
    // Cable length of a direct-attach cable: CMIS as single-precision metres widened to double,
    // SFF-8636/8472 as whole metres; which one was used is in length_is_float.
    bool has_length = false;
    bool length_is_float = false;
    double length_m = 0.0;
    int length_whole_m = 0;
    uint8_t length_byte = 0;
    // The module log line: "QSFP-DD Optics", "QSFP28 DAC cabletype 1M", "SFP+ RJ45", ... or
    // "Error! Could not get transceiver info!" when not identified.
    const char *module_line = nullptr;
};

// Classifies a module image (bytes beyond the span read as 0). Pure: no I/O, no logging.
Identification identify(std::span<const uint8_t> image);

// --- CMIS application descriptors (for tools) ----------------------------------------------
struct AppDescriptor {
    int code = 0;             // AppSel code 1 to 15
    uint8_t host_if = 0;      // host electrical interface id
    uint8_t media_if = 0;     // module media interface id
    uint8_t host_lane_count = 0;
    uint8_t media_lane_count = 0;
    uint8_t host_lane_options = 0;  // host lane assignment options
};
// Descriptors of codes 1 to 15 from a flat image (page 0 from byte 86, page 1 from byte 223);
// the list ends at the first descriptor whose host interface id is 0x00 or 0xFF.
struct AppDescriptorList {
    std::array<AppDescriptor, 15> apps{};
    int count = 0;
};
AppDescriptorList cmis_applications(std::span<const uint8_t> flat_image);

// --- CMIS media lanes ------------------------------------------------------------------------
// Reads one byte at (page, reg); nullopt when the read failed.
class ByteReader {
public:
    template <class F>
    ByteReader(F &f) : obj_(&f), call_([](void *o, uint8_t p, uint8_t r) -> std::optional<uint8_t> {
                           return (*static_cast<F *>(o))(p, r);
                       }) {}
    std::optional<uint8_t> operator()(uint8_t page, uint8_t reg) const { return call_(obj_, page, reg); }

private:
    void *obj_;
    std::optional<uint8_t> (*call_)(void *, uint8_t, uint8_t);
};

struct AppSelLane {
    uint8_t AppSelCode = 0;
    uint8_t DataPathID = 0;
};
struct AppLaneCounts {
    uint8_t HostLaneCount = 0;
    uint8_t MediaLaneCount = 0;
};
struct DataPath {
    int32_t HostLaneStart = 0;
    int32_t HostLaneCount = 0;
    int32_t MediaLaneStart = 0;
    int32_t MediaLaneCount = 0;
};

enum class MaskFailure {
    none,
    default_lane_count,  // page 0 register 88 unreadable
    appsel_lane,         // staged configuration of host lane `failed_lane` unreadable
    lane_count,          // lane counts of application `failed_code` unreadable
    start_lane_not_found,
    lane_count_mismatch,
    no_media_lanes,
};

// Everything one mask computation read and derived, in the order it happened, so a caller can
// log or display it: per host lane the staged byte, whether the application's lane counts were
// read at that lane (and the byte), and the resulting data path.
struct MediaLaneLayout {
    uint8_t default_lane_count = 0;
    std::array<uint8_t, cmis::kHostLanes> staged_byte{};
    std::array<AppSelLane, cmis::kHostLanes> appsel_lane{};
    std::array<AppLaneCounts, cmis::kAppCodes> app_desc{};
    std::array<bool, cmis::kHostLanes> lane_count_read{};   // counts read at this lane
    std::array<uint8_t, cmis::kHostLanes> lane_count_byte{};
    std::array<DataPath, cmis::kHostLanes> data_path{};
    int lanes_done = 0;  // host lanes whose data path was filled
    int found = -1;      // data path entry matching the port's start lane
    MaskFailure failure = MaskFailure::none;
    int failed_lane = -1;
    int failed_code = -1;
    uint8_t mask = 0;    // media lanes of the port; 0 on any failure
};

// Media lane assignment of the port (start_lane, num_lanes) of a CMIS module: host lanes take
// media lanes in order, one run of MediaLaneCount per completed group of HostLaneCount host
// lanes; the mask is the run of the data path that starts at start_lane.
MediaLaneLayout media_lanes(ByteReader read, int32_t start_lane, int32_t num_lanes);
// The same from a flat image (bytes beyond it read as failures).
MediaLaneLayout media_lanes_from_image(std::span<const uint8_t> flat_image, int32_t start_lane,
                                       int32_t num_lanes);

}  // namespace pltfm::decode
