// The port-state table in the state database, through redis-cli and (the .native cases) over
// the native connection: every field after each port event for optics and DACs, breakout
// ports, empty cages and ports the SDK never pre-initialised; the table off leaves Redis as it
// was; the stale marks after rescans that change, add and remove rows, and after a failed one;
// and a table write that fails changes nothing of what the SDK gets.
#include "port_state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "background_threads.h"
#include "hw_test_util.h"
#include "ifcs_devport.h"
#include "platform_hw_internal.h"
#include "platform_hw_redis_stall.h"
#include "platform_hw_redis_transport.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "serdes_records.h"
#include "test_util.h"
#include "tuning_copy.h"

using namespace pltfm::test;

namespace {

using Hash = std::map<std::string, std::string>;

// One SDK port: SerDes group (1 to 33), start lane, lanes and speed.
struct SdkPort {
    int32_t sg, sl, nl, speed;
    uint32_t slot() const { return *pltfm::hw::port_slot(sg - 1, sl); }
    std::string name() const { return "Ethernet" + std::to_string(slot() - 1); }
    std::vector<ifcs_attr_t> attrs() const {
        return {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, sg),
                devport(IFCS_DEVPORT_ATTR_START_LANE, sl), devport(IFCS_DEVPORT_ATTR_NUM_LANES, nl),
                devport(IFCS_DEVPORT_ATTR_SPEED, speed),
                devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
    }
};

// A 400G optic in the cage of group 1 (front port 31), known to the state database; a 1 m DAC
// broken out in two 4-lane 100G ports in the cage of group 2 (front port 30), which the state
// database does not know (the EEPROM tells) and whose speed only port_config.ini gives; the
// cage of group 3 is empty.
const SdkPort kOptic{1, 0, 8, 400000}, kDacA{2, 0, 4, 100000}, kDacB{2, 4, 4, 100000},
    kEmpty{3, 0, 8, 400000};

class Switch {
  public:
    // `setting`: PLTFM_PORT_STATE, or null to leave it unset.
    explicit Switch(const char *setting = "1") {
        if (setting != nullptr)
            ::setenv("PLTFM_PORT_STATE", setting, 1);
        else
            ::unsetenv("PLTFM_PORT_STATE");
        pltfm::port_state::reload_for_test();
        if (modes::mode() == modes::Mode::cli) redis.use_on_path();
        modes::select(modes::mode(), redis.socket_path());
        fake.tuning_dir_from(kSampleDir);
        for (const SdkPort &p : {kOptic, kDacA, kDacB, kEmpty})
            fake.port_config_line(p.name(), p.speed);
        fake.cage(FakePlatform::front_panel_of(0, 0), qsfp_dd_optic());
        fake.cage(FakePlatform::front_panel_of(1, 0), qsfp_dd_dac(1));
        fake.activate();
        redis.hset(0, "PORT_TABLE:" + kOptic.name(), "speed", "400000");
        const std::string info = "TRANSCEIVER_INFO|" + kOptic.name();
        redis.command(6, {"HSET", info, "type", "QSFP-DD Double Density 8X Pluggable Transceiver",
                          "cable_length", "0", "specification_compliance", "400GBASE-DR4 Optical"});
        redis.hset(6, "TRANSCEIVER_STATUS|" + kOptic.name(), "status", "1");
        pltfm::threads::disable_autostart_for_test();
        char platform[] = "SwitchSDK";
        LogCapture quiet;
        ok = pltfm_pre_init(platform) == PLTFM_SUCCESS;
    }

