// pltfmctl status and the published-state part of pltfmctl explain, against a real Redis
// whose port-state hashes the library wrote in this process (the SDK's calls made here), with
// the tool run as its own process through redis-cli and (the .native cases) over PLTFM_REDIS:
// the table and its flags (a module in the cage that is not the one the tuning was chosen for,
// a module exchange the port was not created for, stale tuning after a rescan, an exchange
// cycle left open, a port the OS runs with a module but the library never pre-initialised),
// --intf, --stale and --json with their exit codes, the table off, and Redis not answering.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "background_threads.h"
#include "hw_test_util.h"
#include "ifcs_devport.h"
#include "platform_hw_internal.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "port_state.h"
#include "serdes_records.h"
#include "test_util.h"
#include "tool_run.h"
#include "tuning_copy.h"

using namespace pltfm::test;
using json = nlohmann::json;

namespace {

// One SDK port: SerDes group (1 to 33), start lane, lanes and speed.
struct SdkPort {
    int32_t sg, sl, nl, speed;
    uint32_t slot() const { return *pltfm::hw::port_slot(sg - 1, sl); }
    std::string name() const { return "Ethernet" + std::to_string(slot() - 1); }
    int cage() const { return FakePlatform::front_panel_of(sg - 1, sl); }
    std::string lanes() const {
        std::string text;
        for (int i = 0; i < nl; ++i) text += (i ? "," : "") + std::to_string(sl + i);
        return text;
    }
};

// A 400G optic the state database knows (front port 31); a 1 m DAC broken out in two 100G
// ports that the EEPROM identifies (front port 30); an empty cage (front port 29); and an
// optic in the cage of front port 28 whose port the SDK never creates here.
const SdkPort kOptic{1, 0, 8, 400000}, kDacA{2, 0, 4, 100000}, kDacB{2, 4, 4, 100000},
    kEmpty{3, 0, 8, 400000}, kNeverCreated{4, 0, 8, 400000};
const SdkPort kAll[] = {kOptic, kDacA, kDacB, kEmpty, kNeverCreated};

constexpr const char *kQsfpDd = "QSFP-DD Double Density 8X Pluggable Transceiver";

class LiveSwitch {
  public:
    // `setting`: PLTFM_PORT_STATE of the library in this process.
    explicit LiveSwitch(const char *setting = "1") {
        ::setenv("PLTFM_PORT_STATE", setting, 1);
        pltfm::port_state::reload_for_test();
        if (modes::mode() == modes::Mode::cli) redis.use_on_path();
        modes::select(modes::mode(), redis.socket_path());
        fake.tuning_dir_from(kSampleDir);
        for (const SdkPort &p : kAll) {
            fake.port_config_line(p.name(), p.speed, p.lanes());
            redis.hset(0, "PORT_TABLE:" + p.name(), "speed", std::to_string(p.speed));
            redis.hset(4, "PORT|" + p.name(), "admin_status", "up");
        }
        fake.cage(kOptic.cage(), qsfp_dd_optic());
        fake.cage(kDacA.cage(), qsfp_dd_dac(1));
        fake.cage(kNeverCreated.cage(), qsfp_dd_optic());
        fake.activate();
        record(kOptic, "400GBASE-DR4 Optical");
        pltfm::threads::disable_autostart_for_test();
        char platform[] = "SwitchSDK";
        LogCapture quiet;
        ok = pltfm_pre_init(platform) == PLTFM_SUCCESS;
    }

    // The OS's record of the module in the port's cage.
    void record(const SdkPort &p, const std::string &compliance) {
        redis.command(6, {"HSET", "TRANSCEIVER_INFO|" + p.name(), "type", kQsfpDd, "cable_length",
                          "0", "specification_compliance", compliance});
        redis.hset(6, "TRANSCEIVER_STATUS|" + p.name(), "status", "1");
    }

