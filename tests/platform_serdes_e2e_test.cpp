// The SDK's view end to end against a private Redis server, a fake sysfs tree and the sample
// tuning directory: every returned record checked against the tuning files (read here on
// their own), port life, module exchange and the rescan thread in real time, and port
// pre-initialisation racing tuning reloads, and every allocation of pre-initialisation failing.
// Each case runs in both Redis modes and the two runs must observe the same.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "alloc.h"
#include "both_modes.h"
#include "fake_platform.h"
#include "ifcs_devport.h"
#include "platform_hw_internal.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "redis_server.h"
#include "serdes_records.h"
#include "test_util.h"
#include "tuning_reference.h"

namespace {

using namespace std::chrono_literals;
using pltfm::test::devport;
using pltfm::test::Rec;
using pltfm::test::Reference;
using pltfm::test::expected;
using pltfm::test::read_reference;
namespace modes = pltfm::test::modes;
namespace fs = std::filesystem;

// ---- The switch around the library. -------------------------------------------------------

// One SDK port: its SerDes group (1 to 33), start lane, lane count and speed.
struct SdkPort {
    int32_t sg, sl, nl, speed;
    uint32_t slot() const { return *pltfm::hw::port_slot(sg - 1, sl); }
    std::string name() const { return "Ethernet" + std::to_string(slot() - 1); }
    int call(int (*fn)(char *, ifcs_attr_t *, uint32_t *)) const {
        auto attrs = attrs_();
        uint32_t count = static_cast<uint32_t>(attrs.size());
        return fn(name().data(), attrs.data(), &count);
    }
    ifcs_attr_t *pre_init(uint32_t *count) const {
        auto attrs = attrs_();
        *count = static_cast<uint32_t>(attrs.size());
        return pltfm_port_pre_init(name().data(), attrs.data(), count);
    }
    int down() const { return pltfm_port_down(name().data()); }
    std::vector<ifcs_attr_t> attrs_() const {
        return {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, sg),
                devport(IFCS_DEVPORT_ATTR_START_LANE, sl), devport(IFCS_DEVPORT_ATTR_NUM_LANES, nl),
                devport(IFCS_DEVPORT_ATTR_SPEED, speed),
                devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
    }
};

// An 8-lane 400G port, a 4x100G breakout and the two extra cages at 25G; another 400G port.
const SdkPort k400g{1, 0, 8, 400000}, k400gB{31, 0, 8, 400000};
// clang-format off
const SdkPort kPorts[] = {k400g, {2, 0, 2, 100000}, {2, 2, 2, 100000}, {2, 4, 2, 100000},
                          {2, 6, 2, 100000}, {33, 0, 1, 25000}, {33, 1, 1, 25000}};
// clang-format on

enum class Module { qsfp_dd_optic, qsfp_dd_dac_1m, sfp_optic };

void plug(const pltfm::test::RedisServer &redis, const std::string &name, Module m) {
    const std::string info = "TRANSCEIVER_INFO|" + name;
    const bool dac = m == Module::qsfp_dd_dac_1m;
    redis.hset(6, info, "type",
               m == Module::sfp_optic ? "SFP/SFP+/SFP28"
                                      : "QSFP-DD Double Density 8X Pluggable Transceiver");
    redis.hset(6, info, "cable_length", dac ? "1" : "0");
    redis.hset(6, info, "specification_compliance",
               dac ? "passive_copper_media_interface" : "400GBASE-DR4 Optical");
    redis.hset(6, info, "connector", "LC");
    redis.hset(6, "TRANSCEIVER_STATUS|" + name, "status", "1");
}

uint32_t state_bits(uint32_t slot) {
    pthread_mutex_lock(&mutex);
    const uint32_t bits = port_state_ar[slot];
    pthread_mutex_unlock(&mutex);
    return bits;
}

template <class Pred>
bool wait_for(Pred pred, std::chrono::milliseconds limit) {
    for (const auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(20ms))
        if (pred()) return true;
    return pred();
}

bool cached(const std::string &name) {
    for (const auto &e : intf_db)
        if (name == e.intf_name) return true;
    return false;
}

class SwitchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (modes::run_both()) return;
        ASSERT_TRUE(redis_.ok()) << redis_.error();
        modes::use(redis_);
        ASSERT_TRUE(fake_.ok()) << fake_.error();
        fake_.tuning_dir_from(PLTFM_EXAMPLES_DIR "/platform/CSV");
        std::vector<SdkPort> ports(std::begin(kPorts), std::end(kPorts));
        ports.push_back(k400gB);
        for (const auto &p : ports) {
            fake_.port_config_line(p.name(), p.speed);
            redis_.hset(0, "PORT_TABLE:" + p.name(), "speed", std::to_string(p.speed));
            redis_.hset(4, "PORT|" + p.name(), "admin_status", "up");
            plug(redis_, p.name(), p.sg == 33 ? Module::sfp_optic : Module::qsfp_dd_optic);
        }
        using pltfm::test::FakePlatform;
        fake_.cage(FakePlatform::front_panel_of(0, 0), pltfm::test::qsfp_dd_optic());
        fake_.cage(FakePlatform::front_panel_of(30, 0), pltfm::test::qsfp_dd_optic());
        fake_.cage(FakePlatform::front_panel_of(1, 0), pltfm::test::qsfp_dd_optic_breakout(4));
        ASSERT_TRUE(fake_.ok()) << fake_.error();
        fake_.activate();
        reference_ = read_reference(fake_.tuning_dir());
    }

    void start() {
        char platform[] = "SwitchSDK";
        ASSERT_EQ(pltfm_pre_init(platform), PLTFM_SUCCESS);
    }

    void TearDown() override {
        if (!modes::parent()) modes::note_world(redis_, fake_);
    }

    // Pre-initialises the port and checks every record against the tuning files and that
    // the list is cached under the port's name. Null when pre-initialisation failed.
    ifcs_attr_t *bring_up(const SdkPort &p, const std::string &cable) {
        uint32_t count = 0;
        ifcs_attr_t *list = p.pre_init(&count);
        EXPECT_NE(list, nullptr) << p.name();
        if (list == nullptr) return nullptr;
        modes::note(p.name() + " records: " + ::testing::PrintToString(pltfm::test::recs_of(list, count)));
        const bool pam4 = p.speed / p.nl == 50000;
        const std::string key = cable + "|GENERIC|" + (pam4 ? "50G/400G|PAM4|" : "25G/100G|NRZ|") +
                                std::to_string(pltfm::hw::front_port_key(p.sg - 1));
        EXPECT_EQ(pltfm::test::recs_of(list, count),
                  expected(reference_.at(key), static_cast<std::size_t>(p.sl),
                           static_cast<std::size_t>(p.nl)))
            << p.name();
        EXPECT_TRUE(cached(p.name()));
        return list;
    }

    pltfm::test::RedisServer redis_;
    pltfm::test::FakePlatform fake_;
    Reference reference_;
};

}  // namespace