    // Pre-initialises the port; its records (empty when it failed).
    std::vector<Rec> pre_init(const SdkPort &p) {
        auto a = p.attrs();
        uint32_t n = static_cast<uint32_t>(a.size());
        std::string name = p.name();
        const ifcs_attr_t *list = pltfm_port_pre_init(name.data(), a.data(), &n);
        if (list == nullptr) return {};
        digests[name] = pltfm::serdes::records_digest(list, n);
        return recs_of(list, n);
    }
    int event(const SdkPort &p, int (*fn)(char *, ifcs_attr_t *, uint32_t *)) {
        auto a = p.attrs();
        uint32_t n = static_cast<uint32_t>(a.size());
        std::string name = p.name();
        return fn(name.data(), a.data(), &n);
    }
    int down(const SdkPort &p) {
        std::string name = p.name();
        return pltfm_port_down(name.data());
    }
    Hash hash(const SdkPort &p) const {
        Hash h;
        const RedisReply r = redis.command(6, {"HGETALL", "PORT_SERDES_STATE|" + p.name()});
        for (std::size_t i = 0; i + 1 < r.elements.size(); i += 2)
            h[r.elements[i].text] = r.elements[i + 1].text;
        return h;
    }
    // Every hash of databases 0, 4 and 6 as text, for comparing whole runs.
    std::string dump(bool with_table) const {
        std::string out;
        for (int db : {0, 4, 6}) {
            const RedisReply keys = redis.command(db, {"KEYS", "*"});
            std::vector<std::string> names;
            for (const auto &k : keys.elements)
                if (with_table || k.text.rfind("PORT_SERDES_STATE|", 0) != 0)
                    names.push_back(k.text);
            std::sort(names.begin(), names.end());
            for (const auto &key : names) {
                out += "db " + std::to_string(db) + " " + key + ":";
                const RedisReply all = redis.command(db, {"HGETALL", key});
                for (const auto &e : all.elements) out += " " + e.text;
                out += "\n";
            }
        }
        return out;
    }
    // Reloads the tuning directory as the rescan thread does when the trigger appears.
    std::string rescan() {
        const std::string trigger = fake.tuning_dir() + "/csv_rescan";
        write_file(trigger, "");
        LogCapture log;
        pltfm::serdes::RescanState state;
        pltfm::serdes::rescan_poll(state);
        std::remove(trigger.c_str());
        return log.text();
    }
    std::string digest_of(const SdkPort &p) {
        char text[24];
        std::snprintf(text, sizeof text, "%016llx",
                      static_cast<unsigned long long>(digests[p.name()]));
        return text;
    }

    RedisServer redis;
    FakePlatform fake;
    bool ok = false;
    std::map<std::string, uint64_t> digests;
};

std::string optics_file(const Switch &s) {
    return s.fake.tuning_dir() + "/generic_optics.csv";
}

// 1-based column of `attribute` in the column group of `speed` of a sample tuning file.
int column_of(const std::string &path, const std::string &speed, const std::string &attribute) {
    const auto lines = file_lines(path);
    const auto groups = cells_of(lines[3]), names = cells_of(lines[4]);
    bool in_group = false;
    for (std::size_t c = 3; c < names.size(); ++c) {
        if (c < groups.size() && !groups[c].empty() && groups[c].find('/') != std::string::npos)
            in_group = groups[c] == speed;
        if (in_group && names[c] == attribute) return static_cast<int>(c) + 1;
    }
    return 0;
}

}  // namespace

