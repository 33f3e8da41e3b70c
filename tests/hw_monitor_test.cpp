// Insertion monitor: passes over the slots (same module first seen, pulled and put back, a
// different module), start-up tables, and the real thread within a bounded wait. Each case
// runs in both Redis modes and the two runs must observe the same.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "hw_test_util.h"
#include "platform_hw_internal.h"
#include "test_util.h"

using namespace pltfm::test;
using pltfm::hw::oir_monitor_pass;

namespace {

// What a pass left: the log, the slot's state bits and stored attributes.
void note_pass(const std::string &label, const LogCapture &log) {
    modes::note_log(label, log.text());
    modes::note("slot 1: bits " + std::to_string(port_state_ar[1]) + ", stored " + values(port_attr_list[1]));
}

constexpr uint32_t kInserted = 1u << PLTFM_PORT_INSERTED;

void present(HwEnv &env, bool yes) { env.redis.hset(6, "TRANSCEIVER_STATUS|Ethernet0", "status", yes ? "1" : "0"); }

// Ethernet0 (slot 1) pre-initialised with a QSFP28 optic, as the SDK would have done it.
void bring_up_port(HwEnv &env) {
    env.fake.cage(1, qsfp28_optic());
    env.record("Ethernet0", "QSFP28", "100GBASE-SR4 Fibre", "MPO 1x12", "0");
    env.speed("Ethernet0", "100000");
    env.redis.hset(4, "PORT|Ethernet0", "admin_status", "up");
    pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
    key_list(list);
    ASSERT_EQ(pltfm_transceiver_info_get(make_port("Ethernet0", 30, 0, 4), list, 7, 1), PLTFM_SUCCESS);
    ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0", 30, 0, 4), PLTFM_PORT_PRE_INIT), PLTFM_SUCCESS);
    ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0", 30, 0, 4), PLTFM_PORT_INIT), PLTFM_SUCCESS);
}

}  // namespace

TEST(OirMonitor, SameModulePulledAndPutBackThenADifferentModule) {
    if (modes::run_both()) return;
    HwEnv env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    bring_up_port(env);
    for (const char *round : {"first seen", "put back"}) {
        env.fake.cage(1, qsfp28_optic().set(0, 86, 0x0F));  // lasers off, to see the set-up
        present(env, true);
        LogCapture seen;
        oir_monitor_pass();
        note_pass(std::string("pass, module ") + round, seen);
        EXPECT_TRUE(seen.contains("pltfm_transceiver_hw_oir_monitor: Port 0 insert the same transceiver GENERIC "
                                  "OPTICS 25G/100G NRZ.\n")) << round << seen.text();
        EXPECT_EQ(port_state_ar[1] & (kInserted | 3u), kInserted | 3u) << round;
        EXPECT_EQ(env.fake.eeprom_byte(1, 0, 86), 0x00) << round;
        LogCapture log;  // nothing changed
        oir_monitor_pass();
        EXPECT_FALSE(log.contains("Port 0 ")) << log.text();
        note_pass("pass, nothing changed", log);
        // Pulled: only the inserted bit goes; the stored answer stays.
        const uint32_t before = port_state_ar[1];
        present(env, false);
        oir_monitor_pass();
        EXPECT_EQ(port_state_ar[1], before & ~kInserted) << round;
        EXPECT_STREQ(port_attr_list[1][1].value, "OPTICS");
    }
    EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet0", "admin_status"), "up");

    env.fake.cage(1, qsfp28_dac(3));  // a copper cable goes in
    env.record("Ethernet0", "QSFP28", "100GBASE-CR4", "No separable connector", "3");
    {
        LogCapture swapped;
        oir_monitor_pass();
        note_pass("pass, module exchanged", swapped);
        EXPECT_TRUE(swapped.contains("Port 0 from GENERIC OPTICS 25G/100G NRZ to GENERIC DAC_3M 25G/100G NRZ.\n"));
    }
    EXPECT_STREQ(port_attr_list[1][1].value, "DAC_3M");
    EXPECT_EQ(port_state_ar[1] & (kInserted | 3u), kInserted);
    oir_monitor_pass();  // stays inserted: no second toggle
    EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet0", "admin_status"), "down");

    // The OS takes the port down: the toggle brings it back and no laser is touched.
    {
        LogCapture down;
        ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0"), PLTFM_PORT_DOWN), PLTFM_SUCCESS);
        EXPECT_FALSE(down.contains("Get (Ethernet0)")) << down.text();
        note_pass("port-down", down);
    }
    EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet0", "admin_status"), "up");
    EXPECT_EQ(port_state_ar[1], kInserted | (1u << PLTFM_PORT_DOWN));

    // Information that cannot be obtained is logged and changes nothing.
    env.speed("Ethernet0", "1");  // no lane-speed class
    port_state_ar[1] &= ~kInserted;
    LogCapture log;
    oir_monitor_pass();
    EXPECT_TRUE(log.contains("Port 0 get transceiver information failed\n")) << log.text();
    EXPECT_STREQ(port_attr_list[1][1].value, "DAC_3M");
    note_pass("pass, no lane-speed class", log);
    modes::note_world(env.redis, env.fake);
    // Nor is a failed status read an absence.
    port_state_ar[1] |= kInserted;
    env.redis.stop();
    LogCapture stopped;
    oir_monitor_pass();
    EXPECT_NE(port_state_ar[1] & kInserted, 0u);
    note_pass("pass, server stopped", stopped);
}

TEST(OirMonitor, StartUpTablesAndRunningThread) {
    if (modes::run_both()) return;
    HwEnv env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    env.fake.port_config_line("Ethernet0", 100000).cage(1, qsfp28_dac(1));
    env.record("Ethernet0", "QSFP28", "100GBASE-CR4", "No separable connector", "1");
    env.speed("Ethernet0", "100000");
    env.redis.hset(4, "PORT|Ethernet0", "admin_status", "up");
    std::strcpy(port_attr_list[5][0].value, "stale");
    {
        LogCapture quiet;
        ASSERT_EQ(pltfm_transceiver_monitor(), PLTFM_SUCCESS);
        modes::note_log("start-up", quiet.text());  // the default speeds read for 258 slots
    }
    pthread_mutex_lock(&mutex);  // every slot gets an empty key list
    for (uint32_t slot = 1; slot <= 258; ++slot)
        EXPECT_TRUE(values(port_attr_list[slot]) == "|||||||" && port_attr_list[slot][6].key == PLTFM_ATTR_LANE) << slot;
    pthread_mutex_unlock(&mutex);
    EXPECT_EQ(port_default_speed_ar[1], 100000);
    EXPECT_EQ(port_default_speed_ar[2], 0);

    // Configure the port while the thread runs; the present module of a new kind (stored list
    // is empty) is stored and toggles the admin status down within a few passes.
    ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0", 30, 0, 4), PLTFM_PORT_INIT), PLTFM_SUCCESS);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (env.redis.hget(4, "PORT|Ethernet0", "admin_status") != "down" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet0", "admin_status"), "down");
    pthread_mutex_lock(&mutex);
    EXPECT_STREQ(port_attr_list[1][1].value, "DAC_1M");
    EXPECT_NE(port_state_ar[1] & kInserted, 0u);
    modes::note("slot 1 stored " + values(port_attr_list[1]));
    pthread_mutex_unlock(&mutex);
    modes::note_world(env.redis, env.fake);
}
