// The shared fixtures themselves: private Redis server with its redis-cli wrapper, EEPROM
// image layouts, and the fake platform tree.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "eeprom_image.h"
#include "fake_platform.h"
#include "redis_server.h"

using namespace pltfm::test;

TEST(RedisServerFixture, SeedsReadsAndServesTheWrapperOnPath) {
    std::string sock;
    {
        RedisServer redis;
        ASSERT_TRUE(redis.ok()) << redis.error();
        sock = redis.socket_path();
        EXPECT_TRUE(redis.hset(6, "TRANSCEIVER_STATUS|Ethernet0", "status", "1"));
        EXPECT_EQ(redis.hget(6, "TRANSCEIVER_STATUS|Ethernet0", "status"), "1");
        EXPECT_EQ(redis.hget(0, "TRANSCEIVER_STATUS|Ethernet0", "status"), std::nullopt);
        redis.use_on_path();
        FILE *p = ::popen("redis-cli -n 6 hget \"TRANSCEIVER_STATUS|Ethernet0\" \"status\"", "r");
        ASSERT_NE(p, nullptr);
        char line[32] = {};
        ASSERT_NE(std::fgets(line, sizeof line, p), nullptr);
        ::pclose(p);
        EXPECT_STREQ(line, "1\n");
        EXPECT_TRUE(redis.del(6, "TRANSCEIVER_STATUS|Ethernet0"));
        EXPECT_EQ(redis.hget(6, "TRANSCEIVER_STATUS|Ethernet0", "status"), std::nullopt);
    }
    // The server is gone with the fixture: its socket no longer answers.
    struct stat st {};
    EXPECT_NE(::stat(sock.c_str(), &st), 0);
}

TEST(EepromImageFixture, LayoutsPlaceBytesWhereTheStandardsSay) {
    auto dd = qsfp_dd_optic_breakout(2);
    EXPECT_EQ(dd.bytes().size(), kCmisImageSize);
    EXPECT_EQ(dd.get(0, 0), 0x18);
    EXPECT_EQ(dd.bytes()[16 * 128 + 130], 0xFF);  // TX disable, page 16 register 130
    EXPECT_EQ(dd.bytes()[16 * 128 + 145], 0x20);
    EXPECT_EQ(dd.bytes()[16 * 128 + 149], 0x28);
    EXPECT_EQ(dd.bytes()[92], 0x44);  // application 2 lane counts
    auto app9 = EepromImage(kCmisImageSize).cmis_app(9, 1, 2, 2, 1);
    EXPECT_EQ(app9.bytes()[128 + 225], 0x21);  // page 1 register 225 = offset 353
    EXPECT_EQ(cmis_length_code(1.0), 0x0A);
    EXPECT_EQ(cmis_length_code(2.0), 0x14);
    EXPECT_EQ(cmis_length_code(7.0), 0x47);
    EXPECT_EQ(cmis_length_code(100.0), 0x8A);
    EXPECT_EQ(qsfp28_dac(3).get(0, 146), 3);
    EXPECT_EQ(qsfp28_dac(3).get(0, 147), 0xA0);
    EXPECT_EQ(sfp_rj45().get(0, 2), 0x22);
    EXPECT_EQ(sfp_dac(2).get(0, 18), 2);
}

TEST(FakePlatformFixture, PlacesEepromsByWiringAndWritesPortConfig) {
    FakePlatform fake;
    fake.cage(1, sfp_optic()).cage(34, qsfp28_dac(1)).port_config_line("Ethernet0", 100000);
    ASSERT_TRUE(fake.ok()) << fake.error();
    EXPECT_EQ(fake.eeprom_path(1), fake.root() + "/sys/bus/i2c/devices/11-0050/eeprom");
    EXPECT_EQ(fake.eeprom_path(34), fake.root() + "/sys/bus/i2c/devices/44-0050/eeprom");
    EXPECT_EQ(fake.eeprom(34).size(), 256u);
    EXPECT_EQ(fake.front_panel_of(30, 0), 1);
    EXPECT_EQ(fake.front_panel_of(32, 1), 34);
    EXPECT_EQ(fake.front_panel_of(33, 0), 0);
    fake.empty_cage(34);
    EXPECT_TRUE(fake.eeprom(34).empty());
    FILE *f = std::fopen(fake.port_config_path().c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
}