// Every field of an optic's hash as the port lives: pre-initialisation, init, link up and
// down, port-down, and created again.
TEST(PortStateTable, OpticFieldsFollowThePortsLife) {
    Switch s;
    ASSERT_TRUE(s.ok);
    EXPECT_TRUE(s.hash(kOptic).empty()) << "no hash before the SDK pre-initialises the port";
    const auto records = s.pre_init(kOptic);
    ASSERT_FALSE(records.empty());
    Hash h = s.hash(kOptic);
    const int line = sample_line(31, 0);
    EXPECT_EQ(h["cable_type"], "OPTICS");
    EXPECT_EQ(h["vendor"], "GENERIC");
    EXPECT_EQ(h["identified_by"], "state_db");
    EXPECT_EQ(h["speed"], "400000");
    EXPECT_EQ(h["speed_from"], "app_db");
    EXPECT_EQ(h["lane_speed"], "50G/400G");
    EXPECT_EQ(h["encoding"], "PAM4");
    EXPECT_EQ(h["front_port"], "31");
    EXPECT_EQ(h["lanes"], "8");
    EXPECT_EQ(h["start_lane"], "0");
    EXPECT_EQ(h["module"], "OPTICS");
    EXPECT_EQ(h["state"], "pre_init");
    EXPECT_EQ(h["lasers"], "not written (CMIS)");
    EXPECT_EQ(h["exchange"], "none");
    EXPECT_EQ(h["exchange_since"], "");
    EXPECT_EQ(h["pre_init"], "ok");
    EXPECT_EQ(h["records"], std::to_string(records.size()));
    EXPECT_EQ(h["digest"], s.digest_of(kOptic));
    EXPECT_EQ(h["tuning_rows"],
              "generic_optics.csv:" + std::to_string(line) + "-" + std::to_string(line + 7));
    EXPECT_EQ(h["stale"], "no");
    EXPECT_TRUE(std::regex_match(
        h["updated"], std::regex("20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-9:]{8}\\.[0-9]{3}Z")))
        << h["updated"];
    EXPECT_EQ(h["version"], "1.0.0");

    ASSERT_EQ(s.event(kOptic, pltfm_port_init), PLTFM_SUCCESS);
    EXPECT_EQ(s.hash(kOptic)["state"], "pre_init init");
    ASSERT_EQ(s.event(kOptic, pltfm_port_link_up), PLTFM_SUCCESS);
    EXPECT_EQ(s.hash(kOptic)["state"], "pre_init init link_up");
    ASSERT_EQ(s.event(kOptic, pltfm_port_link_down), PLTFM_SUCCESS);
    EXPECT_EQ(s.hash(kOptic)["state"], "pre_init init link_down");
    ASSERT_EQ(s.down(kOptic), PLTFM_SUCCESS);
    h = s.hash(kOptic);
    EXPECT_EQ(h["state"], "down link_down");
    EXPECT_EQ(h["state_bits"], "20");
    EXPECT_EQ(h["records"], std::to_string(records.size())) << "what the last pre-init gave";
    {
        LogCapture quiet;
        pltfm::hw::oir_monitor_pass();  // sees the module of the down port
    }
    EXPECT_EQ(s.hash(kOptic)["state"], "down link_down inserted");
    EXPECT_EQ(s.pre_init(kOptic), records);
    h = s.hash(kOptic);
    EXPECT_EQ(h["state"], "pre_init link_down inserted");
    EXPECT_EQ(h["identified_by"], "stored") << "a recorded insertion answers from memory";
}

// Breakout ports of a DAC the EEPROM identifies, with the speed of port_config.ini: one hash
// each, their own lanes and rows; the lasers of a DAC are not an optic's.
TEST(PortStateTable, BreakoutDacPortsFromTheEepromAndPortConfig) {
    Switch s;
    ASSERT_TRUE(s.ok);
    ASSERT_FALSE(s.pre_init(kDacA).empty());
    ASSERT_FALSE(s.pre_init(kDacB).empty());
    for (const SdkPort &p : {kDacA, kDacB}) {
        SCOPED_TRACE(p.name());
        Hash h = s.hash(p);
        EXPECT_EQ(h["cable_type"], "DAC_1M");
        EXPECT_EQ(h["identified_by"], "eeprom");
        EXPECT_EQ(h["speed"], "100000");
        EXPECT_EQ(h["speed_from"], "port_config");
        EXPECT_EQ(h["lane_speed"], "25G/100G");
        EXPECT_EQ(h["encoding"], "NRZ");
        EXPECT_EQ(h["front_port"], "30");
        EXPECT_EQ(h["lanes"], "4");
        EXPECT_EQ(h["start_lane"], std::to_string(p.sl));
        EXPECT_EQ(h["lasers"], "not an optic");
        const int line = sample_line(30, p.sl);
        EXPECT_EQ(h["tuning_rows"],
                  "generic_dac_1m.csv:" + std::to_string(line) + "-" + std::to_string(line + 3));
        EXPECT_EQ(h["digest"], s.digest_of(p));
    }
    EXPECT_NE(s.hash(kDacA)["digest"], s.hash(kDacB)["digest"]);
}

