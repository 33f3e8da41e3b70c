// The SDK's view end to end: library start-up and port bring-up against a private Redis
// server, a fake sysfs tree and the sample tuning directory, with every returned record
// checked against the tuning files (read here independently); the insertion and rescan
// threads in real time; and port pre-initialisation racing tuning reloads.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "alloc.h"
#include "eeprom_image.h"
#include "fake_platform.h"
#include "ifcs_devport.h"
#include "platform_database.h"
#include "platform_hw.h"
#include "platform_hw_internal.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "redis_server.h"
#include "test_util.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const std::string kSampleDir = PLTFM_EXAMPLES_DIR "/platform/CSV";
constexpr const char *kQsfpDdType = "QSFP-DD Double Density 8X Pluggable Transceiver";

// ---- The tuning files, read the simple way: cells trimmed and upper-cased. ----------------

std::vector<std::string> cells_of(const std::string &line) {
    std::vector<std::string> out;
    std::stringstream s(line);
    std::string cell;
    while (std::getline(s, cell, ',')) {
        const auto b = cell.find_first_not_of(" \t\r");
        const auto e = cell.find_last_not_of(" \t\r");
        cell = b == std::string::npos ? "" : cell.substr(b, e - b + 1);
        for (char &c : cell) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        out.push_back(cell);
    }
    if (!line.empty() && line.back() == ',') out.emplace_back();
    return out;
}

// One lane's tuning at one speed: column names and texts, in column order.
using LaneTuning = std::vector<std::pair<std::string, std::string>>;

// cable/vendor/speed/encoding/front port -> lanes in file order.
using Reference = std::map<std::string, std::vector<LaneTuning>>;

std::string ref_key(const std::string &cable, const std::string &vendor, const std::string &speed,
                    const std::string &encoding, const std::string &port) {
    return cable + "|" + vendor + "|" + speed + "|" + encoding + "|" + port;
}

Reference read_reference(const std::string &dir) {
    Reference ref;
    for (const auto &entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".csv") continue;
        std::ifstream in(entry.path());
        std::vector<std::vector<std::string>> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(cells_of(l));
        const std::string cable = lines[1][1], vendor = lines[1][2];
        for (std::size_t i = 5; i < lines.size(); ++i) {
            const auto &row = lines[i];
            if (row[0].empty()) continue;
            std::size_t col = 3;
            while (col < row.size()) {
                std::size_t end = col + 1;
                while (end < row.size() && lines[2][end] != "SPEED") ++end;
                LaneTuning lane;
                for (std::size_t k = col; k < end; ++k) lane.emplace_back(lines[4][k], row[k]);
                ref[ref_key(cable, vendor, lines[3][col], lines[3][col + 1], row[1])].push_back(
                    lane);
                col = end;
            }
        }
    }
    return ref;
}

// What the SDK must receive for a tuning column: identifier and how the value is carried.
enum class Carried { i8, u8, u32, number, effort, boolean, ability };
struct SdkColumn {
    const char *column;
    uint32_t id;
    Carried how;
};
constexpr SdkColumn kSdkColumns[] = {
    {"AN", 16, Carried::number},
    {"AN_ABILITY", 17, Carried::ability},
    {"LINK_TRAINING", 21, Carried::number},
    {"RX_EQ_COARSE_TUNE_EFFORT_25G", 58, Carried::effort},
    {"RX_EQ_COARSE_TUNE_EFFORT_50G", 59, Carried::effort},
    {"RX_EQ_FINE_TUNE_EFFORT_25G", 61, Carried::effort},
    {"RX_EQ_FINE_TUNE_EFFORT_50G", 62, Carried::effort},
    {"SD_RESET_25G", 75, Carried::boolean},
    {"SD_RESET_THRESHOLD", 76, Carried::number},
    {"SD_RESET_THRESHOLD_25G", 76, Carried::number},
    {"RX_AGC_TARGET", 55, Carried::u32},
    {"RX_CTLE_BW", 52, Carried::u8},
    {"RX_CTLE_HF", 51, Carried::u8},
    {"RX_CTLE_LF", 50, Carried::u8},
    {"RX_EYE_DISQUALIFY_THRESHOLD_25G", 56, Carried::u32},
    {"RX_GAINSHAPE1", 53, Carried::u32},
    {"RX_GAINSHAPE2", 54, Carried::u32},
    {"TX_EQ_ATTN", 46, Carried::i8},
    {"TX_EQ_POST", 47, Carried::i8},
    {"TX_EQ_PRE1", 43, Carried::i8},
    {"TX_EQ_PRE2", 44, Carried::i8},
    {"TX_EQ_PRE3", 45, Carried::i8},
};

