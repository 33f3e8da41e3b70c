// pltfmctl lint and lookup, run as the operator runs them: exit codes, the library's
// messages on standard error, the verdict, and lookup output checked against the tuning file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "test_util.h"
#include "tool_run.h"

using namespace pltfm::test;

namespace {

// A DAC_1M table for front ports 3 and 32: two column groups (25G/100G NRZ, 50G/400G PAM4);
// lane l of port 3 has TX_EQ_PRE1 -l at 50G, RX_CTLE_LF 10+l, AN 1 and an effort.
std::string dac_table() {
    std::string t =
        "VERSION,CABLE TYPE,VENDOR,,,,,,,\n"
        "1.0,dac_1m,Generic,,,,,,,\n"
        ",,,SPEED,ENCODING,,SPEED,ENCODING,,\n"
        ",,,25G/100G,NRZ,,50G/400G,PAM4,,\n"
        "INDEX,FRONT PORT,LANE,TX_EQ_PRE1,TX_EQ_ATTN,TX_EQ_POST,TX_EQ_PRE1,RX_CTLE_LF,AN,"
        "RX_EQ_COARSE_TUNE_EFFORT_50G\n";
    for (int lane = 0; lane < 8; ++lane) {
        t += std::to_string(lane + 1) + ",3," + std::to_string(lane) + ",-1,0,-6," +
             std::to_string(-lane) + "," + std::to_string(10 + lane) + ",1,medium\n";
    }
    t += ",,,,,,,,,\n";
    t += "9,32,0,-2,1,-5,-4,7,0,low\n";
    return t;
}

struct TuningDir {
    TempDir dir;
    TuningDir() { write_file(dir / "dac_1m.csv", dac_table()); }
    std::string path() const { return dir.path(); }
};

}  // namespace

