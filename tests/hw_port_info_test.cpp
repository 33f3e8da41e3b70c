// Key attributes of a port: lane-speed classes, port slots and front-panel keys, Redis and
// EEPROM identification, the stored answer and the remembered answer after an insertion.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "hw_test_util.h"
#include "platform_hw_internal.h"
#include "redis_server.h"
#include "test_util.h"

using namespace pltfm::test;

namespace {

struct Env {
    RedisServer redis;
    FakePlatform fake;
    Env() {
        redis.use_on_path();
        fake.activate();
    }
    void speed(const std::string &intf, const std::string &value) { redis.hset(0, "PORT_TABLE:" + intf, "speed", value); }
};

std::string values(const pltfm_attr_t (&list)[PLTFM_KEY_ATTR_COUNT]) {
    std::string s;
    for (const auto &a : list) s += std::string(a.value) + "|";
    return s;
}

}  // namespace

TEST(PortSlot, SlotsAndFrontPortKeys) {
    using pltfm::hw::port_slot;
    EXPECT_EQ(port_slot(30, 0), 1u);
    EXPECT_EQ(port_slot(30, 2), 3u);
    EXPECT_EQ(port_slot(0, 0), 249u);
    EXPECT_EQ(port_slot(32, 0), 257u);
    EXPECT_EQ(port_slot(32, 1), 258u);
    EXPECT_EQ(port_slot(32, 2), std::nullopt);
    EXPECT_EQ(port_slot(30, -1), std::nullopt);
    EXPECT_EQ(port_slot(33, 0), std::nullopt);
    EXPECT_EQ(port_slot(-1, 0), std::nullopt);
    EXPECT_EQ(pltfm::hw::front_port_key(32), 32);
    EXPECT_EQ(pltfm::hw::cage_lock_slot(3), 1u);
    EXPECT_EQ(pltfm::hw::cage_lock_slot(16), 9u);
    EXPECT_EQ(pltfm::hw::cage_lock_slot(258), 258u);
}

TEST(TransceiverInfo, LaneSpeedClassesFromRedisOrDefault) {
    Env env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    env.fake.cage(1, qsfp28_dac(1));
    struct Case {
        const char *speed;
        int lanes;
        const char *cls;
        const char *enc;
    } cases[] = {{"100000", 4, "25G/100G", "NRZ"}, {"400000", 8, "50G/400G", "PAM4"}, {"200000", 4, "50G/400G", "PAM4"},
                 {"40000", 4, "10G/40G", "NRZ"},   {"10000", 1, "10G/40G", "NRZ"},    {"50000", 2, "25G/100G", "NRZ"}};
    for (const auto &c : cases) {
        env.speed("Ethernet0", c.speed);
        pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
        key_list(list);
        ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet0", 30, 0, c.lanes), list, 7, 0), PLTFM_SUCCESS);
        EXPECT_EQ(values(list), std::string("GENERIC|DAC_1M|") + c.cls + "|" + c.enc + "|0|" + std::to_string(c.lanes) + "|0|");
    }
    pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
    key_list(list);
    env.speed("Ethernet0", "100000");
    {
        LogCapture log;
        EXPECT_EQ(pltfm_transceiver_info_get(make_port("Ethernet0", 30, 0, 1), list, 7, 0), PLTFM_NOTFOUND);
        EXPECT_TRUE(log.contains("Invalid port lane speed 100000!\n"));
    }
    // An empty answer is lane speed 0 even though a default exists.
    port_default_speed_ar[1] = 100000;
    env.speed("Ethernet0", "");
    EXPECT_EQ(pltfm_transceiver_info_get(make_port("Ethernet0", 30, 0, 4), list, 7, 0), PLTFM_NOTFOUND);
    EXPECT_EQ(values(list), "|||||||");
    // A missing field is an empty line too.
    env.redis.del(0, "PORT_TABLE:Ethernet0");
    EXPECT_EQ(pltfm_transceiver_info_get(make_port("Ethernet0", 30, 0, 4), list, 7, 0), PLTFM_NOTFOUND);
    // No answer at all (server gone): the default speed decides, the EEPROM the cable.
    env.redis.stop();
    ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet0", 30, 0, 4), list, 7, 0), PLTFM_SUCCESS);
    EXPECT_STREQ(list[2].value, "25G/100G");
}

