// Module events over the native connection: keyspace notifications of the state database's
// transceiver records wake the insertion monitor, which visits the named port at once with a
// fresh identification. A fast swap (pulled and another kind put in between two passes) is
// noticed; a server without notifications leaves the library polling; junk and unconfigured
// interfaces are ignored; a lost subscription is made again with one fresh pass.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "hw_test_util.h"
#include "ifcs_devport.h"
#include "platform_hw_internal.h"
#include "platform_hw_redis_events.h"
#include "platform_serdes.h"
#include "serdes_records.h"
#include "test_util.h"
#include "tuning_reference.h"

using namespace pltfm::test;
using namespace std::chrono_literals;
using pltfm::hw::oir_dispatch_pending_events;
using pltfm::hw::oir_monitor_pass;

namespace {

// Ethernet0: four lanes at 100G in cage 1, with a QSFP28 optic the SDK has created the port
// for, seen once by the monitor. The server sends keyspace events as the OS's does ("AKE")
// unless told otherwise.
struct Cage1 {
    explicit Cage1(const char *notify = "AKE") : redis(notify) {
        modes::select(modes::Mode::native, redis.socket_path());
        fake.activate();
        redis.hset(0, "PORT_TABLE:Ethernet0", "speed", "100000");
        redis.hset(4, "PORT|Ethernet0", "admin_status", "up");
        optic();
        pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
        key_list(list);
        pltfm_transceiver_info_get(port, list, 7, 1);
        pltfm_transceiver_configure(port, PLTFM_PORT_PRE_INIT);
        pltfm_transceiver_configure(port, PLTFM_PORT_INIT);
        oir_monitor_pass();  // subscribes, and sees the module for the first time
    }
    void record(const char *compliance, const char *connector, const char *length) {
        const std::string key = "TRANSCEIVER_INFO|Ethernet0";
        redis.del(6, key);
        redis.command(6, {"HSET", key, "type", "QSFP28", "specification_compliance", compliance,
                          "connector", connector, "cable_length", length});
        redis.hset(6, "TRANSCEIVER_STATUS|Ethernet0", "status", "1");
    }
    void optic() {
        fake.cage(1, qsfp28_optic());
        record("100GBASE-SR4 Fibre", "MPO 1x12", "0");
    }
    // Pulled and a DAC put in, faster than a pass: the monitor never sees the empty cage.
    void fast_swap_to_dac() {
        redis.hset(6, "TRANSCEIVER_STATUS|Ethernet0", "status", "0");
        fake.cage(1, qsfp28_dac(3));
        record("100GBASE-CR4", "No separable connector", "3");
    }
    std::string admin() const {
        return redis.hget(4, "PORT|Ethernet0", "admin_status").value_or("(none)");
    }
    std::string cable() const {
        pthread_mutex_lock(&mutex);
        const std::string c = port_attr_list[1][1].value;
        pthread_mutex_unlock(&mutex);
        return c;
    }

    RedisServer redis;
    FakePlatform fake;
    const pltfm_port_t port = make_port("Ethernet0", 30, 0, 4);
};

}  // namespace

TEST(ModuleEventChannels, OnlyTransceiverRecordsOfSafeNamesCount) {
    using pltfm::redis::event_interface;
    EXPECT_EQ(event_interface("__keyspace@6__:TRANSCEIVER_STATUS|Ethernet8"), "Ethernet8");
    EXPECT_EQ(event_interface("__keyspace@6__:TRANSCEIVER_INFO|Ethernet256"), "Ethernet256");
    for (const char *junk :
         {"__keyspace@6__:TRANSCEIVER_STATUS|", "__keyspace@6__:PORT|Ethernet8",
          "__keyspace@4__:TRANSCEIVER_STATUS|Ethernet8", "__keyevent@6__:hset",
          "TRANSCEIVER_STATUS|Ethernet8", "__keyspace@6__:TRANSCEIVER_INFO|Ethernet8;reboot",
          "__keyspace@6__:TRANSCEIVER_INFO|Ethernet 8",
          "__keyspace@6__:TRANSCEIVER_INFO|Ethernet012345678901234567890", ""})
        EXPECT_EQ(event_interface(junk), "") << junk;

    using pltfm::redis::keyspace_flags_suffice;
    EXPECT_TRUE(keyspace_flags_suffice("AKE"));
    EXPECT_TRUE(keyspace_flags_suffice("Kgh"));
    EXPECT_TRUE(keyspace_flags_suffice("KA"));
    EXPECT_FALSE(keyspace_flags_suffice(""));
    EXPECT_FALSE(keyspace_flags_suffice("AE"));  // key events only: no channel per key
    EXPECT_FALSE(keyspace_flags_suffice("Kh"));  // a DEL of a record would go unheard
    EXPECT_FALSE(keyspace_flags_suffice("Kg"));
}