// An empty cage's port cannot be pre-initialised, and a port the SDK never pre-initialised
// has nothing recorded: neither gets a hash. A port recorded before whose pre-initialisation
// fails later says so.
TEST(PortStateTable, EmptyCagesAndUnknownPortsHaveNoHash) {
    Switch s;
    ASSERT_TRUE(s.ok);
    EXPECT_TRUE(s.pre_init(kEmpty).empty());
    EXPECT_TRUE(s.hash(kEmpty).empty());
    EXPECT_TRUE(s.hash(kDacA).empty());
    EXPECT_EQ(s.redis.command(6, {"KEYS", "PORT_SERDES_STATE|*"}).elements.size(), 0u);

    ASSERT_FALSE(s.pre_init(kDacA).empty());
    ASSERT_EQ(s.down(kDacA), PLTFM_SUCCESS);
    s.fake.empty_cage(FakePlatform::front_panel_of(1, 0));
    EXPECT_TRUE(s.pre_init(kDacA).empty());
    const Hash h = s.hash(kDacA);
    EXPECT_EQ(h.at("pre_init"), "failed");
    EXPECT_EQ(h.at("records"), "");
    EXPECT_EQ(h.at("digest"), "");
}

// Off (unset, empty, 0, or a value that is not 1): nothing of the table in Redis, and the
// rest of Redis exactly as with the table on.
TEST(PortStateTable, OffLeavesRedisAsItWas) {
    auto run = [](const char *setting, std::string &log) {
        Switch s(setting);
        EXPECT_TRUE(s.ok);
        LogCapture capture;
        s.pre_init(kOptic);
        s.event(kOptic, pltfm_port_init);
        s.pre_init(kDacA);
        s.down(kDacA);
        pltfm::hw::oir_monitor_pass();
        log = capture.text();
        return std::make_pair(s.dump(true), s.dump(false));
    };
    std::string log_on, log;
    const auto on = run("1", log_on);
    EXPECT_NE(on.first, on.second) << "the table is written when on";
    for (const char *setting : {static_cast<const char *>(nullptr), "", "0", "yes"}) {
        SCOPED_TRACE(setting == nullptr ? "unset" : setting);
        const auto off = run(setting, log);
        EXPECT_EQ(off.first, off.second) << "no PORT_SERDES_STATE key";
        EXPECT_EQ(off.first, on.second);
    }
}

TEST(PortStateTable, SettingIsReadOnceWithOneMessage) {
    for (const auto &[value, on, message] :
         std::vector<std::tuple<const char *, bool, const char *>>{
             {"1", true, "Port state table on (PLTFM_PORT_STATE=1)"},
             {"0", false, ""},
             {"", false, ""},
             {"on", false, "PLTFM_PORT_STATE ignored: \"on\""}}) {
        SCOPED_TRACE(value);
        ::setenv("PLTFM_PORT_STATE", value, 1);
        LogCapture log;
        pltfm::port_state::reload_for_test();
        EXPECT_EQ(pltfm::port_state::enabled(), on);
        EXPECT_EQ(pltfm::port_state::enabled(), on);
        const std::string text = log.text();
        if (*message == '\0') {
            EXPECT_EQ(text, "");
        } else {
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
            EXPECT_TRUE(text.find(message) != std::string::npos) << text;
        }
    }
}