// Start-up, bring-up checked against the files, and port life.
TEST_F(SwitchTest, StartUpAndPortLife) {
    if (modes::parent()) return;
    static ifcs_attr_t stale;  // a list cached before start-up is forgotten
    ASSERT_TRUE(pltfm::serdes::intf_db_cache("Ethernet999", &stale, 1));
    pltfm::test::LogCapture log;
    start();
    EXPECT_TRUE(log.contains("pltfm_pre_init: pltfm_parser_database_init Success\n"));
    modes::note_log("start-up", log.text());
    EXPECT_FALSE(cached("Ethernet999"));

    for (const auto &p : kPorts) ASSERT_NE(bring_up(p, "OPTICS"), nullptr);
    // The insertion thread sees every module once; wait so it does not change the bits below.
    for (const auto &p : kPorts)
        ASSERT_TRUE(wait_for([&] { return (state_bits(p.slot()) & 0x20) != 0; }, 10s)) << p.name();
    for (const auto &p : kPorts) {
        SCOPED_TRACE(p.name());
        EXPECT_EQ(p.call(pltfm_port_init), PLTFM_SUCCESS);
        EXPECT_EQ(p.call(pltfm_port_link_up), PLTFM_SUCCESS);
        EXPECT_EQ(state_bits(p.slot()) & 0x1F, 0x0Bu);
        EXPECT_EQ(p.call(pltfm_port_link_down), PLTFM_SUCCESS);
        EXPECT_EQ(state_bits(p.slot()) & 0x1F, 0x13u);
        EXPECT_EQ(p.down(), PLTFM_SUCCESS);
        EXPECT_EQ(state_bits(p.slot()) & 0x1F, 0x14u);
        EXPECT_FALSE(cached(p.name()));
    }
    // Everything handed out was released (LSan in the ASan build checks the arrays).
    for (const auto &e : intf_db) EXPECT_EQ(e.attr_ptr, nullptr);
}

