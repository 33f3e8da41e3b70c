// The administrative cycle around a module exchange and the lasers of down ports: the library
// takes only an up port down, brings back up only a port it took down itself, never flips the
// operator's choice, and a module found in a down port keeps its lasers off.
#include <gtest/gtest.h>

#include "hw_test_util.h"
#include "platform_hw_internal.h"
#include "test_util.h"

using namespace pltfm::test;
using pltfm::hw::oir_monitor_pass;

namespace {

constexpr uint32_t kPreInit = 1u << PLTFM_PORT_PRE_INIT, kInit = 1u << PLTFM_PORT_INIT,
                   kDown = 1u << PLTFM_PORT_DOWN, kInserted = 1u << PLTFM_PORT_INSERTED;
constexpr uint8_t kLasersOff = 0x0F, kLasersOn = 0x00;  // TX disable bits of lanes 0 to 3

// Ethernet0: four lanes at 100G in cage 1, as the SDK and the OS drive it.
struct Port0 : HwEnv {
    Port0() {
        speed("Ethernet0", "100000");
        admin("up");
    }
    void admin(const char *value) { redis.hset(4, "PORT|Ethernet0", "admin_status", value); }
    std::string admin() const {
        return redis.hget(4, "PORT|Ethernet0", "admin_status").value_or("(none)");
    }
    // A QSFP28 optic whose transmitters stand as `tx_disable` when it goes in.
    void optic(uint8_t tx_disable) {
        fake.cage(1, qsfp28_optic().set(0, 86, tx_disable));
        record("Ethernet0", "QSFP28", "100GBASE-SR4 Fibre", "MPO 1x12", "0");
    }
    void dac() {
        fake.cage(1, qsfp28_dac(3));
        record("Ethernet0", "QSFP28", "100GBASE-CR4", "No separable connector", "3");
    }
    // Pulled, and the monitor sees the empty cage.
    void pull() {
        fake.empty_cage(1);
        redis.hset(6, "TRANSCEIVER_STATUS|Ethernet0", "status", "0");
        oir_monitor_pass();
    }
    void pre_init() {
        pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
        key_list(list);
        ASSERT_EQ(pltfm_transceiver_info_get(port, list, 7, 1), PLTFM_SUCCESS);
        ASSERT_EQ(pltfm_transceiver_configure(port, PLTFM_PORT_PRE_INIT), PLTFM_SUCCESS);
        ASSERT_EQ(pltfm_transceiver_configure(port, PLTFM_PORT_INIT), PLTFM_SUCCESS);
    }
    void down() {
        ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0"), PLTFM_PORT_DOWN),
                  PLTFM_SUCCESS);
    }
    uint32_t bits() const {
        pthread_mutex_lock(&mutex);
        const uint32_t b = port_state_ar[1];
        pthread_mutex_unlock(&mutex);
        return b;
    }
    std::string cable() const {
        pthread_mutex_lock(&mutex);
        const std::string c = port_attr_list[1][1].value;
        pthread_mutex_unlock(&mutex);
        return c;
    }
    uint8_t lasers() const { return fake.eeprom_byte(1, 0, 86); }

    const pltfm_port_t port = make_port("Ethernet0", 30, 0, 4);
};

}  // namespace

// The specified cycle: a different module in an up port takes it down, the port-down that
// follows brings it up once, and only once.
TEST(AdminCycle, ExchangeInAnUpPortEndsUpAtTheNextPortDownOnly) {
    Port0 p;
    ASSERT_TRUE(p.redis.ok()) << p.redis.error();
    p.optic(kLasersOff);
    p.pre_init();
    oir_monitor_pass();  // first sighting: lasers on
    EXPECT_EQ(p.lasers(), kLasersOn);

    p.pull();
    p.dac();
    oir_monitor_pass();
    EXPECT_EQ(p.admin(), "down");
    EXPECT_EQ(p.bits() & (kPreInit | kInit | kInserted), kInserted);
    p.down();  // the OS takes it down
    EXPECT_EQ(p.admin(), "up");
    p.down();  // a second port-down writes nothing
    EXPECT_EQ(p.admin(), "up");
    p.pre_init();  // re-created with the stored (new) module
    EXPECT_EQ(p.cable(), "DAC_3M");
    p.down();
    EXPECT_EQ(p.admin(), "up");
}