    bool pre_init(const SdkPort &p) {
        std::vector<ifcs_attr_t> a = {
            devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, p.sg),
            devport(IFCS_DEVPORT_ATTR_START_LANE, p.sl), devport(IFCS_DEVPORT_ATTR_NUM_LANES, p.nl),
            devport(IFCS_DEVPORT_ATTR_SPEED, p.speed), devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
        uint32_t n = static_cast<uint32_t>(a.size());
        std::string name = p.name();
        LogCapture quiet;
        return pltfm_port_pre_init(name.data(), a.data(), &n) != nullptr;
    }
    // The SDK brings the port up: pre-initialisation, init, link up.
    bool bring_up(const SdkPort &p) {
        if (!pre_init(p)) return false;
        std::vector<ifcs_attr_t> a = {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, p.sg),
                                      devport(IFCS_DEVPORT_ATTR_START_LANE, p.sl),
                                      devport(IFCS_DEVPORT_ATTR_NUM_LANES, p.nl)};
        uint32_t n = static_cast<uint32_t>(a.size());
        std::string name = p.name();
        LogCapture quiet;
        return pltfm_port_init(name.data(), a.data(), &n) == PLTFM_SUCCESS &&
               pltfm_port_link_up(name.data(), a.data(), &n) == PLTFM_SUCCESS;
    }
    void down(const SdkPort &p) {
        std::string name = p.name();
        LogCapture quiet;
        pltfm_port_down(name.data());
    }
    void monitor_pass() {
        LogCapture quiet;
        pltfm::hw::oir_monitor_pass();
    }
    // Reloads the tuning directory as the rescan thread does when the trigger appears.
    void rescan() {
        const std::string trigger = fake.tuning_dir() + "/csv_rescan";
        write_file(trigger, "");
        LogCapture quiet;
        pltfm::serdes::RescanState state;
        pltfm::serdes::rescan_poll(state);
        std::remove(trigger.c_str());
    }
    std::map<std::string, std::string> hash(const SdkPort &p) const {
        std::map<std::string, std::string> h;
        const RedisReply r = redis.command(6, {"HGETALL", "PORT_SERDES_STATE|" + p.name()});
        for (std::size_t i = 0; i + 1 < r.elements.size(); i += 2)
            h[r.elements[i].text] = r.elements[i + 1].text;
        return h;
    }

    RedisServer redis;
    FakePlatform fake;
    bool ok = false;
};

ToolRun status(std::vector<std::string> args = {}) {
    args.insert(args.begin(), "status");
    return run_tool("pltfmctl", args);
}

// The --json document; empty when the output is not JSON.
json status_json(std::vector<std::string> args, int expected_exit) {
    args.push_back("--json");
    const ToolRun r = status(args);
    EXPECT_EQ(r.exit_code, expected_exit) << r.err << r.out;
    return json::parse(r.out, nullptr, false);
}

const json *port_of(const json &doc, const SdkPort &p) {
    for (const json &port : doc["ports"])
        if (port["interface"] == p.name()) return &port;
    return nullptr;
}

std::vector<std::string> flag_codes(const json *port) {
    std::vector<std::string> codes;
    if (port != nullptr)
        for (const json &f : (*port)["flags"]) codes.push_back(f["code"]);
    return codes;
}

// The table's line of a port.
std::string line_of(const std::string &table, const SdkPort &p) {
    const std::size_t at = table.find("  " + p.name() + " ");
    return at == std::string::npos ? std::string() : table.substr(at, table.find('\n', at) - at);
}

// Changes a value of the optic's own 50G/400G rows (column 31: that group's TX_EQ_PRE1).
void change_optic_rows(LiveSwitch &s) {
    set_cell(s.fake.tuning_dir() + "/generic_optics.csv", sample_line(31, 0), 31, "-9");
}

}  // namespace