TEST(PltfmctlLint, ValidDirectoryExitsZeroWithVerdict) {
    TuningDir t;
    write_file(t.dir / "notes.txt", "not a tuning file");
    const ToolRun r = run_tool("pltfmctl", {"lint", t.path()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(t.path() + ": valid (1 tuning file)"), std::string::npos) << r.out;

    const ToolRun j = run_tool("pltfmctl", {"lint", "--json", t.path()});
    ASSERT_EQ(j.exit_code, 0) << j.err;
    const auto doc = nlohmann::json::parse(j.out);
    EXPECT_TRUE(doc["valid"].get<bool>());
    EXPECT_TRUE(doc["has_rows"].get<bool>());
    EXPECT_EQ(doc["tuning_files"], nlohmann::json::array({"dac_1m.csv"}));
}

TEST(PltfmctlLint, BrokenDirectoriesExitOneWithTheLibrarysMessages) {
    struct Case {
        const char *what;
        std::string text;
        const char *message;
    };
    std::string one_empty_cell = dac_table();
    one_empty_cell.replace(one_empty_cell.find("9,32,0,-2"), 9, "9,32,0,");
    std::string duplicate = dac_table() + "10,32,0,-2,1,-5,-4,7,0,low\n";
    std::string bad_column = dac_table();
    bad_column.replace(bad_column.find("FRONT PORT"), 10, "FRONT  PORT");
    const Case cases[] = {
        {"data line with one empty cell", one_empty_cell, "expected nonempty value count 0 or all"},
        {"same port and lane twice", duplicate, "database add failed for CABLE TYPE (DAC_1M)"},
        {"column name with two blanks", bad_column, "is missing the value FRONT PORT in column 2"},
        {"extra empty line at the end", dac_table() + "\n", "value count 1 is not the expected count 10"},
    };
    for (const Case &c : cases) {
        TempDir dir;
        write_file(dir / "bad.csv", c.text);
        const ToolRun r = run_tool("pltfmctl", {"lint", dir.path()});
        EXPECT_EQ(r.exit_code, 1) << c.what;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << "\n" << r.err;
        EXPECT_NE(r.out.find(": INVALID ("), std::string::npos) << c.what << "\n" << r.out;
    }
}

TEST(PltfmctlLint, UsageErrorsExitTwoAndHelpExitsZero) {
    EXPECT_EQ(run_tool("pltfmctl", {}).exit_code, 2);
    EXPECT_EQ(run_tool("pltfmctl", {"lint"}).exit_code, 2);
    const ToolRun missing = run_tool("pltfmctl", {"lint", "/nonexistent/tuning"});
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_FALSE(missing.err.empty());
    EXPECT_EQ(run_tool("pltfmctl", {"frobnicate"}).exit_code, 2);
    for (const char *sub : {"lint", "lookup", "eeprom"}) {
        const ToolRun help = run_tool("pltfmctl", {sub, "--help"});
        EXPECT_EQ(help.exit_code, 0) << sub;
        EXPECT_NE(help.out.find("Usage"), std::string::npos) << sub;
    }
}

TEST(PltfmctlLint, SampleTuningDirectoryIsValid) {
    const std::string sample = std::string(PLTFM_EXAMPLES_DIR) + "/platform/CSV";
    const ToolRun r = run_tool("pltfmctl", {"lint", sample});
    EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST(PltfmctlLookup, RowsAndSdkRecordsMatchTheFile) {
    TuningDir t;
    const ToolRun r = run_tool("pltfmctl", {"lookup", t.path(), "--cable-type", "DAC_1M",
                                            "--port-speed", "400000", "--front-port", "3",
                                            "--lanes", "8", "--start-lane", "0", "--json"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_FALSE(doc["vendor_fallback"].get<bool>());
    EXPECT_EQ(doc["keys"]["SPEED"], "50G/400G");
    EXPECT_EQ(doc["keys"]["ENCODING"], "PAM4");
    ASSERT_EQ(doc["lanes"].size(), 8u);
    for (int lane = 0; lane < 8; ++lane) {
        const auto &block = doc["lanes"][lane];
        EXPECT_EQ(block["lane"], std::to_string(lane));
        EXPECT_EQ(block["values"]["TX_EQ_PRE1"], std::to_string(-lane));
        EXPECT_EQ(block["values"]["RX_CTLE_LF"], std::to_string(10 + lane));
        EXPECT_EQ(block["values"]["RX_EQ_COARSE_TUNE_EFFORT_50G"], "MEDIUM");
    }
    // Records in the order of the first lane's columns; per-lane lists, scalars once.
    const auto &rec = doc["sdk_records"];
    ASSERT_EQ(rec.size(), 4u) << rec.dump();
    EXPECT_EQ(rec[0]["name"], "TX_EQ_PRE1");
    EXPECT_EQ(rec[0]["values"], nlohmann::json({0, -1, -2, -3, -4, -5, -6, -7}));
    EXPECT_EQ(rec[1]["name"], "RX_CTLE_LF");
    EXPECT_EQ(rec[1]["values"], nlohmann::json({10, 11, 12, 13, 14, 15, 16, 17}));
    EXPECT_EQ(rec[2]["name"], "AUTO_NEG");
    EXPECT_EQ(rec[2]["values"], nlohmann::json({1}));
    EXPECT_EQ(rec[3]["name"], "RX_EQ_COARSE_TUNE_EFFORT_50G");
    EXPECT_EQ(rec[3]["values"], nlohmann::json({16}));

    // The same port as text, and a breakout port at 25G: lanes 2 and 3 of the port.
    const ToolRun text = run_tool("pltfmctl", {"lookup", t.path(), "--cable-type", "dac_1m",
                                               "--lane-speed", "25G/100G", "--front-port", "3",
                                               "--lanes", "2", "--start-lane", "2"});
    ASSERT_EQ(text.exit_code, 0) << text.err;
    EXPECT_NE(text.out.find("lane 2: TX_EQ_PRE1=-1 TX_EQ_ATTN=0 TX_EQ_POST=-6\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("lane 3: "), std::string::npos);
    EXPECT_EQ(text.out.find("lane 4: "), std::string::npos);
    EXPECT_NE(text.out.find("TX_EQ_POST (47) i8_list: -6 -6\n"), std::string::npos) << text.out;
}

TEST(PltfmctlLookup, VendorFallsBackToGenericAndPortIsComparedAsText) {
    TuningDir t;
    const ToolRun r = run_tool("pltfmctl", {"lookup", t.path(), "--cable-type", "DAC_1M",
                                            "--vendor", "Acme", "--lane-speed", "50G/400G",
                                            "--front-port", "32", "--lanes", "1", "--start-lane", "0"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("vendor ACME has no rows for cable type DAC_1M: the GENERIC rows are used"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("using vendor name GENERIC instead"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("lane 0: TX_EQ_PRE1=-4 RX_CTLE_LF=7 AN=0 RX_EQ_COARSE_TUNE_EFFORT_50G=LOW"),
              std::string::npos)
        << r.out;

    const ToolRun padded = run_tool("pltfmctl", {"lookup", t.path(), "--cable-type", "DAC_1M",
                                                 "--lane-speed", "50G/400G", "--front-port", "03",
                                                 "--lanes", "8", "--start-lane", "0"});
    EXPECT_EQ(padded.exit_code, 1);
    EXPECT_NE(padded.err.find("entry not found for key 03"), std::string::npos) << padded.err;
    EXPECT_NE(padded.out.find("no tuning for these keys (PLTFM_NOTFOUND)"), std::string::npos);
}

TEST(PltfmctlLookup, UsageErrorsExitTwo) {
    TuningDir t;
    const std::vector<std::vector<std::string>> bad = {
        // 300000 over 8 lanes is 37500 per lane: no lane-speed class.
        {"--cable-type", "DAC_1M", "--port-speed", "300000", "--front-port", "3", "--lanes", "8",
         "--start-lane", "0"},
        {"--cable-type", "DAC_1M", "--port-speed", "400000", "--lane-speed", "50G/400G",
         "--front-port", "3", "--lanes", "8", "--start-lane", "0"},
        {"--cable-type", "DAC_1M", "--front-port", "3", "--lanes", "8", "--start-lane", "0"},
        {"--cable-type", "DAC_1M", "--lane-speed", "40G", "--front-port", "3", "--lanes", "8",
         "--start-lane", "0"},
        {"--cable-type", "DAC_1M", "--lane-speed", "50G/400G", "--front-port", "3", "--lanes", "0",
         "--start-lane", "0"},
    };
    for (const auto &args : bad) {
        std::vector<std::string> full = {"lookup", t.path()};
        full.insert(full.end(), args.begin(), args.end());
        const ToolRun r = run_tool("pltfmctl", full);
        EXPECT_EQ(r.exit_code, 2) << full[4] << " " << full[5];
        EXPECT_FALSE(r.err.empty());
    }
}
