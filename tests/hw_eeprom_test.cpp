// Module EEPROM access: board wiring from SerDes group to cage and bus, offsets, short reads,
// absent modules, refused descriptors and reported write failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include "fake_platform.h"
#include "hw_test_util.h"
#include "platform_hw.h"
#include "test_util.h"

using namespace pltfm::test;

namespace {

// The board's wiring as the hardware documentation gives it: front-panel number per map
// index, and i2c bus per front-panel index.
constexpr int kFrontPanel[34] = {32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16,
                                 15, 14, 13, 12, 11, 10, 9,  8,  7,  6,  5,  3,  4,  1,  2,  33, 34};
constexpr int kBus[34] = {11, 30, 12, 29, 13, 28, 14, 27, 15, 34, 16, 33, 17, 32, 18, 31, 19,
                          38, 20, 37, 21, 36, 22, 35, 23, 42, 24, 41, 25, 40, 26, 39, 43, 44};

std::string bus_path(const FakePlatform &fake, int bus) {
    return fake.root() + "/sys/bus/i2c/devices/" + std::to_string(bus) + "-0050/eeprom";
}

}  // namespace

TEST(EepromAccess, EveryCageIsReachedAtTheBusTheWiringGives) {
    FakePlatform fake;
    // Each bus gets an image whose byte at offset 300 names the bus.
    for (int bus : kBus) {
        std::string bytes(512, '\0');
        bytes[300] = static_cast<char>(bus);
        ASSERT_TRUE(write_bytes(bus_path(fake, bus), bytes));
    }
    fake.activate();
    struct Case {
        int serdes, lane;
    };
    std::vector<Case> cases;
    for (int g = 0; g < 32; ++g) cases.push_back({g, 0});
    cases.push_back({31, 4});  // not adjusted: 31 is not above 31
    cases.push_back({32, 0});
    cases.push_back({32, 1});
    for (const auto &c : cases) {
        const int index = c.serdes > 31 ? c.serdes + c.lane : c.serdes;
        const int fpn = kFrontPanel[index];
        const int bus = kBus[fpn - 1];
        LogCapture log;
        uint8_t v = 0xEE;
        ASSERT_EQ(pltfm_eeprom_get_from_i2c(make_port("Ethernet0", c.serdes, c.lane), 2, 44, &v, 1), PLTFM_SUCCESS);
        EXPECT_EQ(v, bus) << "serdes " << c.serdes << " lane " << c.lane;
        const std::string line = "pltfm_eeprom_get_from_i2c: Get (Ethernet0) serdes: " + std::to_string(c.serdes) +
                                 ", phy_port: " + std::to_string(fpn - 1) + ", (" + bus_path(fake, bus) + ") \n";
        EXPECT_TRUE(log.contains(line)) << log.text();
    }
}

TEST(EepromAccess, ReadsAtPageTimes128PlusRegisterAndKeepsBufferOnShortRead) {
    FakePlatform fake;
    std::string bytes(16 * 128 + 131, '\0');
    bytes[16 * 128 + 130] = '\x5A';
    bytes[353] = '\x21';  // page 1 register 225
    fake.cage_bytes(1, bytes).activate();
    const pltfm_port_t port = make_port("Ethernet0", 30);
    uint8_t v = 0;
    EXPECT_EQ(pltfm_eeprom_get_from_i2c(port, 16, 130, &v, 1), PLTFM_SUCCESS);
    EXPECT_EQ(v, 0x5A);
    EXPECT_EQ(pltfm_eeprom_get_from_i2c(port, 1, 225, &v, 1), PLTFM_SUCCESS);
    EXPECT_EQ(v, 0x21);
    // The file ends at offset 2178: the bytes beyond keep the caller's values.
    uint8_t buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(pltfm_eeprom_get_from_i2c(port, 16, 129, buf, 4), PLTFM_SUCCESS);
    EXPECT_EQ(buf[1], 0x5A);
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(buf[3], 4);
}

TEST(EepromAccess, AbsentModuleLogsAccessLineThenOpenFailure) {
    FakePlatform fake;
    fake.activate();
    LogCapture log;
    uint8_t v = 0;
    EXPECT_EQ(pltfm_eeprom_get_from_i2c(make_port("Ethernet248", 0), 0, 0, &v, 1), PLTFM_NOTFOUND);
    const std::string text = log.text();
    const auto access = text.find("Get (Ethernet248) serdes: 0, phy_port: 31, (" + bus_path(fake, 39) + ") ");
    const auto fail = text.find("Open EEPROM file fail. (" + bus_path(fake, 39) + ")");
    ASSERT_NE(access, std::string::npos) << text;
    ASSERT_NE(fail, std::string::npos) << text;
    EXPECT_LT(access, fail);
    EXPECT_EQ(pltfm_eeprom_set_to_i2c(make_port("Ethernet248", 0), 0, 86, 0), PLTFM_NOTFOUND);
    // A write never creates the file.
    EXPECT_NE(::access(bus_path(fake, 39).c_str(), F_OK), 0);
}

TEST(EepromAccess, DescriptorsOutsideTheBoardAreRefused) {
    FakePlatform fake;
    fake.activate();
    struct Case {
        int serdes, lane;
    } cases[] = {{-1, 0}, {33, 0}, {32, 2}, {32, -1}, {1000, 0}, {-2147483647 - 1, 0}};
    for (const auto &c : cases) {
        LogCapture log;
        uint8_t v = 7;
        EXPECT_EQ(pltfm_eeprom_get_from_i2c(make_port("Ethernet0", c.serdes, c.lane), 0, 0, &v, 1), PLTFM_INVAL);
        EXPECT_EQ(pltfm_eeprom_set_to_i2c(make_port("Ethernet0", c.serdes, c.lane), 0, 0, 1), PLTFM_INVAL);
        EXPECT_TRUE(log.contains("is outside this board.")) << log.text();
        EXPECT_FALSE(log.contains("Get (")) << log.text();
        EXPECT_EQ(v, 7);
    }
}

TEST(EepromAccess, WriteUpdatesOneByteInPlaceAndReportsFailures) {
    FakePlatform fake;
    fake.cage(32, qsfp28_optic()).activate();
    const pltfm_port_t port = make_port("Ethernet248", 0);
    ASSERT_EQ(pltfm_eeprom_set_to_i2c(port, 0, 86, 0x05), PLTFM_SUCCESS);
    EXPECT_EQ(fake.eeprom_byte(32, 0, 86), 0x05);
    EXPECT_EQ(fake.eeprom(32).size(), 256u);
    EXPECT_EQ(fake.eeprom_byte(32, 0, 0), 0x11);

    // A device that refuses the byte: the write is reported, not taken as done.
    const std::string full = bus_path(fake, 39);
    ASSERT_EQ(::unlink(full.c_str()), 0);
    ASSERT_EQ(::symlink("/dev/full", full.c_str()), 0);
    LogCapture log;
    EXPECT_EQ(pltfm_eeprom_set_to_i2c(port, 0, 86, 0x0F), PLTFM_DEVICE_ACCESS_ERROR);
    EXPECT_TRUE(log.contains("pltfm_eeprom_set_to_i2c: Write EEPROM file fail. (" + full + ")")) << log.text();
}
