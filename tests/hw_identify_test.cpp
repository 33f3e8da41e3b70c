// Module identification from the EEPROM image: the pure decoder over built and real images,
// and the library operation with its log lines over the fake sysfs tree.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "fake_platform.h"
#include "hw_test_util.h"
#include "test_util.h"
#include "transceiver_decode.h"

using namespace pltfm::test;
using pltfm::decode::identify;

namespace {

std::string cable_of(const std::vector<uint8_t> &bytes) {
    const auto id = identify(bytes);
    return id.cable_type ? pltfm::decode::cable_type_text(*id.cable_type) : "FAIL";
}

}  // namespace

TEST(Identify, BuiltImagesClassifyByFamilyMediaAndLength) {
    struct Case {
        const char *what;
        EepromImage image;
        const char *cable;
        const char *line;
    };
    const Case cases[] = {
        {"dd optic", qsfp_dd_optic(), "OPTICS", "QSFP-DD Optics"},
        {"dd active", qsfp_dd_active(3), "OPTICS", "QSFP-DD Optics"},
        {"dd 0x0A", qsfp_dd_dac(1).cmis_length_byte(0x0A), "DAC_1M", "QSFP-DD DAC cabletype 1M"},
        {"dd 0x0B", qsfp_dd_dac(1).cmis_length_byte(0x0B), "DAC_3M", "QSFP-DD DAC cabletype 3M"},
        {"dd 0x41", qsfp_dd_dac(1).cmis_length_byte(0x41), "DAC_1M", "QSFP-DD DAC cabletype 1M"},
        {"dd 0x42", qsfp_dd_dac(1).cmis_length_byte(0x42), "DAC_3M", "QSFP-DD DAC cabletype 3M"},
        {"dd 0x00", qsfp_dd_dac(1).cmis_length_byte(0x00), "DAC_1M", "QSFP-DD DAC cabletype 1M"},
        {"dd 0xC1", qsfp_dd_dac(1).cmis_length_byte(0xC1), "DAC_3M", "QSFP-DD DAC cabletype 3M"},
        {"dd 2.5m", qsfp_dd_dac(2.5), "DAC_3M", "QSFP-DD DAC cabletype 3M"},
        {"q28 optic", qsfp28_optic(), "OPTICS", "QSFP28 Optics"},
        {"q28 0xA0 1m", qsfp28_dac(1), "DAC_1M", "QSFP28 DAC cabletype 1M"},
        {"q28 0xB0 2m", qsfp28_dac(2).set(0, 147, 0xB0), "DAC_3M", "QSFP28 DAC cabletype 3M"},
        {"q28 0m", qsfp28_dac(0), "DAC_1M", "QSFP28 DAC cabletype 1M"},
        {"q28 active copper", qsfp28_active_copper(1), "OPTICS", "QSFP28 Optics"},
        {"q+ optic", qsfp_plus_optic(), "OPTICS", "QSFP+ Optics"},
        {"q+ 5m", qsfp_plus_dac(5), "DAC_3M", "QSFP+ DAC cabletype 3M"},
        {"sfp optic", sfp_optic(), "OPTICS", "SFP+ Optics"},
        {"sfp rj45", sfp_rj45(), "RJ45", "SFP+ RJ45"},
        {"sfp dac 1m", sfp_dac(1), "DAC_1M", "SFP+ DAC cabletype 1M"},
        {"sfp dac 3m no sep", sfp_dac(3, 0x23), "DAC_3M", "SFP+ DAC cabletype 3M"},
        {"sfp optical pigtail", sfp_dac(1, 0x0B), "FAIL", "Error! Could not get transceiver info!"},
        {"zeros", EepromImage(256), "FAIL", "Error! Could not get transceiver info!"},
        {"short file", EepromImage(0), "FAIL", "Error! Could not get transceiver info!"},
    };
    for (const auto &c : cases) {
        const auto id = identify(c.image.bytes());
        EXPECT_EQ(cable_of(c.image.bytes()), c.cable) << c.what;
        EXPECT_STREQ(id.module_line, c.line) << c.what;
    }
    // The single-precision product of base 11 and 0.1 is just above 1.1.
    const auto id = identify(qsfp_dd_dac(1).cmis_length_byte(0x0B).bytes());
    EXPECT_GT(id.length_m, 1.1);
    EXPECT_EQ(id.deciding_reg, 85);
    EXPECT_EQ(id.deciding_byte, 0x03);
}

