// Insertion monitor: start-up tables, one pass over the slots (same module first seen, pulled
// and put back, a different module), and the real thread within a bounded wait.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "fake_platform.h"
#include "hw_test_util.h"
#include "platform_hw_internal.h"
#include "redis_server.h"
#include "test_util.h"

using namespace pltfm::test;
using pltfm::hw::oir_monitor_pass;

namespace {

constexpr uint32_t kInserted = 1u << PLTFM_PORT_INSERTED;

struct Env {
    RedisServer redis;
    FakePlatform fake;
    Env() {
        redis.use_on_path();
        fake.port_config_line("Ethernet0", 100000);
        fake.activate();
    }
    void present(bool yes) { redis.hset(6, "TRANSCEIVER_STATUS|Ethernet0", "status", yes ? "1" : "0"); }
    // The OS's record of the module in Ethernet0.
    void record(const char *type, const char *compliance, const char *connector, const char *length) {
        const std::string key = "TRANSCEIVER_INFO|Ethernet0";
        redis.hset(6, key, "type", type);
        redis.hset(6, key, "specification_compliance", compliance);
        redis.hset(6, key, "connector", connector);
        redis.hset(6, key, "cable_length", length);
    }
};

// Ethernet0 (slot 1) pre-initialised with a QSFP28 optic, as the SDK would have done it.
void bring_up_port(Env &env) {
    env.fake.cage(1, qsfp28_optic());
    env.record("QSFP28", "100GBASE-SR4 Fibre", "MPO 1x12", "0");
    env.redis.hset(0, "PORT_TABLE:Ethernet0", "speed", "100000");
    env.redis.hset(4, "PORT|Ethernet0", "admin_status", "up");
    pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
    key_list(list);
    ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet0", 30, 0, 4), list, 7, 1), PLTFM_SUCCESS);
    ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0", 30, 0, 4), PLTFM_PORT_PRE_INIT), PLTFM_SUCCESS);
    ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0", 30, 0, 4), PLTFM_PORT_INIT), PLTFM_SUCCESS);
}

}  // namespace

TEST(OirMonitor, SameModuleFirstSeenThenPulledAndPutBack) {
    Env env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    bring_up_port(env);
    env.fake.cage(1, qsfp28_optic().set(0, 86, 0x0F));  // lasers off again, to see the set-up
    env.present(true);
    {
        LogCapture log;
        oir_monitor_pass();
        EXPECT_TRUE(log.contains("pltfm_transceiver_hw_oir_monitor: Port 0 insert the same transceiver GENERIC OPTICS "
                                 "25G/100G NRZ.\n"))
            << log.text();
        EXPECT_TRUE(log.contains("Set TX Laser Enable From 0x0F To 0x00 For Port 0 With 4 Lanes"));
    }
    EXPECT_EQ(port_state_ar[1] & (kInserted | 3u), kInserted | 3u);
    EXPECT_EQ(env.fake.eeprom_byte(1, 0, 86), 0x00);
    EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet0", "admin_status"), "up");
    {
        LogCapture log;  // nothing changed
        oir_monitor_pass();
        EXPECT_FALSE(log.contains("Port 0 ")) << log.text();
    }
    // Pulled: only the inserted bit goes.
    const uint32_t before = port_state_ar[1];
    env.present(false);
    oir_monitor_pass();
    EXPECT_EQ(port_state_ar[1], before & ~kInserted);
    EXPECT_STREQ(port_attr_list[1][1].value, "OPTICS");
    // A failed status read is not an absence.
    port_state_ar[1] |= kInserted;
    env.redis.del(6, "TRANSCEIVER_STATUS|Ethernet0");
    env.redis.stop();
    oir_monitor_pass();
    EXPECT_NE(port_state_ar[1] & kInserted, 0u);
}

