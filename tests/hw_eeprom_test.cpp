// Module EEPROM access: board wiring from SerDes group to cage and bus, offsets and short
// reads, absent modules, reported write failures, and descriptors outside the board.
#include <gtest/gtest.h>
#include <unistd.h>

#include "hw_test_util.h"
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
    for (int bus : kBus) {  // the byte at offset 300 names the bus
        std::string bytes(512, '\0');
        bytes[300] = static_cast<char>(bus);
        ASSERT_TRUE(write_bytes(bus_path(fake, bus), bytes));
    }
    fake.activate();
    std::vector<std::pair<int, int>> cases{{31, 4}, {32, 0}, {32, 1}};  // (31, 4): lane ignored below 32
    for (int g = 0; g < 32; ++g) cases.emplace_back(g, 0);
    for (const auto &[serdes, lane] : cases) {
        const int fpn = kFrontPanel[serdes > 31 ? serdes + lane : serdes];
        const int bus = kBus[fpn - 1];
        LogCapture log;
        uint8_t v = 0xEE;
        ASSERT_EQ(pltfm_eeprom_get_from_i2c(make_port("Ethernet0", serdes, lane), 2, 44, &v, 1), PLTFM_SUCCESS);
        EXPECT_EQ(v, bus) << "serdes " << serdes << " lane " << lane;
        EXPECT_TRUE(log.contains("pltfm_eeprom_get_from_i2c: Get (Ethernet0) serdes: " + std::to_string(serdes) +
                                 ", phy_port: " + std::to_string(fpn - 1) + ", (" + bus_path(fake, bus) + ") \n"))
            << log.text();
    }
}

TEST(EepromAccess, OffsetsShortReadsWritesAndAbsentModules) {
    FakePlatform fake;
    std::string bytes(16 * 128 + 131, '\0');
    bytes[16 * 128 + 130] = '\x5A';
    fake.cage_bytes(1, bytes).activate();
    const pltfm_port_t port = make_port("Ethernet0", 30);
    // The file ends at page 16 register 130: bytes beyond keep the caller's values.
    uint8_t buf[3] = {1, 2, 3};
    EXPECT_EQ(pltfm_eeprom_get_from_i2c(port, 16, 129, buf, 3), PLTFM_SUCCESS);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 3), (std::vector<uint8_t>{0x00, 0x5A, 3}));
    // A write changes one byte in place.
    ASSERT_EQ(pltfm_eeprom_set_to_i2c(port, 1, 225, 0x21), PLTFM_SUCCESS);
    EXPECT_EQ(fake.eeprom(1)[353], 0x21);
    EXPECT_EQ(fake.eeprom(1).size(), bytes.size());

    // Absent module: reported, and a write never creates the file.
    LogCapture log;
    EXPECT_EQ(pltfm_eeprom_get_from_i2c(make_port("Ethernet248", 0), 0, 0, buf, 1), PLTFM_NOTFOUND);
    EXPECT_EQ(pltfm_eeprom_set_to_i2c(make_port("Ethernet248", 0), 0, 86, 0), PLTFM_NOTFOUND);
    EXPECT_TRUE(log.contains("Open EEPROM file fail. (" + bus_path(fake, 39) + ")")) << log.text();
    EXPECT_NE(::access(bus_path(fake, 39).c_str(), F_OK), 0);

    // A device that refuses the byte: the write is reported, not taken as done.
    const std::string dev = fake.eeprom_path(1);
    ASSERT_EQ(::unlink(dev.c_str()), 0);
    ASSERT_EQ(::symlink("/dev/full", dev.c_str()), 0);
    LogCapture full;
    EXPECT_EQ(pltfm_eeprom_set_to_i2c(port, 0, 86, 0x0F), PLTFM_DEVICE_ACCESS_ERROR);
    EXPECT_TRUE(full.contains("pltfm_eeprom_set_to_i2c: Write EEPROM file fail. (" + dev + ")")) << full.text();
}

TEST(EepromAccess, DescriptorsOutsideTheBoardAreRefusedEverywhere) {
    FakePlatform fake;
    for (int n = 1; n <= 34; ++n) fake.cage(n, qsfp28_optic());
    fake.activate();
    // Who refuses: E the EEPROM access (SerDes group and, for group 32, lane), I the key
    // attributes (slot and lane count), C the port events (both).
    enum : unsigned { E = 1, I = 2, C = 4 };
    const struct {
        int serdes, lane, lanes;
        unsigned who;
    } cases[] = {{-1, 0, 4, E | I | C}, {33, 0, 4, E | I | C}, {1000, 0, 4, E | I | C}, {-2147483647 - 1, 0, 4, E | I | C},
                 {32, 2, 1, E | I | C}, {32, -1, 1, E | I | C}, {30, -1, 4, I | C}, {5, 8, 1, I | C}, {30, 0, 0, I | C}, {30, 0, -4, I | C}};
    for (const auto &c : cases) {
        const pltfm_port_t port = make_port("Ethernet0", c.serdes, c.lane, c.lanes);
        LogCapture log;
        uint8_t v = 7;
        pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
        key_list(list);
        if (c.who & E) { EXPECT_EQ(pltfm_eeprom_get_from_i2c(port, 0, 0, &v, 1), PLTFM_INVAL) << c.serdes; }
        if (c.who & E) { EXPECT_EQ(pltfm_eeprom_set_to_i2c(port, 0, 0, 1), PLTFM_INVAL) << c.serdes; }
        if (c.who & I) { EXPECT_EQ(pltfm_transceiver_info_get(port, list, 7, 1), PLTFM_INVAL) << c.serdes; }
        if (c.who & C) { EXPECT_EQ(pltfm_transceiver_configure(port, PLTFM_PORT_PRE_INIT), PLTFM_INVAL) << c.serdes; }
        EXPECT_TRUE(log.contains("is outside this board.")) << log.text();
        EXPECT_FALSE(log.contains("Get (") || log.contains("redis-cli")) << log.text();
        EXPECT_EQ(v, 7);
        EXPECT_EQ(values(list), "|||||||");
    }
}