// The fault events mend: without them a module exchanged between two passes is never seen
// (the inserted slot is answered from memory); with them the visit identifies the new module
// and the exchange cycle takes the port down.
TEST(ModuleEvents, FastSwapIsNoticedThroughEvents) {
    Cage1 c;
    ASSERT_TRUE(c.redis.ok()) << c.redis.error();
    c.fast_swap_to_dac();
    oir_monitor_pass();
    EXPECT_EQ(c.admin(), "up") << "a pass alone does not notice a fast swap";
    EXPECT_EQ(c.cable(), "OPTICS");

    LogCapture log;
    std::vector<std::string> heard;
    EXPECT_EQ(oir_dispatch_pending_events(&heard), 1u) << log.text();
    EXPECT_FALSE(heard.empty());
    for (const auto &h : heard) EXPECT_EQ(h, "Ethernet0");
    EXPECT_TRUE(
        log.contains("Port 0 from GENERIC OPTICS 25G/100G NRZ to GENERIC DAC_3M 25G/100G NRZ.\n"))
        << log.text();
    EXPECT_EQ(c.admin(), "down");
    EXPECT_EQ(c.cable(), "DAC_3M");

    // The port-down the OS answers with brings it back up, as after a pass.
    ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0"), PLTFM_PORT_DOWN), PLTFM_SUCCESS);
    EXPECT_EQ(c.admin(), "up");
    // Events about a module that did not change visit the port and change nothing.
    c.record("100GBASE-CR4", "No separable connector", "3");
    LogCapture quiet;
    EXPECT_EQ(oir_dispatch_pending_events(), 1u);
    EXPECT_FALSE(quiet.contains(" from ")) << quiet.text();
    EXPECT_EQ(c.admin(), "up");
}

// A server that sends no keyspace events: one line, and the library polls as before.
TEST(ModuleEvents, ServerWithoutNotificationsLeavesThePoll) {
    LogCapture log;
    Cage1 c("");
    ASSERT_TRUE(c.redis.ok()) << c.redis.error();
    oir_monitor_pass();
    EXPECT_EQ(log.text().find("Redis keyspace events are off (notify-keyspace-events \"\""),
              log.text().rfind("Redis keyspace events are off"))
        << "one line: " << log.text();
    EXPECT_TRUE(log.contains("Redis keyspace events are off")) << log.text();
    c.redis.hset(6, "TRANSCEIVER_STATUS|Ethernet0", "status", "0");
    EXPECT_EQ(oir_dispatch_pending_events(), 0u);
    oir_monitor_pass();  // the poll still sees the empty cage
    pthread_mutex_lock(&mutex);
    EXPECT_EQ(port_state_ar[1] & (1u << PLTFM_PORT_INSERTED), 0u);
    pthread_mutex_unlock(&mutex);
    EXPECT_EQ(c.redis.command(0, {"CONFIG", "GET", "notify-keyspace-events"}).elements.at(1).text,
              "")
        << "the library never changes the server's configuration";
}

// Events for interfaces no slot holds, and channel names that are not a transceiver record
// of a plain interface name, visit nothing.
TEST(ModuleEvents, JunkAndUnconfiguredInterfacesAreIgnored) {
    Cage1 c;
    ASSERT_TRUE(c.redis.ok()) << c.redis.error();
    c.redis.hset(6, "TRANSCEIVER_STATUS|Ethernet8", "status", "1");
    for (const char *channel : {"__keyspace@6__:TRANSCEIVER_STATUS|",
                                "__keyspace@6__:TRANSCEIVER_INFO|Ethernet0$(reboot)",
                                "__keyspace@6__:TRANSCEIVER_STATUS|Ethernet999"})
        c.redis.command(0, {"PUBLISH", channel, "hset"});
    LogCapture log;
    std::vector<std::string> heard;
    EXPECT_EQ(oir_dispatch_pending_events(&heard), 0u);
    EXPECT_EQ(heard, (std::vector<std::string>{"Ethernet8", "Ethernet999"}));
    EXPECT_EQ(log.text(), "");
    c.redis.hset(6, "TRANSCEIVER_STATUS|Ethernet0", "status", "1");
    EXPECT_EQ(oir_dispatch_pending_events(), 1u);
}