TEST(OirMonitor, DifferentModuleReplacesAttributesAndTogglesOnce) {
    Env env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    bring_up_port(env);
    env.present(true);
    oir_monitor_pass();  // same module first seen
    env.present(false);
    oir_monitor_pass();
    env.fake.cage(1, qsfp28_dac(3));  // a copper cable goes in
    env.record("QSFP28", "100GBASE-CR4", "No separable connector", "3");
    env.present(true);
    {
        LogCapture log;
        oir_monitor_pass();
        EXPECT_TRUE(log.contains("Port 0 from GENERIC OPTICS 25G/100G NRZ to GENERIC DAC_3M 25G/100G NRZ.\n")) << log.text();
    }
    EXPECT_STREQ(port_attr_list[1][1].value, "DAC_3M");
    EXPECT_EQ(port_state_ar[1] & (kInserted | 3u), kInserted);
    EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet0", "admin_status"), "down");
    oir_monitor_pass();  // stays inserted: no second toggle
    EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet0", "admin_status"), "down");

    // The OS takes the port down: the toggle brings it back; the new pre-init gets DAC_3M.
    pltfm_port_t down{};
    std::strcpy(down.intf_name, "Ethernet0");
    ASSERT_EQ(pltfm_transceiver_configure(down, PLTFM_PORT_DOWN), PLTFM_SUCCESS);
    EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet0", "admin_status"), "up");
    pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
    key_list(list);
    ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet0", 30, 0, 4), list, 7, 1), PLTFM_SUCCESS);
    EXPECT_STREQ(list[1].value, "DAC_3M");

    // Information that cannot be obtained is logged on each pass and changes nothing.
    env.redis.hset(0, "PORT_TABLE:Ethernet0", "speed", "1");  // no lane-speed class
    port_state_ar[1] &= ~kInserted;
    LogCapture log;
    oir_monitor_pass();
    EXPECT_TRUE(log.contains("Port 0 get transceiver information failed\n")) << log.text();
    EXPECT_STREQ(port_attr_list[1][1].value, "DAC_3M");
}

TEST(OirMonitor, StartUpTablesAndRunningThread) {
    Env env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    env.fake.cage(1, qsfp28_dac(1));
    env.record("QSFP28", "100GBASE-CR4", "No separable connector", "1");
    env.redis.hset(0, "PORT_TABLE:Ethernet0", "speed", "100000");
    env.redis.hset(4, "PORT|Ethernet0", "admin_status", "up");
    std::strcpy(port_attr_list[5][0].value, "stale");
    {
        LogCapture quiet;
        ASSERT_EQ(pltfm_transceiver_monitor(), PLTFM_SUCCESS);
    }
    for (uint32_t s = 1; s <= 258; ++s) {
        pthread_mutex_lock(&mutex);
        ASSERT_EQ(port_attr_list[s][0].key, PLTFM_ATTR_VENDOR);
        ASSERT_EQ(port_attr_list[s][6].key, PLTFM_ATTR_LANE);
        ASSERT_STREQ(port_attr_list[s][0].value, "");
        pthread_mutex_unlock(&mutex);
        ASSERT_EQ(pthread_mutex_trylock(&i2c_mutex[s]), 0);
        pthread_mutex_unlock(&i2c_mutex[s]);
    }
    EXPECT_EQ(port_default_speed_ar[1], 100000);
    EXPECT_EQ(port_default_speed_ar[2], 0);

    // Configure the port while the thread runs; a present module of a new kind (stored list
    // is empty) is stored and toggles the admin status down within a few passes.
    ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0", 30, 0, 4), PLTFM_PORT_INIT), PLTFM_SUCCESS);
    env.present(true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::optional<std::string> admin;
    while (std::chrono::steady_clock::now() < deadline) {
        admin = env.redis.hget(4, "PORT|Ethernet0", "admin_status");
        if (admin == "down") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(admin, "down");
    pthread_mutex_lock(&mutex);
    EXPECT_STREQ(port_attr_list[1][1].value, "DAC_1M");
    EXPECT_NE(port_state_ar[1] & kInserted, 0u);
    pthread_mutex_unlock(&mutex);
}
