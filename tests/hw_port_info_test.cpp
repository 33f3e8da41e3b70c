// Key attributes of a port: lane-speed classes, Redis record before EEPROM, the stored answer
// and its slot, and the remembered answer after an insertion.
#include <gtest/gtest.h>

#include "hw_test_util.h"
#include "test_util.h"

using namespace pltfm::test;

TEST(TransceiverInfo, LaneSpeedClassesFromRedisOrDefault) {
    HwEnv env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    env.fake.cage(1, qsfp28_dac(1));
    port_default_speed_ar[1] = 100000;  // used only when Redis does not answer
    const struct {
        const char *speed;
        int lanes;
        const char *cls_enc;  // nullptr: no lane-speed class
    } cases[] = {{"100000", 4, "25G/100G|NRZ"}, {"400000", 8, "50G/400G|PAM4"}, {"200000", 4, "50G/400G|PAM4"},
                 {"40000", 4, "10G/40G|NRZ"}, {"100000", 1, nullptr},
                 // No usable speed in the application database: the configured default decides.
                 {"", 4, "25G/100G|NRZ"}, {"fast", 4, "25G/100G|NRZ"}, {"100000x", 4, "25G/100G|NRZ"}};
    pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
    for (const auto &c : cases) {
        env.speed("Ethernet0", c.speed);
        key_list(list);
        LogCapture log;
        const pltfm_status_t rc = pltfm_transceiver_info_get(make_port("Ethernet0", 30, 0, c.lanes), list, 7, 0);
        EXPECT_EQ(rc, c.cls_enc ? PLTFM_SUCCESS : PLTFM_NOTFOUND) << c.speed;
        EXPECT_EQ(values(list), c.cls_enc ? "GENERIC|DAC_1M|" + std::string(c.cls_enc) + "|0|" + std::to_string(c.lanes) + "|0|"
                                          : "|||||||");
        if (!c.cls_enc) {
            EXPECT_TRUE(log.contains("Invalid port lane speed " + std::to_string(std::atoi(c.speed) / c.lanes) + "!\n"));
        }
        const bool numeric = c.speed[0] != '\0' && std::string(c.speed).find_first_not_of("0123456789") == std::string::npos;
        EXPECT_EQ(log.contains("Invalid speed \"" + std::string(c.speed) + "\" of Ethernet0 in the application database; "
                               "using the default 100000\n"), !numeric) << log.text();
    }
    // No answer at all (server gone): the default speed decides, the EEPROM the cable.
    env.redis.stop();
    ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet0", 30, 0, 4), list, 7, 0), PLTFM_SUCCESS);
    EXPECT_EQ(values(list), "GENERIC|DAC_1M|25G/100G|NRZ|0|4|0|");
}

TEST(TransceiverInfo, RedisRecordFirstThenEepromAndStoreOnUpdate) {
    HwEnv env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    env.fake.cage(33, qsfp28_optic()).cage(34, sfp_rj45());
    env.speed("Ethernet256", "100000");
    env.speed("Ethernet257", "25000");
    env.record("Ethernet256", "QSFP28", "100GBASE-CR4", "No separable connector", "5");  // the EEPROM says optic

    pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT + 1];
    key_list(list);
    list[7] = pltfm_attr_t{PLTFM_ATTR_FEC, "rs"};
    {
        LogCapture log;
        ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet256", 32, 0, 4), list, 8, 1), PLTFM_SUCCESS);
        EXPECT_TRUE(log.contains("Port 256 update the new transceiver info: GENERIC DAC_3M 25G/100G NRZ 32 4 0.\n"))
            << log.text();
    }
    EXPECT_STREQ(list[7].value, "rs");  // other keys are left alone
    EXPECT_EQ(values(port_attr_list[257]), "GENERIC|DAC_3M|25G/100G|NRZ|32|4|0|");

    // No Redis record for the second extra cage: the EEPROM decides; update flag 0 stores nothing.
    key_list(list);
    ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet257", 32, 1, 1), list, 7, 0), PLTFM_SUCCESS);
    EXPECT_EQ(values(list), "GENERIC|RJ45|25G/100G|NRZ|32|1|1|");
    EXPECT_STREQ(port_attr_list[258][1].value, "");

    // A record the OS has not filled yet (no module type) is not trusted: the EEPROM decides.
    for (const char *type : std::initializer_list<const char *>{"", nullptr}) {
        env.record("Ethernet256", type ? type : "QSFP28", "100GBASE-CR4", "No separable connector", "1");
        if (!type) env.redis.command(6, {"HDEL", "TRANSCEIVER_INFO|Ethernet256", "type"});
        char cable[24] = "keep";
        LogCapture log;
        EXPECT_EQ(pltfm_transceiver_info_get_from_redis(make_port("Ethernet256", 32, 0, 4), cable), PLTFM_NOTFOUND);
        EXPECT_STREQ(cable, "keep");
        EXPECT_TRUE(log.contains("No module type for Ethernet256 in the state database\n")) << log.text();
        key_list(list);
        ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet256", 32, 0, 4), list, 7, 0), PLTFM_SUCCESS);
        EXPECT_EQ(values(list), "GENERIC|OPTICS|25G/100G|NRZ|32|4|0|");
    }
}

// The remembered answer follows the port: speed class and encoding from the current speed,
// front port, lane count and start lane from the descriptor (a re-split port).
TEST(TransceiverInfo, RememberedAnswerAfterInsertionFollowsThePort) {
    HwEnv env;  // no module anywhere: an identification would fail
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    store_attrs(3, "OPTICS", "25G/100G", "NRZ");
    port_state_ar[3] = 1u << PLTFM_PORT_INSERTED;
    env.speed("Ethernet2", "200000");
    pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
    key_list(list);
    LogCapture log;
    ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet2", 30, 2, 4), list, 7, 1), PLTFM_SUCCESS);
    EXPECT_EQ(values(list), "GENERIC|OPTICS|50G/400G|PAM4|0|4|2|");
    EXPECT_EQ(values(port_attr_list[3]), "GENERIC|OPTICS|50G/400G|PAM4|0|4|2|");
    EXPECT_FALSE(log.contains("Open EEPROM") || log.contains("TRANSCEIVER_")) << log.text();
}
