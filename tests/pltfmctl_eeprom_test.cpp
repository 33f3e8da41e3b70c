// pltfmctl eeprom on images from the fixtures' builder: cable type and deciding byte for a
// module of each family, and for a CMIS breakout the data paths and the media lane mask.
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
