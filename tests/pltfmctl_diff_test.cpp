// pltfmctl diff OLD NEW on copies of the sample directory: every added, removed and changed
// row keyed as the database keys it, values paired by attribute, the summary and exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "tool_run.h"
#include "tuning_copy.h"

using namespace pltfm::test;

TEST(PltfmctlDiff, ListsEveryRowARescanWouldChange) {
    TempDir tmp;
    copy_sample(tmp / "new");
    const std::string dac = tmp / "new/generic_dac_1m.csv";
    set_cell(dac, 6, 4, "-4");  // TX_EQ_PRE1 of front port 0 lane 0, 10G/40G: was -3
    delete_lines(dac, 7, 7);    // lane 1 of front port 0, all three groups
    // A vendor file: RJ45 rows of vendor ACME for front port 32.
    auto rj45 = file_lines(kSampleDir + "/generic_rj45_port32.csv");
    rj45[1] = "1.0,RJ45,ACME,,,,,,,,,,,,,";
    write_lines(tmp / "new/acme_rj45.csv", rj45);

    const ToolRun r = run_tool("pltfmctl", {"diff", kSampleDir, tmp / "new"});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    const auto lines = [&] {
        std::vector<std::string> out;
        std::istringstream in(r.out);
        for (std::string l; std::getline(in, l);) out.push_back(l.substr(0, 72));
        return out;
    }();
    const std::vector<std::string> expected = {
        "~ DAC_1M GENERIC 10G/40G NRZ front port 0 lane 0: TX_EQ_PRE1 -3 -> -4",
        "- DAC_1M GENERIC 10G/40G NRZ front port 0 lane 1: TX_EQ_PRE1=-4 TX_EQ_PRE2",
        "- DAC_1M GENERIC 25G/100G NRZ front port 0 lane 1: TX_EQ_PRE1=-4 TX_EQ_PR",
        "- DAC_1M GENERIC 50G/400G PAM4 front port 0 lane 1: TX_EQ_PRE1=-4 TX_EQ_P",
        "+ RJ45 ACME 10G/40G NRZ front port 32 lane 0: TX_EQ_PRE1=-7 TX_EQ_PRE2=0 ",
        "+ RJ45 ACME 10G/40G NRZ front port 32 lane 1: TX_EQ_PRE1=-8 TX_EQ_PRE2=1 ",
        kSampleDir + " -> " + (tmp / "new") + ": rows: 2 added, 3 removed, 1 changed (1 value)",
    };
    ASSERT_EQ(lines.size(), expected.size()) << r.out;
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(lines[i], expected[i].substr(0, 72));

    const auto doc = nlohmann::json::parse(
        run_tool("pltfmctl", {"diff", kSampleDir, tmp / "new", "--json"}).out);
    EXPECT_EQ(doc["rows_added"], 2);
    EXPECT_EQ(doc["rows_removed"], 3);
    EXPECT_EQ(doc["rows_changed"], 1);
    const auto &changed = doc["rows"][0];
    EXPECT_EQ(changed["change"], "changed");
    EXPECT_EQ(changed["front_port"], "0");
    EXPECT_EQ(changed["values"],
              nlohmann::json::parse(R"([{"attribute":"TX_EQ_PRE1","old":"-3","new":"-4"}])"));
    EXPECT_EQ(doc["rows"][4]["values"][0],
              nlohmann::json::parse(R"({"attribute":"TX_EQ_PRE1","old":null,"new":"-7"})"));
}

// A one-line tuning file of front port 5 lane 0 at 25G/100G NRZ: columns `names` (two or
// more), `values`.
std::string one_row(const std::string &names, const std::string &values) {
    const std::string commas(
        static_cast<std::size_t>(std::count(names.begin(), names.end(), ',') - 1), ',');
    return "VERSION,CABLE TYPE,VENDOR,," + commas + "\n1.0,OPTICS,GENERIC,," + commas +
           "\n,,,SPEED,ENCODING" + commas + "\n,,,25G/100G,NRZ" + commas +
           "\nINDEX,FRONT PORT,LANE," + names + "\n1,5,0," + values + "\n";
}

TEST(PltfmctlDiff, ValuesPairByAttributeAndSameTuningExitsZero) {
    TempDir a, b;
    write_file(a / "tune.csv", one_row("TX_EQ_PRE1,TX_EQ_MAIN,TX_EQ_POST", "-2,40,-5"));
    struct Case {
        std::string names, values, line;
    };
    const Case cases[] = {
        {"TX_EQ_PRE1,TX_EQ_MAIN,TX_EQ_POST", "-2,41,-5", "lane 0: TX_EQ_MAIN 40 -> 41"},
        // Columns swapped: the same values paired by attribute, only their order differs.
        {"TX_EQ_MAIN,TX_EQ_PRE1,TX_EQ_POST", "40,-2,-5",
         "lane 0: the same values in another order"},
        {"TX_EQ_PRE1,TX_EQ_MAIN,TX_EQ_POST,AN", "-2,40,-5,1", "lane 0: AN (none) -> 1"},
        {"TX_EQ_PRE1,TX_EQ_MAIN", "-2,40", "lane 0: TX_EQ_POST -5 -> (none)"},
    };
    for (const Case &c : cases) {
        write_file(b / "tune.csv", one_row(c.names, c.values));
        const ToolRun r = run_tool("pltfmctl", {"diff", a.path(), b.path()});
        EXPECT_EQ(r.exit_code, 1) << r.err;
        EXPECT_TRUE(has(r.out, "~ OPTICS GENERIC 25G/100G NRZ front port 5 " + c.line + "\n"));
        EXPECT_TRUE(has(r.out, ": rows: 0 added, 0 removed, 1 changed ("));
    }
    const ToolRun self = run_tool("pltfmctl", {"diff", kSampleDir, kSampleDir});
    EXPECT_EQ(self.exit_code, 0);
    EXPECT_EQ(self.out, kSampleDir + " -> " + kSampleDir + ": no change\n");
}

TEST(PltfmctlDiff, ADirectoryThatDoesNotLoadIsReportedNotCompared) {
    TempDir broken;
    copy_sample(broken.path());
    set_cell(broken / "generic_optics.csv", 6, 5, "");
    const ToolRun r = run_tool("pltfmctl", {"diff", kSampleDir, broken.path(), "--json"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(has(r.err, "expected nonempty value count 0 or all"));
    EXPECT_TRUE(has(r.err, "pltfmctl diff: " + broken.path() + " does not load (PLTFM_INVAL)"));
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["old_loads"], true);
    EXPECT_EQ(doc["new_loads"], false);
    EXPECT_EQ(run_tool("pltfmctl", {"diff", kSampleDir}).exit_code, 2);
    EXPECT_EQ(run_tool("pltfmctl", {"diff", kSampleDir, "/nonexistent"}).exit_code, 2);
}