// Module exchange through the insertion thread, in real time (one-second passes): the port
// is taken down, port-down brings it up again, and pre-initialisation gives the new tuning.
TEST_F(SwitchTest, ModuleExchangeRetunesThePort) {
    if (modes::parent()) return;
    start();
    const uint32_t slot = k400gB.slot();
    const std::string name = k400gB.name();
    ASSERT_NE(bring_up(k400gB, "OPTICS"), nullptr);
    ASSERT_EQ(k400gB.call(pltfm_port_init), PLTFM_SUCCESS);
    ASSERT_TRUE(wait_for([&] { return (state_bits(slot) & 0x20) != 0; }, 10s));

    pltfm::test::LogCapture log;
    redis_.hset(6, "TRANSCEIVER_STATUS|" + name, "status", "0");
    ASSERT_TRUE(wait_for([&] { return (state_bits(slot) & 0x20) == 0; }, 10s));
    plug(redis_, name, Module::qsfp_dd_dac_1m);
    ASSERT_TRUE(wait_for(
        [&] {
            return log.contains(
                "Port " + std::to_string(slot - 1) +
                " from GENERIC OPTICS 50G/400G PAM4 to GENERIC DAC_1M 50G/400G PAM4.");
        },
        10s))
        << log.text();
    ASSERT_TRUE(
        wait_for([&] { return redis_.hget(4, "PORT|" + name, "admin_status") == "down"; }, 5s));

    ASSERT_EQ(k400gB.down(), PLTFM_SUCCESS);
    EXPECT_FALSE(cached(name));
    EXPECT_EQ(redis_.hget(4, "PORT|" + name, "admin_status"), "up");
    ASSERT_NE(bring_up(k400gB, "DAC_1M"), nullptr);
    EXPECT_EQ(k400gB.down(), PLTFM_SUCCESS);
}

// The real rescan thread with its real 10 s period: a trigger present at start-up reloads at
// the first poll; removed, and created again halfway between two later polls, it reloads
// once more. What a reload loads is checked poll by poll in the lifecycle tests.
TEST_F(SwitchTest, RescanThreadReloadsOnTrigger) {
    if (modes::parent()) return;
    const std::string trigger = fake_.tuning_dir() + "/csv_rescan";
    pltfm::test::write_file(trigger, "");
    pltfm::test::LogCapture log;
    start();
    const std::string done = "pltfm_csv_rescan: CSV rescan successful!\n";
    ASSERT_TRUE(wait_for([&] { return log.contains(done); }, 5s)) << log.text();
    const auto first_reload = std::chrono::steady_clock::now();
    ASSERT_EQ(std::remove(trigger.c_str()), 0);
    // The second poll (about 10 s after the first) finds no trigger; create it at 15 s, well
    // away from any poll, so the third poll reloads.
    std::this_thread::sleep_until(first_reload + 15s);
    EXPECT_EQ(log.text().find(done), log.text().rfind(done));  // still one reload
    pltfm::test::write_file(trigger, "");
    ASSERT_TRUE(wait_for([&] { return log.text().rfind(done) > log.text().find(done); }, 12s));
    ASSERT_NE(bring_up(k400g, "OPTICS"), nullptr);
    EXPECT_EQ(k400g.down(), PLTFM_SUCCESS);
}