// The operator shut the port: neither a module exchange nor port-downs bring it back.
TEST(AdminCycle, OperatorShutIsNeverUndone) {
    Port0 p;
    ASSERT_TRUE(p.redis.ok()) << p.redis.error();
    p.optic(kLasersOff);
    p.pre_init();
    oir_monitor_pass();
    p.admin("down");  // shut; the OS takes the port down
    p.down();
    EXPECT_EQ(p.lasers(), kLasersOff);

    p.pull();
    p.dac();
    LogCapture log;
    oir_monitor_pass();
    EXPECT_TRUE(
        log.contains("Port 0 from GENERIC OPTICS 25G/100G NRZ to GENERIC DAC_3M 25G/100G NRZ.\n"));
    EXPECT_EQ(p.admin(), "down");
    EXPECT_EQ(p.cable(), "DAC_3M");  // stored for the port's next pre-initialisation
    EXPECT_NE(p.bits() & kInserted, 0u);
    p.down();
    EXPECT_EQ(p.admin(), "down");

    p.admin("up");  // no shut: the OS creates the port with the new module
    p.pre_init();
    EXPECT_EQ(p.cable(), "DAC_3M");
    EXPECT_EQ(p.admin(), "up");
}

// A "down" that could not be written opens no cycle; a pre-initialisation closes one.
TEST(AdminCycle, FailedDownWriteAndPreInitLeaveNothingToUndo) {
    Port0 p;
    ASSERT_TRUE(p.redis.ok()) << p.redis.error();
    p.optic(kLasersOff);
    p.pre_init();
    oir_monitor_pass();

    p.pull();
    p.dac();
    // Reads are allowed, writes refused.
    ASSERT_EQ(p.redis.command(0, {"ACL", "SETUSER", "default", "-hset"}).kind,
              RedisReply::Kind::status);
    {
        LogCapture log;
        oir_monitor_pass();
        EXPECT_TRUE(log.contains("pltfm_transceiver_hw_oir_action: Port 0 admin down failed\n"))
            << log.text();
    }
    ASSERT_EQ(p.redis.command(0, {"ACL", "SETUSER", "default", "+hset"}).kind,
              RedisReply::Kind::status);
    EXPECT_EQ(p.admin(), "up");
    p.down();  // e.g. the SDK re-creating the port on its own: no write
    EXPECT_EQ(p.admin(), "up");

    p.pre_init();
    p.pull();
    p.optic(kLasersOff);  // another exchange takes the port down...
    oir_monitor_pass();
    ASSERT_EQ(p.admin(), "down");
    p.pre_init();  // ...but the SDK re-creates it before any port-down
    p.down();
    EXPECT_EQ(p.admin(), "down");  // the cycle was closed by the pre-initialisation
}

// A module that comes back into a port that is down keeps its transmitters off until the
// port's next pre-initialisation; so does a module of another kind.
TEST(DownPortLasers, ModuleFoundInADownPortHasItsLasersOff) {
    Port0 p;
    ASSERT_TRUE(p.redis.ok()) << p.redis.error();
    p.optic(kLasersOff);
    p.pre_init();
    oir_monitor_pass();
    p.down();
    ASSERT_EQ(p.lasers(), kLasersOff);

    for (const char *round : {"same kind", "other kind"}) {
        SCOPED_TRACE(round);
        p.pull();
        if (std::string(round) == "same kind") {
            p.optic(kLasersOn);
        } else {
            p.dac();  // stored as DAC
            oir_monitor_pass();
            p.pull();
            p.optic(kLasersOn);  // and now an optic again: a different kind
        }
        oir_monitor_pass();
        EXPECT_EQ(p.lasers(), kLasersOff);
        EXPECT_EQ(p.bits() & (kPreInit | kInit | kInserted | kDown), kInserted | kDown);
        EXPECT_EQ(p.admin(), "up");
        p.down();  // a second port-down changes nothing
        EXPECT_EQ(p.admin(), "up");
    }
    p.pre_init();
    EXPECT_EQ(p.lasers(), kLasersOn);
    EXPECT_EQ(p.cable(), "OPTICS");
}