const SdkColumn *sdk_column(const std::string &name) {
    for (const auto &c : kSdkColumns)
        if (name == c.column) return &c;
    return nullptr;
}

uint32_t effort_of(const std::string &t) {
    return t == "LOW" ? 0 : t == "MEDIUM" ? 16 : 1;
}

// Checks the SDK records against the reference lanes; returns a description of the first
// difference, empty when all agree.
std::string compare(const ifcs_attr_t *list, uint32_t count, const std::vector<LaneTuning> &lanes,
                    std::size_t first, std::size_t n) {
    if (lanes.size() < first + n) return "reference has too few lanes";
    std::vector<const SdkColumn *> expected;
    std::vector<std::size_t> columns;
    for (std::size_t k = 0; k < lanes[first].size(); ++k)
        if (const SdkColumn *c = sdk_column(lanes[first][k].first)) {
            expected.push_back(c);
            columns.push_back(k);
        }
    if (count != expected.size())
        return "count " + std::to_string(count) + ", expected " + std::to_string(expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r) {
        const ifcs_attr_t &rec = list[r];
        const SdkColumn &c = *expected[r];
        const std::string where = std::string(c.column) + " (record " + std::to_string(r) + ")";
        if (rec.id != c.id) return where + ": id " + std::to_string(rec.id);
        const std::string &text0 = lanes[first][columns[r]].second;
        const long v0 = std::strtol(text0.c_str(), nullptr, 10);
        switch (c.how) {
            case Carried::number:
                if (rec.bitmap != (1ULL << 1) || rec.value.u32 != static_cast<uint32_t>(v0))
                    return where + ": u32 " + std::to_string(rec.value.u32);
                break;
            case Carried::effort:
                if (rec.bitmap != (1ULL << 1) || rec.value.u32 != effort_of(text0))
                    return where + ": effort " + std::to_string(rec.value.u32);
                break;
            case Carried::boolean:
                if (rec.bitmap != (1ULL << 21) || rec.value.data != (text0 == "TRUE" ? 1u : 0u))
                    return where + ": bool " + std::to_string(rec.value.data);
                break;
            case Carried::ability:
                if (rec.bitmap != (1ULL << 41) ||
                    rec.value.devport_an_bp_tech_ability_list.count != 1 ||
                    rec.value.devport_an_bp_tech_ability_list.arr[0] != static_cast<uint32_t>(v0))
                    return where + ": ability";
                break;
            case Carried::i8:
            case Carried::u8:
            case Carried::u32: {
                const uint64_t flag = c.how == Carried::i8   ? 1ULL << 8
                                      : c.how == Carried::u8 ? 1ULL << 6
                                                             : 1ULL << 10;
                if (rec.bitmap != flag || rec.value.u32_list.count != n)
                    return where + ": flag or count";
                for (std::size_t l = 0; l < n; ++l) {
                    const long v =
                        std::strtol(lanes[first + l][columns[r]].second.c_str(), nullptr, 10);
                    const bool same = c.how == Carried::i8
                                          ? rec.value.i8_list.arr[l] == static_cast<int8_t>(v)
                                      : c.how == Carried::u8
                                          ? rec.value.u8_list.arr[l] == static_cast<uint8_t>(v)
                                          : rec.value.u32_list.arr[l] == static_cast<uint32_t>(v);
                    if (!same) return where + ": lane " + std::to_string(l);
                }
                break;
            }
        }
    }
    return {};
}

// ---- The switch around the library. -------------------------------------------------------

ifcs_attr_t devport(uint32_t id, int32_t value) {
    ifcs_attr_t a{};
    a.id = id;
    a.value.u32 = static_cast<uint32_t>(value);
    a.bitmap = IFCS_ATTR_VALUE_FLAG_U32;
    return a;
}

// One SDK port: its SerDes group (1 to 33), start lane, lane count and speed.
struct SdkPort {
    int32_t sg, sl, nl, speed;
    int32_t fp_port_id() const { return sg - 1; }
    std::string name() const {
        return "Ethernet" + std::to_string(*pltfm::hw::port_slot(fp_port_id(), sl) - 1);
    }
    std::string front_port() const {
        return std::to_string(pltfm::hw::front_port_key(fp_port_id()));
    }
    uint32_t slot() const { return *pltfm::hw::port_slot(fp_port_id(), sl); }
    std::vector<ifcs_attr_t> attrs() const {
        return {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, sg),
                devport(IFCS_DEVPORT_ATTR_START_LANE, sl), devport(IFCS_DEVPORT_ATTR_NUM_LANES, nl),
                devport(IFCS_DEVPORT_ATTR_SPEED, speed),
                devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
    }
};