// A rescan whose files give a running port other records marks it stale and names it; one that
// changes only what the port does not use, or adds rows of other ports, marks nothing; the
// port created again is no longer stale.
TEST(PortStateTable, StaleAfterARescanThatChangesThePortsTuning) {
    Switch s;
    ASSERT_TRUE(s.ok);
    ASSERT_FALSE(s.pre_init(kOptic).empty());
    ASSERT_FALSE(s.pre_init(kDacA).empty());
    const std::string optics = optics_file(s);

    // The 25G group of the optic's lines and a new file for another cable type: nothing stale.
    set_cell(optics, sample_line(31, 3), column_of(optics, "25G/100G", "TX_EQ_PRE1"), "-9");
    write_file(s.fake.tuning_dir() + "/extra_rj45.csv",
               read_file(kSampleDir + "/generic_rj45_port32.csv"));
    std::remove((s.fake.tuning_dir() + "/generic_rj45_port32.csv").c_str());
    std::string log = s.rescan();
    EXPECT_TRUE(log.find("CSV rescan successful!") != std::string::npos) << log;
    EXPECT_TRUE(log.find("re-create these ports") == std::string::npos) << log;
    EXPECT_EQ(s.hash(kOptic)["stale"], "no");

    // A value of the optic's own 50G rows.
    set_cell(optics, sample_line(31, 3), column_of(optics, "50G/400G", "TX_EQ_PRE1"), "-9");
    log = s.rescan();
    EXPECT_TRUE(log.find("pltfm_csv_rescan: CSV rescan changed the tuning of 1 port that run on "
                         "the tuning it replaced (" +
                         kOptic.name() + "): re-create these ports to apply it") !=
                std::string::npos)
        << log;
    EXPECT_EQ(s.hash(kOptic)["stale"], "yes");
    EXPECT_EQ(s.hash(kDacA)["stale"], "no");

    // The old value back: the port runs on what the files say again.
    const std::string old_value = cells_of(file_lines(
        kSampleDir + "/generic_optics.csv")[sample_line(31, 3) -
                                            1])[column_of(optics, "50G/400G", "TX_EQ_PRE1") - 1];
    set_cell(optics, sample_line(31, 3), column_of(optics, "50G/400G", "TX_EQ_PRE1"), old_value);
    log = s.rescan();
    EXPECT_TRUE(log.find("re-create these ports") == std::string::npos) << log;
    EXPECT_EQ(s.hash(kOptic)["stale"], "no");
    set_cell(optics, sample_line(31, 3), column_of(optics, "50G/400G", "TX_EQ_PRE1"), "-9");
    s.rescan();
    EXPECT_EQ(s.hash(kOptic)["stale"], "yes");

    // Created again: it runs on the new tuning.
    ASSERT_EQ(s.down(kOptic), PLTFM_SUCCESS);
    ASSERT_FALSE(s.pre_init(kOptic).empty());
    EXPECT_EQ(s.hash(kOptic)["stale"], "no");
}

// Rows removed: the port could not be created with the tuning now in the files.
TEST(PortStateTable, StaleWhenThePortsRowsAreRemoved) {
    Switch s;
    ASSERT_TRUE(s.ok);
    ASSERT_FALSE(s.pre_init(kDacA).empty());
    ASSERT_FALSE(s.pre_init(kDacB).empty());
    const std::string dac = s.fake.tuning_dir() + "/generic_dac_1m.csv";
    delete_lines(dac, sample_line(30, 0), sample_line(30, 8));
    const std::string log = s.rescan();
    EXPECT_TRUE(log.find("(" + kDacA.name() + ", " + kDacB.name() + "): re-create") !=
                std::string::npos)
        << log;
    EXPECT_EQ(s.hash(kDacA)["stale"], "yes");
    EXPECT_EQ(s.hash(kDacB)["stale"], "yes");
}

