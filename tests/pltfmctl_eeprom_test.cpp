// pltfmctl eeprom on images from the fixtures' builder (cable type and deciding byte of each
// family, CMIS data paths and media lane mask) and on the real module images of
// tests/data/eeprom (identity fields against their manifest, checksums, corrupted copies).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "eeprom_image.h"
#include "test_util.h"
#include "tool_run.h"

using namespace pltfm::test;

namespace {

nlohmann::json decode(const EepromImage &image, std::vector<std::string> extra = {},
                      int expected_exit = 0) {
    TempDir dir;
    write_file(dir / "eeprom", image.str());
    std::vector<std::string> args = {"eeprom", dir / "eeprom", "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun r = run_tool("pltfmctl", args);
    EXPECT_EQ(r.exit_code, expected_exit) << r.err;
    return r.out.empty() ? nlohmann::json() : nlohmann::json::parse(r.out);
}

}  // namespace

TEST(PltfmctlEeprom, IdentifiesModulesAsTheLibraryDoes) {
    struct Case {
        EepromImage image;
        const char *cable_type, *line;
        int deciding_offset;
    };
    const Case cases[] = {
        {qsfp_dd_dac(3.0), "DAC_3M", "QSFP-DD DAC cabletype 3M", 85},
        {qsfp_dd_optic(), "OPTICS", "QSFP-DD Optics", 85},
        {qsfp28_dac(1), "DAC_1M", "QSFP28 DAC cabletype 1M", 147},
        {qsfp_plus_dac(2), "DAC_3M", "QSFP+ DAC cabletype 3M", 147},
        {sfp_rj45(), "RJ45", "SFP+ RJ45", 2},
    };
    for (const Case &c : cases) {
        const auto doc = decode(c.image);
        EXPECT_EQ(doc["cable_type"], c.cable_type) << c.line;
        EXPECT_EQ(doc["library_line"], c.line);
        EXPECT_EQ(doc["deciding_byte"]["offset"], c.deciding_offset) << c.line;
    }
    const auto unknown = decode(EepromImage(256), {}, 1);
    EXPECT_EQ(unknown["library_line"], "Error! Could not get transceiver info!");
    EXPECT_EQ(run_tool("pltfmctl", {"eeprom", "/nonexistent/eeprom"}).exit_code, 2);
}

TEST(PltfmctlEeprom, CmisBreakoutShowsDataPathsAndMediaLaneMask) {
    // Four data paths of 2 host lanes on application 2; the port at lane 4 has media lanes 4-5.
    const auto doc = decode(qsfp_dd_optic_breakout(4), {"--start-lane", "4"});
    EXPECT_EQ(doc["host_lanes"][5]["host_lane_start"], 4);
    EXPECT_EQ(doc["host_lanes"][5]["app"], 2);
    EXPECT_EQ(doc["port"]["lanes"], 2);  // taken from the data path at lane 4
    EXPECT_EQ(doc["port"]["media_lane_mask"], 0x30);
    const auto full = decode(qsfp_dd_optic(), {"--start-lane", "0", "--lanes", "8"});
    EXPECT_EQ(full["port"]["media_lane_mask"], 0xFF);
    // A port that does not match the module's data paths gets no media lanes.
    const auto mismatch = decode(qsfp_dd_optic(), {"--start-lane", "0", "--lanes", "4"}, 1);
    EXPECT_EQ(mismatch["port"]["media_lane_mask"], 0);
}

// The real module images: vendor, part number and serial number as their manifest lists them,
// and every checksum of their page 00h valid.
TEST(PltfmctlEeprom, RealImagesDecodeAsTheirManifestSays) {
    const auto manifest = nlohmann::json::parse(read_file(PLTFM_TEST_DATA_DIR "/eeprom/manifest.json"));
    ASSERT_EQ(manifest.size(), 56u);
    for (const auto &m : manifest) {
        const std::string file = PLTFM_TEST_DATA_DIR "/eeprom/" + m["file"].get<std::string>();
        SCOPED_TRACE(file);
        const ToolRun r = run_tool("pltfmctl", {"eeprom", file, "--json"});
        ASSERT_FALSE(r.out.empty()) << r.err;
        const auto doc = nlohmann::json::parse(r.out);
        EXPECT_EQ(doc["vendor"], m["vendor"]);
        EXPECT_EQ(doc["part_number"], m["part_number"]);
        EXPECT_EQ(doc["serial_number"], m["serial_number"]);
        EXPECT_EQ(doc["checksums_ok"], true);
        EXPECT_GE(doc["checksums"].size(), 1u);
        EXPECT_EQ(r.err, "");
        // Exit 0 exactly for the modules the library identifies (not 06, whose byte 0 is 0).
        EXPECT_EQ(r.exit_code, doc["identified"].get<bool>() ? 0 : 1);
    }
}

// A changed byte under each checksum of each memory map gives a warning and exit 1.
TEST(PltfmctlEeprom, CorruptedCopiesWarnOfTheWrongChecksum) {
    struct Case {
        const char *file;
        int offset;            // byte changed
        const char *checksum;  // the one that must fail
        const char *range;
    };
    const Case cases[] = {
        {"02-sfp-10gbase-cr-1m.bin", 45, "CC_BASE", "bytes 0-62, stored at 63"},
        {"02-sfp-10gbase-cr-1m.bin", 70, "CC_EXT", "bytes 64-94, stored at 95"},
        {"37-qsfp28-100gbase-cr4-3m.bin", 150, "CC_BASE", "bytes 128-190, stored at 191"},
        {"37-qsfp28-100gbase-cr4-3m.bin", 223, "CC_EXT", "bytes 192-222, stored at 223"},
        {"56-qsfpdd-passive-copper-cisco.bin", 170, "page 00h", "bytes 128-221, stored at 222"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " byte " + std::to_string(c.offset));
        std::string bytes = read_file(PLTFM_TEST_DATA_DIR "/eeprom/" + std::string(c.file));
        bytes[static_cast<std::size_t>(c.offset)] ^= 0x01;
        TempDir dir;
        write_file(dir / "eeprom", bytes);
        const ToolRun r = run_tool("pltfmctl", {"eeprom", dir / "eeprom"});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find(std::string("warning: checksum ") + c.checksum + " (" + c.range + ") is wrong"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.out.find(std::string("checksum ") + c.checksum), std::string::npos);
        EXPECT_NE(r.out.find("WRONG, the bytes sum to"), std::string::npos) << r.out;
    }
}

// The builder's images (the simulated switch's modules) carry identity fields and valid
// checksums, CMIS pages 01h and 02h included.
TEST(PltfmctlEeprom, SimulatedModulesCarryIdentityAndChecksums) {
    for (const EepromImage &image : {qsfp_dd_optic(), qsfp_dd_optic_breakout(2), qsfp28_dac(3), sfp_rj45()}) {
        const auto doc = decode(image);
        EXPECT_EQ(doc["vendor"], "ACME NETWORKS");
        EXPECT_EQ(doc["checksums_ok"], true) << doc["checksums"];
        EXPECT_FALSE(doc["date"].get<std::string>().empty());
    }
    EXPECT_EQ(decode(qsfp_dd_optic())["checksums"].size(), 3u);
    EXPECT_EQ(decode(qsfp_dd_dac(1.0))["part_number"], "QDD-400G-CU");
}