enum class Module { qsfp_dd_optic, qsfp_dd_dac_1m, sfp_optic };

void plug(const pltfm::test::RedisServer &redis, const std::string &name, Module m) {
    const std::string info = "TRANSCEIVER_INFO|" + name;
    const bool dd = m != Module::sfp_optic;
    redis.hset(6, info, "type", dd ? kQsfpDdType : "SFP/SFP+/SFP28");
    redis.hset(6, info, "cable_length", m == Module::qsfp_dd_dac_1m ? "1" : "0");
    redis.hset(
        6, info, "specification_compliance",
        m == Module::qsfp_dd_dac_1m ? "passive_copper_media_interface" : "400GBASE-DR4 Optical");
    redis.hset(6, info, "connector", "LC");
    redis.hset(6, "TRANSCEIVER_STATUS|" + name, "status", "1");
}

struct Answer {
    ifcs_attr_t *list = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;  // what the list must have been allocated with
};

Answer pre_init(const SdkPort &p) {
    auto attrs = p.attrs();
    uint32_t count = static_cast<uint32_t>(attrs.size());
    std::string name = p.name();
    Answer a;
    a.list = pltfm_port_pre_init(name.data(), attrs.data(), &count);
    a.count = count;
    return a;
}

int event(int (*fn)(char *, ifcs_attr_t *, uint32_t *), const SdkPort &p) {
    auto attrs = p.attrs();
    uint32_t count = static_cast<uint32_t>(attrs.size());
    std::string name = p.name();
    return fn(name.data(), attrs.data(), &count);
}

int port_down(const SdkPort &p) {
    std::string name = p.name();
    return pltfm_port_down(name.data());
}

uint32_t state_bits(uint32_t slot) {
    pthread_mutex_lock(&mutex);
    const uint32_t bits = port_state_ar[slot];
    pthread_mutex_unlock(&mutex);
    return bits;
}

template <class Pred>
bool wait_for(Pred pred, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (pred()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return pred();
}

int count_of(const std::string &text, const std::string &needle) {
    int n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// 400G ports on SerDes groups 1 and 31, four 100G breakouts of group 2, and the two extra
// cages of group 33 at 25G.
const SdkPort k400gA{1, 0, 8, 400000};
const SdkPort k400gB{31, 0, 8, 400000};
const SdkPort kBreakout[] = {
    {2, 0, 2, 100000}, {2, 2, 2, 100000}, {2, 4, 2, 100000}, {2, 6, 2, 100000}};
const SdkPort kExtra[] = {{33, 0, 1, 25000}, {33, 1, 1, 25000}};

class SwitchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(redis_.ok()) << redis_.error();
        redis_.use_on_path();
        ASSERT_TRUE(fake_.ok()) << fake_.error();
        fake_.tuning_dir_from(kSampleDir);
        std::vector<SdkPort> ports = {k400gA, k400gB};
        for (const auto &p : kBreakout) ports.push_back(p);
        for (const auto &p : kExtra) ports.push_back(p);
        for (const auto &p : ports) {
            fake_.port_config_line(p.name(), p.speed);
            redis_.hset(0, "PORT_TABLE:" + p.name(), "speed", std::to_string(p.speed));
            redis_.hset(4, "PORT|" + p.name(), "admin_status", "up");
            plug(redis_, p.name(), p.sg == 33 ? Module::sfp_optic : Module::qsfp_dd_optic);
        }
        fake_.cage(pltfm::test::FakePlatform::front_panel_of(k400gA.fp_port_id(), 0),
                   pltfm::test::qsfp_dd_optic());
        fake_.cage(pltfm::test::FakePlatform::front_panel_of(k400gB.fp_port_id(), 0),
                   pltfm::test::qsfp_dd_optic());
        fake_.cage(pltfm::test::FakePlatform::front_panel_of(kBreakout[0].fp_port_id(), 0),
                   pltfm::test::qsfp_dd_optic_breakout(4));
        ASSERT_TRUE(fake_.ok()) << fake_.error();
        fake_.activate();
        reference_ = read_reference(kSampleDir);
        ASSERT_FALSE(reference_.empty());
    }

    void start() {
        char platform[] = "SwitchSDK";
        ASSERT_EQ(pltfm_pre_init(platform), PLTFM_SUCCESS);
    }

    // Pre-initialises the port and checks every record against the tuning files.
    Answer bring_up(const SdkPort &p, const std::string &cable) {
        Answer a = pre_init(p);
        EXPECT_NE(a.list, nullptr) << p.name();
        if (a.list == nullptr) return a;
        const int lane_speed = p.speed / p.nl;
        const std::string speed = lane_speed == 50000   ? "50G/400G"
                                  : lane_speed == 25000 ? "25G/100G"
                                                        : "10G/40G";
        const std::string encoding = lane_speed == 50000 ? "PAM4" : "NRZ";
        const auto it = reference_.find(ref_key(cable, "GENERIC", speed, encoding, p.front_port()));
        EXPECT_NE(it, reference_.end()) << p.name();
        if (it != reference_.end() && !it->second.empty()) {
            // Rows from the database: a lane marker and the group's columns per lane.
            const auto rows = static_cast<uint32_t>(p.nl) * (it->second[0].size() + 1);
            a.capacity = static_cast<uint32_t>(p.nl) + rows / static_cast<uint32_t>(p.nl);
        }
        if (it != reference_.end()) {
            EXPECT_EQ(compare(a.list, a.count, it->second, static_cast<std::size_t>(p.sl),
                              static_cast<std::size_t>(p.nl)),
                      "")
                << p.name();
        }
        return a;
    }

    pltfm::test::RedisServer redis_;
    pltfm::test::FakePlatform fake_;
    Reference reference_;
};

}  // namespace