TEST(Identify, RealModuleImages) {
    // Expected cable type of each image, derived from its identifier, media/technology or
    // connector byte and length byte. Image 06 has a garbled lower page (identifier 0x00);
    // image 23 is a copper-pigtail SFP; image 44 states 3 m in byte 146.
    const std::pair<const char *, const char *> expected[] = {
        {"01-sfp-1gbase-sx.bin", "OPTICS"},          {"02-sfp-10gbase-cr-1m.bin", "DAC_1M"},
        {"03-sfp-10gbase-cr-1m.bin", "DAC_1M"},      {"04-sfp-10gbase-cr.bin", "DAC_1M"},
        {"05-sfp-10gbase-cr-3m.bin", "DAC_3M"},      {"06-qsfpplus-40gbase-sr4.bin", "FAIL"},
        {"07-qsfpplus-40gbase-cr4-3m.bin", "DAC_3M"}, {"08-sfp-10gbase-cr-1m.bin", "DAC_1M"},
        {"09-sfp-10gbase-zr.bin", "OPTICS"},         {"10-sfp-10gbase-srl.bin", "OPTICS"},
        {"11-sfp-1gbase-lr.bin", "OPTICS"},          {"12-sfp-10gbase-cr-1m.bin", "DAC_1M"},
        {"13-qsfpplus-40gbase-sr2.bin", "OPTICS"},   {"14-qsfpplus-40gbase-sr4.bin", "OPTICS"},
        {"15-sfp-10gbase-cr-3m.bin", "DAC_3M"},      {"16-sfp-10gbase-cr-3m.bin", "DAC_3M"},
        {"17-qsfpplus-40gbase-sr4.bin", "OPTICS"},   {"18-qsfpplus-40gbase-sr4.bin", "OPTICS"},
        {"19-qsfpplus-40gbase-sr4-10m.bin", "OPTICS"}, {"20-sfp-10gbase-cr-3m.bin", "DAC_3M"},
        {"21-sfp-10gbase-cr-3m-synthetic.bin", "DAC_3M"}, {"22-qsfpplus-40gbase-sr4-3m.bin", "OPTICS"},
        {"23-sfp-10gbase-sr-1m.bin", "DAC_1M"},      {"24-qsfpplus-40gbase-cr4-1m.bin", "DAC_1M"},
        {"25-qsfp28-100g-aoc-3m.bin", "OPTICS"},     {"26-qsfpplus-40gbase-lr4.bin", "OPTICS"},
        {"27-qsfpplus-40gbase-lr4.bin", "OPTICS"},   {"28-qsfpplus-40gbase-cr4-1m.bin", "DAC_1M"},
        {"29-qsfp28-100g-cwdm4.bin", "OPTICS"},      {"30-qsfpplus-40gbase-cr4-1m.bin", "DAC_1M"},
        {"31-qsfp28-100g-aoc-10m.bin", "OPTICS"},    {"32-qsfpplus-40gbase-cr4-1m.bin", "DAC_1M"},
        {"33-qsfp28-100gbase-lr4.bin", "OPTICS"},    {"34-qsfpplus-40gbase-cr4-1m.bin", "DAC_1M"},
        {"35-qsfpplus-40gbase-cr4-1m.bin", "DAC_1M"}, {"36-qsfpplus-40gbase-sr4.bin", "OPTICS"},
        {"37-qsfp28-100gbase-cr4-3m.bin", "DAC_3M"}, {"38-qsfp28-100gbase-sr4.bin", "OPTICS"},
        {"39-qsfp28-100g-aoc-5m.bin", "OPTICS"},     {"40-sfp-10gbase-sr.bin", "OPTICS"},
        {"41-sfp-10gbase-sr.bin", "OPTICS"},         {"42-qsfpplus-40gbase-lm4.bin", "OPTICS"},
        {"43-sfp28-25gbase-sr.bin", "OPTICS"},       {"44-qsfpplus-40gbase-cr4-2m.bin", "DAC_3M"},
        {"45-qsfpplus-40gbase-cr4-5m.bin", "DAC_3M"}, {"46-qsfpplus-40gbase-cr4-3m.bin", "DAC_3M"},
        {"47-qsfpplus-40gbase-cr4-1m.bin", "DAC_1M"}, {"48-sfp-1gbase-t-100m.bin", "RJ45"},
        {"49-qsfp28-100g-psm4.bin", "OPTICS"},       {"50-qsfpplus-40gbase-cr4-2m.bin", "DAC_3M"},
        {"51-sfp28-25gbase-cr-1m.bin", "DAC_1M"},    {"52-sfp28-25gbase-cr-1m.bin", "DAC_1M"},
        {"53-sfp28-25gbase-cr-3m.bin", "DAC_3M"},    {"54-sfp28-25gbase-cr-3m.bin", "DAC_3M"},
        {"55-qsfpplus-40gbase-cr4-1m.bin", "DAC_1M"}, {"56-qsfpdd-passive-copper-cisco.bin", "DAC_1M"},
    };
    for (const auto &[file, cable] : expected) {
        std::ifstream in(std::string(PLTFM_TEST_DATA_DIR) + "/eeprom/" + file, std::ios::binary);
        ASSERT_TRUE(in) << file;
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(cable_of(bytes), cable) << file;
    }
}

