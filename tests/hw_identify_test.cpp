// Module identification from the EEPROM image: the pure decoder over built and real images,
// and the library operation with its log lines over the fake sysfs tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

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
    const char *fail = "Error! Could not get transceiver info!";
    const struct {
        const char *what;
        EepromImage image;
        const char *cable, *line;
    } cases[] = {
        {"dd optic", qsfp_dd_optic(), "OPTICS", "QSFP-DD Optics"},
        {"dd 1.0 m", qsfp_dd_dac(1).cmis_length_byte(0x0A), "DAC_1M", "QSFP-DD DAC cabletype 1M"},
        {"dd 1.1 m", qsfp_dd_dac(1).cmis_length_byte(0x0B), "DAC_3M", "QSFP-DD DAC cabletype 3M"},
        {"dd 2 m", qsfp_dd_dac(1).cmis_length_byte(0x42), "DAC_3M", "QSFP-DD DAC cabletype 3M"},
        {"q28 optic", qsfp28_optic(), "OPTICS", "QSFP28 Optics"},
        {"q28 1 m", qsfp28_dac(1), "DAC_1M", "QSFP28 DAC cabletype 1M"},
        {"q28 0xB0 2 m", qsfp28_dac(2).set(0, 147, 0xB0), "DAC_3M", "QSFP28 DAC cabletype 3M"},
        {"q28 active copper", qsfp28_active_copper(1), "OPTICS", "QSFP28 Optics"},
        {"sfp optic", sfp_optic(), "OPTICS", "SFP+ Optics"},
        {"sfp rj45", sfp_rj45(), "RJ45", "SFP+ RJ45"},
        {"sfp dac 1 m", sfp_dac(1), "DAC_1M", "SFP+ DAC cabletype 1M"},
        {"sfp optical pigtail", sfp_dac(1, 0x0B), "FAIL", fail},
        {"unknown connector", sfp_dac(1, 0x7F), "FAIL", fail},
        {"zeros", EepromImage(256), "FAIL", fail},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(cable_of(c.image.bytes()), c.cable) << c.what;
        EXPECT_STREQ(identify(c.image.bytes()).module_line, c.line) << c.what;
    }
    // The single-precision product of base 11 and 0.1 is just above 1.1.
    const auto id = identify(qsfp_dd_dac(1).cmis_length_byte(0x0B).bytes());
    EXPECT_GT(id.length_m, 1.1);
    EXPECT_EQ(id.deciding_reg, 85);
    EXPECT_EQ(id.deciding_byte, 0x03);
}

TEST(Identify, RealModuleImages) {
    // Expected cable type of images 01 to 56 in file order: O optics, 1 DAC_1M, 3 DAC_3M,
    // R RJ45, F not identified. Image 06 has a garbled lower page (identifier 0x00), image 23
    // is a copper-pigtail SFP, image 44 states 3 m in byte 146.
    const std::string expected = "O1113F31OO" "O1OO33OOO3" "3O11OOO1O1" "O1O11O3OOO" "OOO3331RO3" "113311";
    const std::map<char, std::string> cable{{'O', "OPTICS"}, {'1', "DAC_1M"}, {'3', "DAC_3M"}, {'R', "RJ45"}, {'F', "FAIL"}};
    std::vector<std::filesystem::path> files;
    for (const auto &e : std::filesystem::directory_iterator(std::string(PLTFM_TEST_DATA_DIR) + "/eeprom"))
        if (e.path().extension() == ".bin") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), expected.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string bytes = read_file(files[i]);
        EXPECT_EQ(cable_of({bytes.begin(), bytes.end()}), cable.at(expected[i])) << files[i].filename();
    }
}

TEST(Identify, LibraryReadsTheCageAndLogsTheDecision) {
    FakePlatform fake;
    fake.cage(1, qsfp_dd_dac(1).cmis_length_byte(0x0B)).cage(2, sfp_rj45()).cage(3, EepromImage(256));
    fake.activate();
    const struct {
        int serdes;
        pltfm_status_t rc;
        const char *cable;
        std::vector<std::string> lines;  // in this order
        const char *absent;
    } cases[] = {
        {30, PLTFM_SUCCESS, "DAC_3M", {"spec_flag = 24\n", "DAC connect length = 1.100000\n", "QSFP-DD DAC cabletype 3M\n"}, "Error"},
        {31, PLTFM_SUCCESS, "RJ45", {"spec_flag = 3\n", "SFP+ RJ45\n"}, "DAC connect length"},
        {28, PLTFM_NOTFOUND, "untouched", {"spec_flag = 0\n", "Error! Could not get transceiver info!\n"}, "DAC"},
        {27, PLTFM_NOTFOUND, "untouched", {"Open EEPROM file fail."}, "spec_flag"},  // cage 5 is empty
    };
    for (const auto &c : cases) {
        char cable[24] = "untouched";
        LogCapture log;
        EXPECT_EQ(pltfm_transceiver_info_get_from_i2c(make_port("Ethernet0", c.serdes), cable), c.rc) << c.serdes;
        EXPECT_STREQ(cable, c.cable) << c.serdes;
        const std::string t = log.text();
        std::size_t at = 0;
        for (const auto &line : c.lines) {
            at = t.find(line, at);
            ASSERT_NE(at, std::string::npos) << line << " missing or out of order in:\n" << t;
        }
        EXPECT_EQ(t.find(c.absent), std::string::npos) << t;
    }
}