TEST_F(SwitchTest, StartUpAndPortLife) {
    // A list cached by an earlier run is forgotten by pre-initialisation.
    static ifcs_attr_t stale;
    ASSERT_TRUE(pltfm::serdes::intf_db_cache("Ethernet999", &stale, 1));
    {
        pltfm::test::LogCapture log;
        start();
        const std::string text = log.text();
        for (const char *step : {"pltfm_pre_init: PLTFM_SERDES_LIB_VERSION Ver_1.0\n",
                                 "pltfm_pre_init: In pltfm_pre_init (platform=SwitchSDK)\n",
                                 "pltfm_pre_init: pltfm_transceiver_monitor Success\n",
                                 "pltfm_pre_init: pltfm_parser_database_init Success\n"})
            EXPECT_NE(text.find(step), std::string::npos) << step << text;
    }
    EXPECT_EQ(intf_db[0].attr_ptr, nullptr);

    std::vector<SdkPort> ports = {k400gA, k400gB};
    for (const auto &p : kBreakout) ports.push_back(p);
    for (const auto &p : kExtra) ports.push_back(p);
    for (const auto &p : ports) {
        SCOPED_TRACE(p.name());
        pltfm::test::LogCapture log;
        const Answer a = bring_up(p, "OPTICS");
        ASSERT_NE(a.list, nullptr) << log.text();
        EXPECT_NE(log.text().find("pltfm_serdes_parameters_translate Success"), std::string::npos);
        // Cached once, with the capacity lanes + rows / lanes (rows: a lane marker and the
        // group's columns per lane).
        int cached = 0;
        for (const auto &e : intf_db) {
            if (p.name() != e.intf_name) continue;
            ++cached;
            EXPECT_EQ(e.attr_ptr, a.list);
            EXPECT_EQ(e.attr_num, a.capacity);
        }
        EXPECT_EQ(cached, 1);
    }
    // The insertion thread sees every module once; wait for it so that the state bits below
    // are not changed under the checks.
    for (const auto &p : ports)
        ASSERT_TRUE(wait_for([&] { return (state_bits(p.slot()) & 0x20) != 0; }, 10s)) << p.name();
    for (const auto &p : ports) {
        SCOPED_TRACE(p.name());
        EXPECT_EQ(event(pltfm_port_init, p), PLTFM_SUCCESS);
        EXPECT_EQ(event(pltfm_port_link_up, p), PLTFM_SUCCESS);
        EXPECT_EQ(state_bits(p.slot()) & 0x1F, 0x0Bu);
        EXPECT_EQ(event(pltfm_port_link_down, p), PLTFM_SUCCESS);
        EXPECT_EQ(state_bits(p.slot()) & 0x1F, 0x13u);
    }
    for (const auto &p : ports) {
        SCOPED_TRACE(p.name());
        pltfm::test::LogCapture log;
        EXPECT_EQ(port_down(p), PLTFM_SUCCESS) << log.text();
        EXPECT_EQ(state_bits(p.slot()) & 0x1F, 0x14u);
        for (const auto &e : intf_db) EXPECT_NE(p.name(), e.intf_name);
    }
    // Everything handed out was released (LSan in the ASan build checks the arrays).
    for (const auto &e : intf_db) EXPECT_EQ(e.attr_ptr, nullptr);
}