TEST(Identify, LibraryReadsTheCageAndLogsTheDecision) {
    FakePlatform fake;
    fake.cage(1, qsfp_dd_dac(1).cmis_length_byte(0x0B)).cage(2, sfp_rj45()).cage(3, EepromImage(256))
        .cage(4, qsfp28_dac(2));
    fake.activate();
    char cable[24] = "untouched";
    {
        LogCapture log;
        ASSERT_EQ(pltfm_transceiver_info_get_from_i2c(make_port("Ethernet0", 30), cable), PLTFM_SUCCESS);
        EXPECT_STREQ(cable, "DAC_3M");
        const std::string t = log.text();
        const auto a = t.find("pltfm_transceiver_info_get_from_i2c: spec_flag = 24\n");
        const auto b = t.find("pltfm_transceiver_info_get_from_i2c: DAC connect length = 1.100000\n");
        const auto c = t.find("pltfm_transceiver_info_get_from_i2c: QSFP-DD DAC cabletype 3M\n");
        ASSERT_TRUE(a != std::string::npos && b != std::string::npos && c != std::string::npos) << t;
        EXPECT_TRUE(a < b && b < c);
    }
    {
        LogCapture log;
        ASSERT_EQ(pltfm_transceiver_info_get_from_i2c(make_port("Ethernet8", 31), cable), PLTFM_SUCCESS);
        EXPECT_STREQ(cable, "RJ45");
        EXPECT_TRUE(log.contains("SFP+ RJ45\n"));
        EXPECT_FALSE(log.contains("DAC connect length"));
    }
    {
        LogCapture log;
        ASSERT_EQ(pltfm_transceiver_info_get_from_i2c(make_port("Ethernet24", 29), cable), PLTFM_SUCCESS);
        EXPECT_STREQ(cable, "DAC_3M");
        EXPECT_TRUE(log.contains("DAC connect length = 2\n"));
        EXPECT_TRUE(log.contains("QSFP28 DAC cabletype 3M\n"));
    }
    std::strcpy(cable, "untouched");
    {
        LogCapture log;
        EXPECT_EQ(pltfm_transceiver_info_get_from_i2c(make_port("Ethernet16", 28), cable), PLTFM_NOTFOUND);
        EXPECT_TRUE(log.contains("spec_flag = 0\n"));
        EXPECT_TRUE(log.contains("Error! Could not get transceiver info!\n"));
    }
    {
        LogCapture log;  // cage 5 is empty
        EXPECT_EQ(pltfm_transceiver_info_get_from_i2c(make_port("Ethernet32", 27), cable), PLTFM_NOTFOUND);
        EXPECT_TRUE(log.contains("Open EEPROM file fail."));
        EXPECT_FALSE(log.contains("spec_flag"));
    }
    EXPECT_STREQ(cable, "untouched");
}

TEST(Identify, CmisApplicationDescriptorsForTools) {
    const auto img = qsfp_dd_optic_breakout(4).cmis_app(9, 0x41, 0x42, 1, 1);
    auto list = pltfm::decode::cmis_applications(img.bytes());
    ASSERT_EQ(list.count, 2);  // code 3 is empty, so the list ends there
    EXPECT_EQ(list.apps[0].host_lane_count, 8);
    EXPECT_EQ(list.apps[1].code, 2);
    EXPECT_EQ(list.apps[1].host_lane_count, 2);
    EXPECT_EQ(list.apps[1].media_lane_count, 2);
}