TEST(TransceiverInfo, RedisRecordFirstThenEepromAndStoreOnUpdate) {
    Env env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    env.fake.cage(33, qsfp28_optic()).cage(34, sfp_rj45());
    env.speed("Ethernet256", "100000");
    env.speed("Ethernet257", "25000");
    env.redis.hset(6, "TRANSCEIVER_STATUS|Ethernet256", "status", "1");
    env.redis.hset(6, "TRANSCEIVER_INFO|Ethernet256", "type", "QSFP28");
    env.redis.hset(6, "TRANSCEIVER_INFO|Ethernet256", "cable_length", "5");
    env.redis.hset(6, "TRANSCEIVER_INFO|Ethernet256", "specification_compliance", "100GBASE-CR4");
    env.redis.hset(6, "TRANSCEIVER_INFO|Ethernet256", "connector", "No separable connector");

    pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT + 1];
    key_list(reinterpret_cast<pltfm_attr_t(&)[PLTFM_KEY_ATTR_COUNT]>(list));
    list[7].key = PLTFM_ATTR_FEC;
    std::strcpy(list[7].value, "rs");
    {
        LogCapture log;
        ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet256", 32, 0, 4), list, 8, 1), PLTFM_SUCCESS);
        EXPECT_TRUE(log.contains("Port 256 update the new transceiver info: GENERIC DAC_3M 25G/100G NRZ 32 4 0.\n"))
            << log.text();
    }
    EXPECT_STREQ(list[7].value, "rs");  // other keys are left alone
    EXPECT_STREQ(port_attr_list[257][1].value, "DAC_3M");
    EXPECT_EQ(port_attr_list[257][6].key, PLTFM_ATTR_LANE);

    // No Redis record for the second extra cage: the EEPROM decides; update flag 0 stores nothing.
    pltfm_attr_t l2[PLTFM_KEY_ATTR_COUNT];
    key_list(l2);
    LogCapture log;
    ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet257", 32, 1, 1), l2, 7, 0), PLTFM_SUCCESS);
    EXPECT_EQ(values(l2), "GENERIC|RJ45|25G/100G|NRZ|32|1|1|");
    EXPECT_FALSE(log.contains("update the new transceiver info"));
    EXPECT_STREQ(port_attr_list[258][1].value, "");

    // Nothing identifies an empty cage.
    env.speed("Ethernet8", "100000");
    key_list(l2);
    EXPECT_EQ(pltfm_transceiver_info_get(make_port("Ethernet8", 31, 0, 4), l2, 7, 1), PLTFM_NOTFOUND);
    EXPECT_EQ(values(l2), "|||||||");
}

TEST(TransceiverInfo, RememberedAnswerAfterInsertionFollowsTheSpeed) {
    Env env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    // No module anywhere: an identification would fail.
    store_attrs(3, "OPTICS", "25G/100G", "NRZ");
    port_state_ar[3] = 1u << PLTFM_PORT_INSERTED;
    env.speed("Ethernet2", "200000");
    pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
    key_list(list);
    LogCapture log;
    ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet2", 30, 2, 4), list, 7, 1), PLTFM_SUCCESS);
    EXPECT_STREQ(list[1].value, "OPTICS");
    EXPECT_STREQ(list[2].value, "50G/400G");
    EXPECT_STREQ(list[3].value, "PAM4");
    EXPECT_STREQ(port_attr_list[3][2].value, "50G/400G");
    EXPECT_FALSE(log.contains("Open EEPROM")) << log.text();
    EXPECT_FALSE(log.contains("TRANSCEIVER_")) << log.text();
}

TEST(TransceiverInfo, RefusesDescriptorsOutsideTheBoard) {
    Env env;
    pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
    key_list(list);
    for (auto port : {make_port("Ethernet0", 33, 0, 4), make_port("Ethernet0", 32, 2, 1), make_port("Ethernet0", -1, 0, 4),
                      make_port("Ethernet0", 30, -1, 4), make_port("Ethernet0", 30, 0, 0), make_port("Ethernet0", 30, 0, -4)}) {
        LogCapture log;
        EXPECT_EQ(pltfm_transceiver_info_get(port, list, 7, 1), PLTFM_INVAL);
        EXPECT_EQ(pltfm_transceiver_configure(port, PLTFM_PORT_PRE_INIT), PLTFM_INVAL);
        EXPECT_TRUE(log.contains("is outside this board.")) << log.text();
        EXPECT_FALSE(log.contains("redis-cli")) << log.text();
    }
}