TEST_F(SwitchTest, FailedTranslationReleasesTheList) {
    start();
    // Count the allocations of one bring-up; the last one is an element array.
    pltfm::mem::reset_allocation_count();
    Answer ok = pre_init(k400gB);
    ASSERT_NE(ok.list, nullptr);
    const unsigned long per_bring_up = pltfm::mem::allocation_count();
    unsigned long arrays = 0;
    for (uint32_t i = 0; i < ok.count; ++i)
        if (ok.list[i].bitmap &
            (IFCS_ATTR_VALUE_FLAG_I8_LIST | IFCS_ATTR_VALUE_FLAG_U8_LIST |
             IFCS_ATTR_VALUE_FLAG_U32_LIST | IFCS_ATTR_VALUE_FLAG_DEVPORT_AN_BP_TECH_ABILITY_LIST))
            ++arrays;
    ASSERT_GT(arrays, 0u);
    ASSERT_EQ(port_down(k400gB), PLTFM_SUCCESS);

    pltfm::test::LogCapture log;
    pltfm::mem::fail_nth_allocation(per_bring_up);
    Answer failed = pre_init(k400gB);
    pltfm::mem::fail_nth_allocation(0);
    EXPECT_EQ(failed.list, nullptr);
    EXPECT_EQ(failed.count, 5u);  // unchanged
    EXPECT_NE(log.text().find("FATAL: malloc failed"), std::string::npos) << log.text();
    EXPECT_NE(log.text().find("pltfm_serdes_parameters_translate failed rc=1"), std::string::npos);
    for (const auto &e : intf_db) EXPECT_EQ(e.attr_ptr, nullptr);

    // The list itself failing to allocate.
    pltfm::test::LogCapture log2;
    pltfm::mem::fail_nth_allocation(per_bring_up - arrays);
    failed = pre_init(k400gB);
    pltfm::mem::fail_nth_allocation(0);
    EXPECT_EQ(failed.list, nullptr);
    EXPECT_NE(log2.text().find("Allocate memory for pltfm_attr_list fail."), std::string::npos)
        << log2.text();
}

// Module exchange through the insertion thread, in real time (one-second passes).
TEST_F(SwitchTest, ModuleExchangeRetunesThePort) {
    start();
    const SdkPort p = k400gB;
    const uint32_t slot = p.slot();
    Answer a = bring_up(p, "OPTICS");
    ASSERT_NE(a.list, nullptr);
    ASSERT_EQ(event(pltfm_port_init, p), PLTFM_SUCCESS);

    pltfm::test::LogCapture log;
    const std::string same = "Port " + std::to_string(slot - 1) +
                             " insert the same transceiver GENERIC OPTICS 50G/400G PAM4.";
    ASSERT_TRUE(wait_for([&] { return log.contains(same); }, 10s)) << log.text();
    ASSERT_TRUE(wait_for([&] { return (state_bits(slot) & 0x20) != 0; }, 5s));

    // Pulled and put back: recognised as the same kind.
    redis_.hset(6, "TRANSCEIVER_STATUS|" + p.name(), "status", "0");
    ASSERT_TRUE(wait_for([&] { return (state_bits(slot) & 0x20) == 0; }, 10s));
    redis_.hset(6, "TRANSCEIVER_STATUS|" + p.name(), "status", "1");
    ASSERT_TRUE(wait_for([&] { return count_of(log.text(), same) == 2; }, 10s)) << log.text();
    EXPECT_EQ(redis_.hget(4, "PORT|" + p.name(), "admin_status"), "up");

    // Pulled, and a copper cable inserted: the port is taken administratively down.
    redis_.hset(6, "TRANSCEIVER_STATUS|" + p.name(), "status", "0");
    ASSERT_TRUE(wait_for([&] { return (state_bits(slot) & 0x20) == 0; }, 10s));
    plug(redis_, p.name(), Module::qsfp_dd_dac_1m);
    const std::string changed =
        "Port " + std::to_string(slot - 1) +
        " from GENERIC OPTICS 50G/400G PAM4 to GENERIC DAC_1M 50G/400G PAM4.";
    ASSERT_TRUE(wait_for([&] { return log.contains(changed); }, 10s)) << log.text();
    ASSERT_TRUE(wait_for(
        [&] { return redis_.hget(4, "PORT|" + p.name(), "admin_status") == std::string("down"); },
        5s));

    // The OS takes the port down: the list is released and the port comes back up.
    ASSERT_EQ(port_down(p), PLTFM_SUCCESS);
    for (const auto &e : intf_db) EXPECT_NE(p.name(), e.intf_name);
    EXPECT_EQ(redis_.hget(4, "PORT|" + p.name(), "admin_status"), "up");

    // Re-created, it gets the copper cable's tuning.
    Answer b = bring_up(p, "DAC_1M");
    ASSERT_NE(b.list, nullptr);
    EXPECT_EQ(port_down(p), PLTFM_SUCCESS);
}