// Port pre-initialisation in a loop while the tuning directory is reloaded over and over:
// every answer is complete and right (TSan checks the sharing).
TEST_F(SwitchTest, PreInitRacingReloads) {
    if (modes::parent()) return;
    start();
    const std::string trigger = fake_.tuning_dir() + "/csv_rescan";
    std::atomic<bool> stop{false};
    std::atomic<int> reloads{0};
    std::thread rescanner([&] {
        pltfm::serdes::RescanState state;
        while (!stop) {
            pltfm::test::write_file(trigger, "");
            pltfm::serdes::rescan_poll(state);
            std::remove(trigger.c_str());
            pltfm::serdes::rescan_poll(state);
            ++reloads;
        }
    });
    // Reloads are under way before the bring-ups start: on a busy machine the first one could
    // otherwise end only after all of them.
    EXPECT_TRUE(wait_for([&] { return reloads > 0; }, 30s));
    for (int i = 0; i < 15; ++i) {
        const SdkPort &p = kPorts[i % 5];
        if (bring_up(p, "OPTICS") == nullptr) break;  // reported by bring_up
        EXPECT_EQ(p.down(), PLTFM_SUCCESS);
    }
    stop = true;
    rescanner.join();
}

// A second start-up in the same process keeps the ports working: what they stored stays, the
// tuning stays loaded, and a port known from before gets its tuning again.
TEST_F(SwitchTest, SecondStartUpKeepsPortsWorking) {
    if (modes::parent()) return;
    start();
    ASSERT_NE(bring_up(k400g, "OPTICS"), nullptr);
    ASSERT_TRUE(wait_for([&] { return (state_bits(k400g.slot()) & 0x20) != 0; }, 10s));
    ASSERT_EQ(k400g.down(), PLTFM_SUCCESS);
    start();
    ASSERT_NE(bring_up(k400g, "OPTICS"), nullptr);
    EXPECT_EQ(k400g.down(), PLTFM_SUCCESS);
}

// Tuning files that hold fewer lanes than the port: the list handed to the SDK holds every
// record the rows give (the lanes without rows stay 0); where the usual size suffices it is
// kept, as the cache shows.
TEST_F(SwitchTest, EveryRecordFitsWhenTheFileHoldsFewerLanesThanThePort) {
    if (modes::parent()) return;
    using namespace pltfm::test;
    struct Col {
        const char *name;
        uint32_t id;
        uint64_t flag;
    };
    const Col cols[] = {{"TX_EQ_PRE1", 43, kI8List}, {"TX_EQ_PRE2", 44, kI8List},   {"TX_EQ_PRE3", 45, kI8List},
                        {"TX_EQ_ATTN", 46, kI8List}, {"TX_EQ_POST", 47, kI8List},   {"RX_CTLE_LF", 50, kU8List},
                        {"RX_CTLE_HF", 51, kU8List}, {"RX_CTLE_BW", 52, kU8List},   {"RX_GAINSHAPE1", 53, kU32List},
                        {"RX_GAINSHAPE2", 54, kU32List}, {"RX_AGC_TARGET", 55, kU32List},
                        {"AN", 16, kU32},            {"LINK_TRAINING", 21, kU32},   {"SD_RESET_THRESHOLD", 76, kU32},
                        {"RX_EYE_DISQUALIFY_THRESHOLD_25G", 56, kU32List}};
    // Front port 31 (SerDes group 1), lanes 0 and 1 only; lane l's value of column i is
    // i + 10 * l + 1.
    std::string l1 = "VERSION,CABLE TYPE,VENDOR", l2 = "1.0,OPTICS,GENERIC", l3 = ",,", l4 = ",,",
                l5 = "INDEX,FRONT PORT,LANE", data;
    for (std::size_t i = 0; i < std::size(cols); ++i) {
        l1 += ",";
        l2 += ",";
        l3 += i == 0 ? ",SPEED" : i == 1 ? ",ENCODING" : ",";
        l4 += i == 0 ? ",50G/400G" : i == 1 ? ",PAM4" : ",";
        l5 += std::string(",") + cols[i].name;
    }
    for (int lane = 0; lane < 2; ++lane) {
        data += std::to_string(lane + 1) + ",31," + std::to_string(lane);
        for (std::size_t i = 0; i < std::size(cols); ++i) data += "," + std::to_string(i + 10 * lane + 1);
        data += "\n";
    }
    for (const auto &entry : fs::directory_iterator(fake_.tuning_dir())) fs::remove(entry.path());
    pltfm::test::write_file(fake_.tuning_dir() + "/short.csv",
                            l1 + "\n" + l2 + "\n" + l3 + "\n" + l4 + "\n" + l5 + "\n" + data);
    start();

    for (const SdkPort p : {k400g, SdkPort{1, 0, 2, 100000}}) {
        SCOPED_TRACE(p.nl);
        redis_.hset(0, "PORT_TABLE:" + p.name(), "speed", std::to_string(p.speed));
        std::vector<Rec> want;
        for (std::size_t i = 0; i < std::size(cols); ++i) {
            Rec r{cols[i].id, cols[i].flag, {static_cast<long long>(i + 1)}};
            if (r.flag != kU32) {
                r.values.resize(static_cast<std::size_t>(p.nl));
                r.values[1] = static_cast<long long>(i + 11);
            }
            want.push_back(r);
        }
        uint32_t count = 0;
        ifcs_attr_t *list = p.pre_init(&count);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(pltfm::test::recs_of(list, count), want);
        const uint32_t rows = 2 * (std::size(cols) + 1);
        const uint32_t usual = static_cast<uint32_t>(p.nl) + rows / static_cast<uint32_t>(p.nl);
        const std::string name = p.name();
        const auto e = std::find_if(std::begin(intf_db), std::end(intf_db),
                                    [&](const pltfm_intf_db_t &d) { return name == d.intf_name; });
        ASSERT_NE(e, std::end(intf_db)) << name << " is not cached";
        EXPECT_EQ(e->attr_num, std::max<uint32_t>(usual, std::size(cols)));
        EXPECT_EQ(p.down(), PLTFM_SUCCESS);
    }
}