// A port taken down since its pre-initialisation runs on nothing: never stale. A rescan that
// fails leaves the tuning in use, so nothing is stale either.
TEST(PortStateTable, NothingStaleAfterAFailedRescanOrForADownPort) {
    Switch s;
    ASSERT_TRUE(s.ok);
    ASSERT_FALSE(s.pre_init(kOptic).empty());
    ASSERT_FALSE(s.pre_init(kDacA).empty());
    ASSERT_EQ(s.down(kDacA), PLTFM_SUCCESS);
    const std::string optics = optics_file(s);
    set_cell(optics, sample_line(31, 0), column_of(optics, "50G/400G", "TX_EQ_PRE1"), "-9");
    write_file(s.fake.tuning_dir() + "/broken.csv", "VERSION,CABLE TYPE\n");
    std::string log = s.rescan();
    EXPECT_TRUE(log.find("Error: CSV rescan failed") != std::string::npos) << log;
    EXPECT_TRUE(log.find("re-create these ports") == std::string::npos) << log;
    EXPECT_EQ(s.hash(kOptic)["stale"], "no");

    std::remove((s.fake.tuning_dir() + "/broken.csv").c_str());
    const std::string dac = s.fake.tuning_dir() + "/generic_dac_1m.csv";
    delete_lines(dac, sample_line(30, 0), sample_line(30, 8));
    log = s.rescan();
    EXPECT_TRUE(log.find("(" + kOptic.name() + "): re-create") != std::string::npos) << log;
    EXPECT_EQ(s.hash(kDacA)["stale"], "no");
}

// A table write that fails (the key holds a string): one message for the port, and the SDK
// gets the same records as with the table off.
TEST(PortStateTable, FailedWriteChangesNothingTheSdkGets) {
    std::vector<Rec> without_table;
    {
        Switch off("0");
        ASSERT_TRUE(off.ok);
        without_table = off.pre_init(kOptic);
    }
    Switch s;
    ASSERT_TRUE(s.ok);
    s.redis.set(6, "PORT_SERDES_STATE|" + kOptic.name(), "not a hash");
    LogCapture log;
    EXPECT_EQ(s.pre_init(kOptic), without_table);
    EXPECT_EQ(s.event(kOptic, pltfm_port_init), PLTFM_SUCCESS);
    EXPECT_EQ(s.event(kOptic, pltfm_port_link_up), PLTFM_SUCCESS);
    const std::string text = log.text();
    const std::string message = "The state of " + kOptic.name() + " could not be written";
    EXPECT_TRUE(text.find(message) != std::string::npos) << text;
    EXPECT_EQ(text.find(message), text.rfind(message)) << "once per port: " << text;
    EXPECT_TRUE(s.hash(kOptic).empty());
}

// Writes that Redis did not take (it was frozen) are made by the insertion pass once it
// answers again: what was published is not lost to the outage.
TEST(PortStateTable, UnwrittenStateIsWrittenOnceRedisAnswers) {
    pltfm::redis::set_bounds_for_test(std::chrono::milliseconds(300),
                                      std::chrono::milliseconds(1000));
    pltfm::redis::stall_policy().set_retry_interval_for_test(std::chrono::milliseconds(0));
    Switch s;
    ASSERT_TRUE(s.ok);
    s.redis.pause();
    LogCapture log;
    const auto records = s.pre_init(kOptic);  // port_config.ini's speed, the EEPROM's module
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(s.event(kOptic, pltfm_port_init), PLTFM_SUCCESS);
    s.redis.resume();
    pltfm::hw::oir_monitor_pass();
    const std::string text = log.text();
    const std::string message = "The state of " + kOptic.name() + " could not be written";
    EXPECT_EQ(text.find(message), text.rfind(message)) << "once per port: " << text;
    Hash h = s.hash(kOptic);
    EXPECT_EQ(h["pre_init"], "ok");
    EXPECT_EQ(h["records"], std::to_string(records.size()));
    EXPECT_EQ(h["identified_by"], "eeprom");
    EXPECT_EQ(h["speed_from"], "port_config");
    EXPECT_EQ(h["state"], "pre_init init inserted");
}