// Every port the SDK brought up, beside the OS's view: nothing flagged; the empty cage's port
// is listed without tuning and not flagged (nothing to tune), the table's fields are the
// hashes the library wrote.
TEST(PltfmctlStatus, HealthySwitchShowsEveryPortAndFlagsNothing) {
    LiveSwitch s;
    ASSERT_TRUE(s.ok);
    for (const SdkPort &p : {kOptic, kDacA, kDacB}) ASSERT_TRUE(s.bring_up(p)) << p.name();
    EXPECT_FALSE(s.pre_init(kEmpty));
    // The OS does not run the never-created port's cage here.
    s.redis.hset(4, "PORT|" + kNeverCreated.name(), "admin_status", "down");

    const json doc = status_json({}, 0);
    ASSERT_TRUE(doc.is_object());
    EXPECT_EQ(doc["counts"]["ports"], 5);
    EXPECT_EQ(doc["counts"]["flagged"], 0);
    std::vector<std::string> order;
    for (const json &p : doc["ports"]) order.push_back(p["interface"]);
    EXPECT_EQ(order, (std::vector<std::string>{kNeverCreated.name(), kEmpty.name(), kDacA.name(),
                                               kDacB.name(), kOptic.name()}));
    const json *optic = port_of(doc, kOptic);
    ASSERT_NE(optic, nullptr);
    json published = json::object();
    for (const auto &[k, v] : s.hash(kOptic)) published[k] = v;
    EXPECT_EQ((*optic)["published"], published);
    EXPECT_EQ((*optic)["os"]["admin_status"], "up");
    EXPECT_EQ((*optic)["os"]["transceiver_status"], "1");
    EXPECT_EQ((*optic)["os"]["cage_module"], "OPTICS");
    EXPECT_EQ((*optic)["os"]["cage_module_from"], "state_db");
    EXPECT_GE((*optic)["age_s"].get<double>(), 0.0);
    EXPECT_LT((*optic)["age_s"].get<double>(), 120.0);
    const json *dac = port_of(doc, kDacB);
    ASSERT_NE(dac, nullptr);
    EXPECT_EQ((*dac)["os"]["cage_module"], "DAC_1M");
    EXPECT_EQ((*dac)["os"]["cage_module_from"], "eeprom");
    const json *empty = port_of(doc, kEmpty);
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE((*empty)["published"].is_null());
    EXPECT_EQ((*empty)["os"]["cage_module_from"], "none");

    const ToolRun text = status();
    EXPECT_EQ(text.exit_code, 0) << text.err << text.out;
    EXPECT_TRUE(has(text.out, "  Port "));
    const std::string optic_line = line_of(text.out, kOptic);
    for (const char *cell : {"OPTICS (state_db)", "50G/400G PAM4", "8@0", "not written (CMIS)",
                             "pre_init init link_up", "OPTICS (state_db)"})
        EXPECT_TRUE(has(optic_line, cell));
    EXPECT_TRUE(has(optic_line, published["records"].get<std::string>() + " " +
                                    published["digest"].get<std::string>().substr(0, 8)));
    const std::string dac_line = line_of(text.out, kDacB);
    for (const char *cell : {"DAC_1M (eeprom)", "25G/100G NRZ", "4@4", "not an optic"})
        EXPECT_TRUE(has(dac_line, cell));
    EXPECT_TRUE(has(line_of(text.out, kEmpty), " none "));
    EXPECT_TRUE(has(text.out, "5 ports, nothing flagged, 0 stale."));
}

// The OS runs a port whose cage holds a module, and the library never pre-initialised it (or
// its pre-initialisation failed): flagged, with --intf narrowing the exit status to one port.
TEST(PltfmctlStatus, PortTheOsRunsWithoutTuningIsFlagged) {
    LiveSwitch s;
    ASSERT_TRUE(s.ok);
    ASSERT_TRUE(s.bring_up(kOptic));
    const json doc = status_json({}, 1);
    EXPECT_EQ(flag_codes(port_of(doc, kNeverCreated)), std::vector<std::string>{"not-tuned"});
    EXPECT_EQ(flag_codes(port_of(doc, kDacA)), std::vector<std::string>{"not-tuned"});
    EXPECT_TRUE(flag_codes(port_of(doc, kEmpty)).empty()) << "an empty cage has nothing to tune";
    EXPECT_TRUE(flag_codes(port_of(doc, kOptic)).empty());
    EXPECT_EQ(doc["counts"]["flagged"], 3);

    const ToolRun text = status();
    EXPECT_EQ(text.exit_code, 1);
    EXPECT_TRUE(has(text.out, kNeverCreated.name() +
                                  "  not-tuned: admin_status is up and the cage holds OPTICS, but "
                                  "the library never pre-initialised the port"));
    EXPECT_TRUE(has(text.out, "3 flagged, 0 stale."));

    EXPECT_EQ(status({"--intf", kOptic.name()}).exit_code, 0);
    const json one = status_json({"--intf", kDacA.name()}, 1);
    ASSERT_EQ(one["ports"].size(), 1u);
    EXPECT_EQ(one["shown"], kDacA.name());

    // A pre-initialisation that fails later (the module pulled) says so.
    ASSERT_TRUE(s.bring_up(kDacA));
    s.down(kDacA);
    s.fake.empty_cage(kDacA.cage());
    EXPECT_FALSE(s.pre_init(kDacA));
    s.fake.cage(kDacA.cage(), qsfp_dd_dac(1));
    const json failed = status_json({"--intf", kDacA.name()}, 1);
    EXPECT_EQ(failed["ports"][0]["published"]["pre_init"], "failed");
    EXPECT_TRUE(has(failed["ports"][0]["flags"][0]["text"].get<std::string>(),
                    "the port's last pre-initialisation failed"));
}

