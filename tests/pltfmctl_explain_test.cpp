// pltfmctl explain against a fake platform tree and a private Redis: the identification
// source (state database record or EEPROM bytes), the speed source, the lane-speed class, the
// tuning rows and SDK records; Redis and the EEPROM files are the same before and after.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "hw_test_util.h"
#include "tool_run.h"
#include "tuning_copy.h"

using namespace pltfm::test;

namespace {

// Every hash of databases 0, 4 and 6 as "db key field" -> value.
std::map<std::string, std::string> snapshot(const RedisServer &redis) {
    std::map<std::string, std::string> out;
    for (int db : {0, 4, 6}) {
        for (const auto &key : redis.command(db, {"KEYS", "*"}).elements) {
            const auto all = redis.command(db, {"HGETALL", key.text});
            for (std::size_t i = 0; i + 1 < all.elements.size(); i += 2)
                out[std::to_string(db) + " " + key.text + " " + all.elements[i].text] =
                    all.elements[i + 1].text;
        }
    }
    return out;
}

class ExplainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(env_.redis.ok()) << env_.redis.error();
        env_.fake.tuning_dir_from(kSampleDir);
        env_.fake.port_config_line("Ethernet8", 400000, "8,9,10,11,12,13,14,15");
        env_.fake.port_config_line("Ethernet18", 100000, "18,19");
        env_.fake.port_config_line("Ethernet72", 400000, "72,73,74,75,76,77,78,79");
        ASSERT_TRUE(env_.fake.ok()) << env_.fake.error();
    }
    nlohmann::json explain(std::vector<std::string> args, int expected_exit) {
        args.insert(args.begin(), "explain");
        args.push_back("--json");
        const ToolRun r = run_tool("pltfmctl", args);
        EXPECT_EQ(r.exit_code, expected_exit) << r.err << r.out;
        return r.out.empty() ? nlohmann::json() : nlohmann::json::parse(r.out);
    }
    HwEnv env_;
};

}  // namespace

TEST_F(ExplainTest, TheStateDatabaseRecordDecidesAndNothingIsWritten) {
    // Redis says a 1 m DAC, the EEPROM an optic: the record decides, as the library does.
    env_.speed("Ethernet8", "400000");
    env_.record("Ethernet8", "QSFP-DD Double Density 8X Pluggable Transceiver",
                "passive_copper_media_interface", "No separable connector", "1");
    env_.redis.hset(4, "PORT|Ethernet8", "admin_status", "up");
    env_.fake.cage(2, qsfp_dd_optic());
    const auto redis_before = snapshot(env_.redis);
    const auto eeprom_before = env_.fake.eeprom(2);

    const auto doc = explain({"--intf", "Ethernet8"}, 0);
    EXPECT_EQ(doc["port"]["front_port"], 1);
    EXPECT_EQ(doc["port"]["lanes"], 8);
    EXPECT_EQ(doc["speed"],
              nlohmann::json::parse(R"({"value":400000,"source":"database 0","reply":"400000"})"));
    EXPECT_EQ(doc["lane_speed"]["speed"], "50G/400G");
    const auto &id = doc["identification"];
    EXPECT_EQ(id["source"], "state_db");
    EXPECT_EQ(id["cable_type"], "DAC_1M");
    EXPECT_EQ(id["state_db"]["TRANSCEIVER_INFO|specification_compliance"],
              "passive_copper_media_interface");
    EXPECT_FALSE(id.contains("eeprom"));
    EXPECT_EQ(doc["tuning"]["keys"]["CABLE_TYPE"], "DAC_1M");
    // The records are those lookup gives for the same keys.
    const ToolRun lookup = run_tool(
        "pltfmctl", {"lookup", kSampleDir, "--cable-type", "DAC_1M", "--port-speed", "400000",
                     "--front-port", "1", "--lanes", "8", "--start-lane", "0", "--json"});
    EXPECT_EQ(doc["tuning"]["sdk_records"], nlohmann::json::parse(lookup.out)["sdk_records"]);
    EXPECT_EQ(doc["tuning"]["sdk_records"][0]["values"].size(), 8u);

    EXPECT_EQ(snapshot(env_.redis), redis_before);
    EXPECT_EQ(env_.fake.eeprom(2), eeprom_before);  // the laser enable was not written
}

TEST_F(ExplainTest, TheEepromDecidesWhenTheRecordSaysNoModule) {
    env_.speed("Ethernet18", "100000");  // 2 lanes: 50G/400G PAM4
    env_.redis.hset(6, "TRANSCEIVER_STATUS|Ethernet18", "status", "0");
    env_.fake.cage(3, qsfp_dd_optic_breakout(4));
    const auto doc = explain({"--intf", "Ethernet18"}, 0);
    const auto &id = doc["identification"];
    EXPECT_EQ(id["source"], "eeprom");
    EXPECT_EQ(id["state_db"]["TRANSCEIVER_STATUS|status"], "0");
    EXPECT_EQ(id["eeprom"]["deciding_byte"]["offset"], 85);
    EXPECT_EQ(id["eeprom"]["path"], env_.fake.eeprom_path(3));
    EXPECT_EQ(doc["tuning"]["keys"]["CABLE_TYPE"], "OPTICS");
    // Lanes 2 and 3 of front port 2.
    EXPECT_EQ(doc["tuning"]["lanes"][0]["lane"], "2");
    EXPECT_EQ(doc["tuning"]["lanes"].size(), 2u);

    // The geometry given on the command line instead; the text form.
    const ToolRun text = run_tool("pltfmctl", {"explain", "--intf", "Ethernet18", "--lanes", "2",
                                               "--start-lane", "2", "--front-port", "2"});
    EXPECT_EQ(text.exit_code, 0) << text.err;
    EXPECT_TRUE(
        has(text.out,
            "Ethernet18: cage 3, front port 2, SerDes group 28, lanes 2-3 (2, from --lanes)"));
    EXPECT_TRUE(has(text.out,
                    "speed: 100000 from database 0 (PORT_TABLE:Ethernet18 speed = \"100000\")\n"));
    EXPECT_TRUE(has(text.out,
                    "module: OPTICS, from the EEPROM (the state database did not identify it)\n"));
    EXPECT_TRUE(has(text.out, "    byte 85 (module media type): 0x02\n"));
    EXPECT_TRUE(has(text.out, "read only: nothing was written"));
}

TEST_F(ExplainTest, EmptyCagesAndBadArgumentsGiveNoTuning) {
    env_.speed("Ethernet72", "400000");
    const auto doc = explain({"--intf", "Ethernet72"}, 1);  // cage 10 is empty
    EXPECT_EQ(doc["identification"]["source"], "none");
    EXPECT_EQ(doc["identification"]["eeprom"]["readable"], false);
    EXPECT_EQ(doc["key_attributes_status"], "PLTFM_NOTFOUND");
    EXPECT_EQ(doc["tuned"], false);
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"--intf", "Ethernet16"},  // not in port_config.ini
          {"--intf", "Ethernet999"},                         // not on the board
          {"--intf", "Ether net0", "--lanes", "1", "--start-lane", "0", "--front-port", "0"},
          {"--intf", "Ethernet8", "--lanes", "9"}}) {
        std::vector<std::string> argv = {"explain"};
        argv.insert(argv.end(), args.begin(), args.end());
        const ToolRun r = run_tool("pltfmctl", argv);
        EXPECT_EQ(r.exit_code, 2) << args[1];
        EXPECT_FALSE(r.err.empty());
    }
}
