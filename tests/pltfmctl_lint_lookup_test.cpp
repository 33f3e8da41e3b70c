// pltfmctl lint and lookup, run as the operator runs them: exit codes, the library's
// messages on standard error, the verdict, and lookup output checked against the tuning file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "test_util.h"
#include "tool_run.h"

using namespace pltfm::test;

namespace {

// A DAC_1M table for front ports 3 and 32: two column groups (25G/100G NRZ, 50G/400G PAM4);
// lane l of port 3 has TX_EQ_PRE1 -l at 50G, RX_CTLE_LF 10+l, AN 1 and an effort.
std::string dac_table() {
    std::string t =
        "VERSION,CABLE TYPE,VENDOR,,,,,,,\n1.0,dac_1m,Generic,,,,,,,\n"
        ",,,SPEED,ENCODING,,SPEED,ENCODING,,\n,,,25G/100G,NRZ,,50G/400G,PAM4,,\n"
        "INDEX,FRONT PORT,LANE,TX_EQ_PRE1,TX_EQ_ATTN,TX_EQ_POST,TX_EQ_PRE1,RX_CTLE_LF,AN,"
        "RX_EQ_COARSE_TUNE_EFFORT_50G\n";
    for (int lane = 0; lane < 8; ++lane)
        t += std::to_string(lane + 1) + ",3," + std::to_string(lane) + ",-1,0,-6," +
             std::to_string(-lane) + "," + std::to_string(10 + lane) + ",1,medium\n";
    return t + ",,,,,,,,,\n9,32,0,-2,1,-5,-4,7,0,low\n";
}

// Runs "pltfmctl <command> <dir> <args>" with `table` the only tuning file in <dir>.
ToolRun run_in(const std::string &table, const std::string &command, const std::string &args = "") {
    TempDir dir;
    write_file(dir / "dac_1m.csv", table);
    std::vector<std::string> argv = {command, dir.path()};
    std::istringstream in(args);
    for (std::string a; in >> a;) argv.push_back(a);
    return run_tool("pltfmctl", argv);
}

::testing::AssertionResult has(const std::string &text, const std::string &needle) {
    if (text.find(needle) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << needle << "\" in:\n" << text;
}

const std::string kPort3 = "--cable-type DAC_1M --front-port 3 --lanes 8 --start-lane 0 ";

}  // namespace

TEST(PltfmctlLint, ExitsZeroForValidOneForInvalidTwoForUsageErrors) {
    const ToolRun ok = run_in(dac_table(), "lint");
    EXPECT_EQ(ok.exit_code, 0) << ok.err;
    EXPECT_TRUE(has(ok.out, ": valid (1 tuning file)"));
    EXPECT_EQ(run_tool("pltfmctl", {"lint", PLTFM_EXAMPLES_DIR "/platform/CSV"}).exit_code, 0);

    std::string one_empty_cell = dac_table(), bad_column = dac_table();
    one_empty_cell.replace(one_empty_cell.find("9,32,0,-2"), 9, "9,32,0,");
    bad_column.replace(bad_column.find("FRONT PORT"), 10, "FRONT  PORT");
    const std::pair<std::string, const char *> broken[] = {
        {one_empty_cell, "expected nonempty value count 0 or all"},
        {dac_table() + "10,32,0,-2,1,-5,-4,7,0,low\n",
         "database add failed for CABLE TYPE (DAC_1M)"},
        {bad_column, "is missing the value FRONT PORT in column 2"},
    };
    for (const auto &[text, message] : broken) {
        const ToolRun r = run_in(text, "lint");
        EXPECT_EQ(r.exit_code, 1) << message;
        EXPECT_TRUE(has(r.err, message));
        EXPECT_TRUE(has(r.out, ": INVALID ("));
    }
    // Usage errors exit 2.
    EXPECT_EQ(run_tool("pltfmctl", {"lint"}).exit_code, 2);
    EXPECT_EQ(run_tool("pltfmctl", {"lint", "/nonexistent/tuning"}).exit_code, 2);
    EXPECT_EQ(run_tool("pltfmctl", {"frobnicate"}).exit_code, 2);
    EXPECT_EQ(run_tool("pltfmctl", {"lookup", "--help"}).exit_code, 0);
    // 300000 over 8 lanes is 37500 per lane: no lane-speed class; speed given twice; none.
    for (const char *speed : {"--port-speed 300000", "--port-speed 400000 --lane-speed 50G/400G",
                              "", "--lane-speed 40G"}) {
        const ToolRun r = run_in(dac_table(), "lookup", kPort3 + speed);
        EXPECT_EQ(r.exit_code, 2) << speed;
        EXPECT_FALSE(r.err.empty());
    }
}

TEST(PltfmctlLookup, RowsAndSdkRecordsMatchTheFile) {
    const ToolRun r = run_in(dac_table(), "lookup", kPort3 + "--port-speed 400000 --json");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    // Records in the order of the first lane's columns; per-lane lists, scalars once.
    nlohmann::json names, values;
    for (const auto &rec : doc["sdk_records"])
        names.push_back(rec["name"]), values.push_back(rec["values"]);
    EXPECT_EQ(names, nlohmann::json(
                         {"TX_EQ_PRE1", "RX_CTLE_LF", "AUTO_NEG", "RX_EQ_COARSE_TUNE_EFFORT_50G"}));
    EXPECT_EQ(values, nlohmann::json::parse(
                          "[[0,-1,-2,-3,-4,-5,-6,-7], [10,11,12,13,14,15,16,17], [1], [16]]"));
}

TEST(PltfmctlLookup, VendorFallsBackToGenericAndBreakoutLanes) {
    const ToolRun r = run_in(dac_table(), "lookup",
                             "--cable-type DAC_1M --vendor Acme --lane-speed 50G/400G "
                             "--front-port 32 --lanes 1 --start-lane 0");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(
        has(r.out, "vendor ACME has no rows for cable type DAC_1M: the GENERIC rows are used"));
    EXPECT_TRUE(has(r.err, "using vendor name GENERIC instead"));
    EXPECT_TRUE(
        has(r.out, "lane 0: TX_EQ_PRE1=-4 RX_CTLE_LF=7 AN=0 RX_EQ_COARSE_TUNE_EFFORT_50G=LOW"));
    // A breakout port at 25G as text: lanes 2 and 3 only.
    const ToolRun text = run_in(dac_table(), "lookup",
                                "--cable-type dac_1m --lane-speed 25G/100G --front-port 3 "
                                "--lanes 2 --start-lane 2");
    ASSERT_EQ(text.exit_code, 0) << text.err;
    EXPECT_TRUE(has(text.out, "lane 2: TX_EQ_PRE1=-1 TX_EQ_ATTN=0 TX_EQ_POST=-6\n"));
    EXPECT_FALSE(has(text.out, "lane 4: "));
    EXPECT_TRUE(has(text.out, "TX_EQ_POST (47) i8_list: -6 -6\n"));
}

TEST(PltfmctlJson, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    // A Latin-1 "é" as the effort of front port 3 lane 0: every --json output still parses.
    std::string table = dac_table();
    table.replace(table.find("medium"), 6, "\xE9");
    const std::pair<const char *, std::string> commands[] = {
        {"lint", "--json"},
        {"report", "--json"},
        {"lookup", kPort3 + "--port-speed 400000 --json"},
    };
    for (const auto &[command, args] : commands) {
        const ToolRun r = run_in(table, command, args);
        EXPECT_LE(r.exit_code, 1) << command << ": " << r.err;
        EXPECT_TRUE(nlohmann::json::accept(r.out)) << command;
        EXPECT_TRUE(has(r.out, "\xEF\xBF\xBD")) << command;
    }
}