// A module exchange seen from outside: first the cage holds another module than the tuning's
// (the library has not looked yet), then the library stored it and opened the exchange cycle,
// then the cycle stays open beyond the limit.
TEST(PltfmctlStatus, ModuleExchangeAndAnExchangeCycleLeftOpenAreFlagged) {
    LiveSwitch s;
    ASSERT_TRUE(s.ok);
    ASSERT_TRUE(s.bring_up(kOptic));
    s.redis.hset(4, "PORT|" + kNeverCreated.name(), "admin_status", "down");
    s.redis.hset(4, "PORT|" + kDacA.name(), "admin_status", "down");
    s.redis.hset(4, "PORT|" + kDacB.name(), "admin_status", "down");
    EXPECT_EQ(status({"--intf", kOptic.name()}).exit_code, 0);

    s.record(kOptic, "passive_copper_media_interface");  // a 1 m DAC now
    json doc = status_json({"--intf", kOptic.name()}, 1);
    EXPECT_EQ(flag_codes(&doc["ports"][0]), std::vector<std::string>{"module"});
    EXPECT_TRUE(has(doc["ports"][0]["flags"][0]["text"].get<std::string>(),
                    "the cage holds DAC_1M (from the state database), the port's tuning was "
                    "chosen for OPTICS"));

    s.monitor_pass();  // stores the DAC and sets the port down for its re-creation
    ASSERT_EQ(s.hash(kOptic)["exchange"], "open");
    ASSERT_EQ(s.redis.hget(4, "PORT|" + kOptic.name(), "admin_status"), "down");
    doc = status_json({}, 1);
    const json *optic = port_of(doc, kOptic);
    EXPECT_EQ(flag_codes(optic), (std::vector<std::string>{"module", "exchanged"}));
    EXPECT_LT((*optic)["exchange_age_s"].get<double>(), 10.0);
    EXPECT_EQ(doc["counts"]["flagged"], 1) << "admin down ports without tuning are not flagged";

    // The cycle was opened 11 s ago and nothing closed it.
    pthread_mutex_lock(&mutex);
    pltfm::hw::admin_cycle_since_ms[kOptic.slot()] -= 11000;
    pthread_mutex_unlock(&mutex);
    pltfm::port_state::changed(kOptic.slot());
    const ToolRun text = status({"--intf", kOptic.name()});
    EXPECT_EQ(text.exit_code, 1);
    EXPECT_TRUE(has(line_of(text.out, kOptic), "open 1")) << "11 s and the time since";
    EXPECT_TRUE(has(text.out, "exchange: exchange cycle open since "));
    EXPECT_TRUE(has(text.out,
                    "the library set admin_status down and the port has not been "
                    "taken down and created again"));

    // The OS completes the cycle: port-down sets it up, the port is created with DAC tuning.
    s.down(kOptic);
    ASSERT_EQ(s.redis.hget(4, "PORT|" + kOptic.name(), "admin_status"), "up");
    ASSERT_TRUE(s.bring_up(kOptic));
    doc = status_json({"--intf", kOptic.name()}, 0);
    EXPECT_EQ(doc["ports"][0]["published"]["cable_type"], "DAC_1M");
    EXPECT_EQ(doc["ports"][0]["published"]["identified_by"], "stored");
}