// Every counted allocation of port pre-initialisation failing in turn: the record list, then
// each element array of the translation (the lookup and the cache allocate nothing). Each
// gives a null list, the failing step's messages, nothing cached or leaked (LeakSanitizer),
// and the next pre-initialisation of the port works. A full cache is the cache's own
// failure: the list is handed out uncached, with one line naming the interface.
TEST_F(SwitchTest, EveryAllocationOfPreInitMayFail) {
    if (modes::parent()) return;
    start();
    const std::string name = k400g.name();
    uint32_t count = 0;
    pltfm::mem::reset_allocation_count();
    ifcs_attr_t *list = k400g.pre_init(&count);
    const unsigned long total = pltfm::mem::allocation_count();
    ASSERT_NE(list, nullptr);
    unsigned long arrays = 0;
    for (uint32_t i = 0; i < count; ++i)
        arrays += (list[i].bitmap & ~(pltfm::test::kU32 | pltfm::test::kData)) != 0;
    EXPECT_EQ(total, 1 + arrays);
    ASSERT_EQ(k400g.down(), PLTFM_SUCCESS);

    for (unsigned long n = 1; n <= total; ++n) {
        SCOPED_TRACE(n);
        {
            pltfm::test::LogCapture log;
            pltfm::mem::fail_nth_allocation(n);
            EXPECT_EQ(k400g.pre_init(&count), nullptr);
            pltfm::mem::fail_nth_allocation(0);
            if (n == 1) {
                EXPECT_TRUE(log.contains(
                    "pltfm_port_pre_init: Allocate memory for pltfm_attr_list fail.\n"));
            } else {
                EXPECT_TRUE(
                    log.contains("pltfm_serdes_parameters_translate: FATAL: malloc failed\n"));
                EXPECT_TRUE(log.contains(
                    "pltfm_port_pre_init: pltfm_serdes_parameters_translate failed rc=1\n"));
            }
            EXPECT_FALSE(cached(name));
        }
        ASSERT_NE(bring_up(k400g, "OPTICS"), nullptr);
        ASSERT_EQ(k400g.down(), PLTFM_SUCCESS);
    }

    static ifcs_attr_t dummy;
    for (int i = 0; i < PLTFM_INTF_DB_SIZE; ++i)
        ASSERT_TRUE(
            pltfm::serdes::intf_db_cache(("EthernetX" + std::to_string(i)).c_str(), &dummy, 0));
    pltfm::test::LogCapture log;
    list = k400g.pre_init(&count);
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(log.contains("intf_db is full, the list of " + name + " is not cached\n"))
        << log.text();
    EXPECT_FALSE(cached(name));
    pltfm::serdes::release_attr_list(list, count);  // handed out uncached: the caller's now
    pltfm::serdes::intf_db_clear();
}