// The real rescan thread: a trigger present at start-up reloads at once; removed and created
// again (polls are 10 s apart), it reloads the changed files.
TEST_F(SwitchTest, RescanThreadReloadsOnTrigger) {
    const std::string trigger = fake_.tuning_dir() + "/csv_rescan";
    pltfm::test::write_file(trigger, "");
    pltfm::test::LogCapture log;
    start();
    ASSERT_TRUE(wait_for([&] { return log.contains("CSV rescan successful!"); }, 5s)) << log.text();
    ASSERT_NE(bring_up(k400gB, "OPTICS").list, nullptr);
    ASSERT_EQ(port_down(k400gB), PLTFM_SUCCESS);

    // The 400G optics tuning of the port changes: TX_EQ_PRE1 of its lanes becomes -9.
    const std::string file = fake_.tuning_dir() + "/generic_optics.csv";
    std::stringstream in(pltfm::test::read_file(file));
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_GT(lines.size(), 5u);
    const auto groups = cells_of(lines[3]), names = cells_of(lines[4]);
    std::size_t col = std::find(groups.begin(), groups.end(), "50G/400G") - groups.begin();
    while (col < names.size() && names[col] != "TX_EQ_PRE1") ++col;
    ASSERT_LT(col, names.size());
    std::string text;
    int changed = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto cells = cells_of(lines[i]);
        if (i >= 5 && cells.size() > col && cells[1] == k400gB.front_port()) {
            cells[col] = "-9";
            ++changed;
            std::string joined;
            for (std::size_t k = 0; k < cells.size(); ++k) joined += (k ? "," : "") + cells[k];
            text += joined + "\n";
        } else {
            text += lines[i] + "\n";
        }
    }
    ASSERT_EQ(changed, 8);
    pltfm::test::write_file(file, text);
    reference_ = read_reference(fake_.tuning_dir());

    // Left in place, the trigger causes nothing; removed for a poll and created again, it
    // reloads.
    ASSERT_EQ(std::remove(trigger.c_str()), 0);
    std::this_thread::sleep_for(11s);
    EXPECT_EQ(count_of(log.text(), "CSV rescan successful!"), 1);
    pltfm::test::write_file(trigger, "");
    ASSERT_TRUE(wait_for([&] { return count_of(log.text(), "CSV rescan successful!") == 2; }, 12s))
        << log.text();
    Answer a = bring_up(k400gB, "OPTICS");
    ASSERT_NE(a.list, nullptr);
    EXPECT_EQ(a.list[0].id, static_cast<uint32_t>(IFCS_DEVPORT_ATTR_TX_EQ_PRE1));
    EXPECT_EQ(a.list[0].value.i8_list.arr[7], -9);
    EXPECT_EQ(port_down(k400gB), PLTFM_SUCCESS);
}

// Port pre-initialisation in a loop while the tuning directory is reloaded over and over:
// every answer is complete and right.
TEST_F(SwitchTest, PreInitRacingReloads) {
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
    for (int i = 0; i < 15; ++i) {
        const SdkPort &p = i % 2 ? k400gA : kBreakout[i % 4];
        Answer a = bring_up(p, "OPTICS");
        if (a.list == nullptr) break;
        ASSERT_EQ(port_down(p), PLTFM_SUCCESS);
    }
    stop = true;
    rescanner.join();
    EXPECT_GT(reloads.load(), 0);
}