// After a rescan that changes the optic's rows: stale in the table and in --stale (exit 1);
// created again, no stale port is left (exit 0).
TEST(PltfmctlStatus, StaleTuningAfterARescanUntilThePortIsCreatedAgain) {
    LiveSwitch s;
    ASSERT_TRUE(s.ok);
    for (const SdkPort &p : {kOptic, kDacA, kDacB}) ASSERT_TRUE(s.bring_up(p));
    s.redis.hset(4, "PORT|" + kNeverCreated.name(), "admin_status", "down");
    ToolRun r = status({"--stale"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(has(r.out, "no stale port"));

    change_optic_rows(s);
    s.rescan();
    ASSERT_EQ(s.hash(kOptic)["stale"], "yes");
    const json doc = status_json({"--stale"}, 1);
    ASSERT_EQ(doc["ports"].size(), 1u);
    EXPECT_EQ(doc["ports"][0]["interface"], kOptic.name());
    EXPECT_EQ(doc["counts"]["stale"], 1);
    r = status();
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(has(line_of(r.out, kOptic), " yes "));
    EXPECT_TRUE(has(r.out, kOptic.name() + "  stale: a rescan changed the tuning of its rows (" +
                               s.hash(kOptic)["tuning_rows"] + " when it was created)"));
    EXPECT_TRUE(has(r.out, "1 flagged, 1 stale."));
    EXPECT_EQ(status({"--stale", "--intf", kDacA.name()}).exit_code, 0);

    s.down(kOptic);
    ASSERT_TRUE(s.bring_up(kOptic));
    r = status({"--stale"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(has(r.out, "no stale port"));
    EXPECT_EQ(status().exit_code, 0);
}

// The table off (the library runs without PLTFM_PORT_STATE=1): one clear message, exit 1, for
// every flag; a port name the library would not accept or an unknown option is a usage error;
// a name neither table knows is reported.
TEST(PltfmctlStatus, TableOffUnknownPortsAndUsageErrors) {
    {
        LiveSwitch off("0");
        ASSERT_TRUE(off.ok);
        ASSERT_TRUE(off.bring_up(kOptic));
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{}, {"--stale"}, {"--intf", kOptic.name()}}) {
            const ToolRun r = status(args);
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_TRUE(has(r.err, "the port-state table is off"));
            EXPECT_TRUE(has(r.err, "PLTFM_PORT_STATE=1"));
            EXPECT_EQ(r.out, "");
        }
        const json doc = status_json({}, 1);
        EXPECT_EQ(doc["error"], "table off");
    }
    LiveSwitch s;
    ASSERT_TRUE(s.ok);
    ASSERT_TRUE(s.bring_up(kOptic));
    const ToolRun unknown = status({"--intf", "Ethernet9"});
    EXPECT_EQ(unknown.exit_code, 1);
    EXPECT_TRUE(has(unknown.err, "Ethernet9 is neither in the port-state table nor a port"));
    EXPECT_EQ(status({"--intf", "Ether net0"}).exit_code, 2);
    EXPECT_EQ(status({"--color"}).exit_code, 2);
}

// Redis stopped, then frozen (it takes the connection and answers nothing): exit 1 with the
// reason, within the bound of an access instead of hanging.
TEST(PltfmctlStatus, RedisThatDoesNotAnswer) {
    LiveSwitch s;
    ASSERT_TRUE(s.ok);
    ASSERT_TRUE(s.bring_up(kOptic));
    s.redis.pause();
    ToolRun r = status();
    s.redis.resume();
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(has(r.err, "Redis does not answer"));
    EXPECT_TRUE(has(r.err, "no answer within"));
    s.redis.stop();
    r = status({"--json"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(has(r.err, "Redis does not answer"));
    EXPECT_EQ(json::parse(r.out, nullptr, false)["error"], "redis does not answer");
}

// explain beside the published state: the same answer; after a rescan that changed the
// port's rows, the records differ and the stale mark says why; a port without a hash, and
// the table off, say "none".
TEST(PltfmctlStatus, ExplainShowsThePublishedStateAndWhereItDiffers) {
    auto explain = [](const SdkPort &p, const std::vector<std::string> &extra = {}) {
        std::vector<std::string> args = {"explain", "--intf", p.name()};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_tool("pltfmctl", args);
    };
    {
        LiveSwitch off("0");
        ASSERT_TRUE(off.ok);
        ASSERT_TRUE(off.bring_up(kOptic));
        const ToolRun r = explain(kOptic);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(has(r.out, "published state: none: the port-state table is off"));
        EXPECT_EQ(json::parse(explain(kOptic, {"--json"}).out)["published"]["state"], "table off");
    }
    LiveSwitch s;
    ASSERT_TRUE(s.ok);
    ASSERT_TRUE(s.bring_up(kOptic));
    ToolRun r = explain(kOptic);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    auto h = s.hash(kOptic);
    EXPECT_TRUE(has(r.out, "published state (database 6, PORT_SERDES_STATE|" + kOptic.name() +
                               "), updated " + h["updated"]));
    EXPECT_TRUE(has(r.out, "module: OPTICS (state_db)"));
    EXPECT_TRUE(has(r.out, "derived now: " + h["digest"]));
    EXPECT_TRUE(has(r.out, "the published state agrees with this derivation"));
    json doc = json::parse(explain(kOptic, {"--json"}).out);
    EXPECT_EQ(doc["published"]["differences"], json::array());
    EXPECT_EQ(doc["published"]["compared"]["records"]["derived"], h["records"]);
    EXPECT_EQ(doc["tuning"]["digest"], h["digest"]);

    change_optic_rows(s);
    s.rescan();
    r = explain(kOptic);
    EXPECT_TRUE(has(r.out, "<- differs"));
    EXPECT_TRUE(has(r.out,
                    "differs: digest: a rescan changed the port's tuning since it was "
                    "pre-initialised (stale: yes)"));
    doc = json::parse(explain(kOptic, {"--json"}).out);
    EXPECT_EQ(doc["published"]["differences"], json::array({"digest"}));
    EXPECT_EQ(doc["published"]["compared"]["digest"]["published"], h["digest"]);
    EXPECT_NE(doc["tuning"]["digest"], h["digest"]);

    // The port the SDK never created: the table is on, the port has none.
    r = explain(kNeverCreated);
    EXPECT_TRUE(has(r.out, "published state: none: the running library has not published"));
}
