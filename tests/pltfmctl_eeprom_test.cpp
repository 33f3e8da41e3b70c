// pltfmctl eeprom on images from the fixtures' builder: cable type and deciding bytes for each
// module family, and for CMIS modules the applications, host lane data paths and media lane mask.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "eeprom_image.h"
#include "test_util.h"
#include "tool_run.h"

using namespace pltfm::test;

namespace {

nlohmann::json decode(const TempDir &dir, const EepromImage &image, std::vector<std::string> extra = {},
                      int expected_exit = 0) {
    const std::string file = dir / "eeprom";
    write_file(file, image.str());
    std::vector<std::string> args = {"eeprom", file, "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun r = run_tool("pltfmctl", args);
    EXPECT_EQ(r.exit_code, expected_exit) << r.err;
    return r.out.empty() ? nlohmann::json() : nlohmann::json::parse(r.out);
}

}  // namespace

TEST(PltfmctlEeprom, IdentifiesEveryFamilyAsTheLibraryDoes) {
    TempDir dir;
    struct Case {
        const char *what;
        EepromImage image;
        const char *cable_type;
        const char *line;
        int deciding_offset;
    };
    const Case cases[] = {
        {"QSFP-DD DAC 1 m", qsfp_dd_dac(1.0), "DAC_1M", "QSFP-DD DAC cabletype 1M", 85},
        {"QSFP-DD DAC 3 m", qsfp_dd_dac(3.0), "DAC_3M", "QSFP-DD DAC cabletype 3M", 85},
        {"QSFP-DD optic", qsfp_dd_optic(), "OPTICS", "QSFP-DD Optics", 85},
        {"QSFP-DD active cable", qsfp_dd_active(2.0), "OPTICS", "QSFP-DD Optics", 85},
        {"QSFP28 DAC 1 m", qsfp28_dac(1), "DAC_1M", "QSFP28 DAC cabletype 1M", 147},
        {"QSFP28 DAC 3 m", qsfp28_dac(3), "DAC_3M", "QSFP28 DAC cabletype 3M", 147},
        {"QSFP28 optic", qsfp28_optic(), "OPTICS", "QSFP28 Optics", 147},
        {"QSFP+ DAC 2 m", qsfp_plus_dac(2), "DAC_3M", "QSFP+ DAC cabletype 3M", 147},
        {"SFP+ optic", sfp_optic(), "OPTICS", "SFP+ Optics", 2},
        {"SFP+ RJ45", sfp_rj45(), "RJ45", "SFP+ RJ45", 2},
        {"SFP+ DAC 1 m", sfp_dac(1), "DAC_1M", "SFP+ DAC cabletype 1M", 2},
    };
    for (const Case &c : cases) {
        const auto doc = decode(dir, c.image);
        ASSERT_FALSE(doc.is_null()) << c.what;
        EXPECT_EQ(doc["cable_type"], c.cable_type) << c.what;
        EXPECT_EQ(doc["library_line"], c.line) << c.what;
        EXPECT_EQ(doc["deciding_byte"]["offset"], c.deciding_offset) << c.what;
    }
    // 1.1 m in single precision is a little above 1.1: a 3 m class cable.
    const auto eleven = decode(dir, EepromImage(256).set(0, 0, 0x18).set(0, 85, 0x03).set(0, 202, 0x0B));
    EXPECT_EQ(eleven["cable_type"], "DAC_3M");
}

TEST(PltfmctlEeprom, UnknownModulesExitOne) {
    TempDir dir;
    const auto zeros = decode(dir, EepromImage(256), {}, 1);
    EXPECT_FALSE(zeros["identified"].get<bool>());
    EXPECT_EQ(zeros["library_line"], "Error! Could not get transceiver info!");
    const auto pigtail = decode(dir, sfp_dac(1, sff8024::kConnOpticalPigtail), {}, 1);
    EXPECT_FALSE(pigtail["identified"].get<bool>());

    const ToolRun text = run_tool("pltfmctl", {"eeprom", dir / "eeprom"});
    EXPECT_EQ(text.exit_code, 1);
    EXPECT_NE(text.out.find("not identified"), std::string::npos) << text.out;
    EXPECT_EQ(run_tool("pltfmctl", {"eeprom", dir / "missing"}).exit_code, 2);
}

TEST(PltfmctlEeprom, CmisBreakoutShowsDataPathsAndMediaLaneMask) {
    TempDir dir;
    // Four data paths of 2 host lanes on application 2.
    const auto doc = decode(dir, qsfp_dd_optic_breakout(4), {"--start-lane", "4"});
    ASSERT_FALSE(doc.is_null());
    ASSERT_EQ(doc["applications"].size(), 2u);
    EXPECT_EQ(doc["applications"][1]["code"], 2);
    EXPECT_EQ(doc["applications"][1]["host_lanes"], 2);
    ASSERT_EQ(doc["host_lanes"].size(), 8u);
    EXPECT_EQ(doc["host_lanes"][5]["host_lane_start"], 4);
    EXPECT_EQ(doc["host_lanes"][5]["app"], 2);
    EXPECT_EQ(doc["port"]["lanes"], 2);  // taken from the data path at lane 4
    EXPECT_EQ(doc["port"]["media_lane_mask"], 0x30);

    // The whole 400G module: one data path, all eight media lanes.
    const auto full = decode(dir, qsfp_dd_optic(), {"--start-lane", "0", "--lanes", "8"});
    EXPECT_EQ(full["port"]["media_lane_mask"], 0xFF);

    // A port that does not match the module's data paths gets no media lanes.
    const auto mismatch = decode(dir, qsfp_dd_optic(), {"--start-lane", "0", "--lanes", "4"}, 1);
    EXPECT_EQ(mismatch["port"]["media_lane_mask"], 0);
    EXPECT_NE(mismatch["port"]["failure"].get<std::string>().find("another host lane count"),
              std::string::npos);

    write_file(dir / "eeprom", qsfp_dd_optic_breakout(2).str());
    const ToolRun text = run_tool("pltfmctl", {"eeprom", dir / "eeprom", "--start-lane", "4"});
    EXPECT_EQ(text.exit_code, 0);
    EXPECT_NE(text.out.find("port of 4 lanes from start lane 4: media lanes 4-7, media lane mask 0xF0"),
              std::string::npos)
        << text.out;
}