// The subscription dropped by the server: the events sent meanwhile are gone, so the pass that
// subscribes again looks at every port afresh and notices the swap.
TEST(ModuleEvents, LostSubscriptionIsMadeAgainWithAFreshPass) {
    Cage1 c;
    ASSERT_TRUE(c.redis.ok()) << c.redis.error();
    const RedisReply killed = c.redis.command(0, {"CLIENT", "KILL", "TYPE", "pubsub"});
    EXPECT_EQ(killed.integer, 1);
    c.fast_swap_to_dac();
    LogCapture log;
    EXPECT_EQ(oir_dispatch_pending_events(), 0u);
    EXPECT_TRUE(log.contains("Redis keyspace events lost")) << log.text();
    oir_monitor_pass();
    EXPECT_TRUE(log.contains("subscribed again")) << log.text();
    EXPECT_TRUE(log.contains("Port 0 from GENERIC OPTICS 25G/100G NRZ to GENERIC DAC_3M"))
        << log.text();
    EXPECT_EQ(c.admin(), "down");
}

namespace {

// The real insertion thread and a simulated OS: the OS answers an "admin_status" of "down"
// with a port-down and "up" with the port created again.
struct LiveSwitch {
    LiveSwitch() : redis("AKE") {
        modes::select(modes::Mode::native, redis.socket_path());
        fake.tuning_dir_from(PLTFM_EXAMPLES_DIR "/platform/CSV");
        fake.port_config_line("Ethernet248", 400000, "0,1,2,3,4,5,6,7");
        fake.cage(FakePlatform::front_panel_of(0, 0), qsfp_dd_optic());
        fake.activate();
        redis.hset(0, "PORT_TABLE:Ethernet248", "speed", "400000");
        redis.hset(4, "PORT|Ethernet248", "admin_status", "up");
        dd_record("400GBASE-DR4 Optical", "0");
        reference = read_reference(fake.tuning_dir());
    }
    void dd_record(const char *compliance, const char *length) {
        const std::string key = "TRANSCEIVER_INFO|Ethernet248";
        redis.del(6, key);
        redis.command(6, {"HSET", key, "type", "QSFP-DD Double Density 8X Pluggable Transceiver",
                          "specification_compliance", compliance, "cable_length", length});
        redis.hset(6, "TRANSCEIVER_STATUS|Ethernet248", "status", "1");
    }
    std::vector<ifcs_attr_t> attrs() const {
        return {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, 1),
                devport(IFCS_DEVPORT_ATTR_START_LANE, 0), devport(IFCS_DEVPORT_ATTR_NUM_LANES, 8),
                devport(IFCS_DEVPORT_ATTR_SPEED, 400000),
                devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
    }
    std::vector<Rec> create() {
        char name[] = "Ethernet248";
        auto a = attrs();
        uint32_t n = static_cast<uint32_t>(a.size());
        const ifcs_attr_t *list = pltfm_port_pre_init(name, a.data(), &n);
        if (list == nullptr) return {};
        std::vector<Rec> recs = recs_of(list, n);
        n = static_cast<uint32_t>(a.size());
        pltfm_port_init(name, a.data(), &n);
        return recs;
    }
    std::vector<Rec> tuning_of(const std::string &cable) const {
        return expected(reference.at(cable + "|GENERIC|50G/400G|PAM4|31"), 0, 8);
    }

    RedisServer redis;
    FakePlatform fake;
    Reference reference;
};

}  // namespace

// A fast swap on a live switch: the status goes 0, the other kind's record is written and the
// status goes 1 within a few milliseconds. The insertion thread hears it, the OS re-creates
// the port, and it runs with the new module's tuning.
TEST(ModuleEvents, FastSwapRecreatesThePortWithTheNewTuning) {
    LiveSwitch s;
    ASSERT_TRUE(s.redis.ok()) << s.redis.error();
    char platform[] = "SwitchSDK";
    LogCapture log;
    ASSERT_EQ(pltfm_pre_init(platform), PLTFM_SUCCESS);
    ASSERT_EQ(s.create(), s.tuning_of("OPTICS"));
    const auto settled = [&] { return log.contains("Port 248 insert the same transceiver"); };
    for (int i = 0; i < 500 && !settled(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(settled()) << log.text();

    s.redis.hset(6, "TRANSCEIVER_STATUS|Ethernet248", "status", "0");
    s.fake.cage(FakePlatform::front_panel_of(0, 0), qsfp_dd_dac(1));
    s.dd_record("passive_copper_media_interface", "1");
    std::string admin = "up";
    for (int i = 0; i < 300 && admin != "down"; ++i) {
        std::this_thread::sleep_for(10ms);
        admin = s.redis.hget(4, "PORT|Ethernet248", "admin_status").value_or("");
    }
    ASSERT_EQ(admin, "down") << log.text();
    char name[] = "Ethernet248";
    ASSERT_EQ(pltfm_port_down(name), PLTFM_SUCCESS);  // the OS takes the port down...
    EXPECT_EQ(s.redis.hget(4, "PORT|Ethernet248", "admin_status"), "up");
    EXPECT_EQ(s.create(), s.tuning_of("DAC_1M"));  // ...and creates it again
    EXPECT_EQ(pltfm_port_down(name), PLTFM_SUCCESS);
}
