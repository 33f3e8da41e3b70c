// pltfmctl lint beyond the loader: broken copies of the sample directory, each with the
// findings it must give (check, file, line) and no others; and the coverage of the ports of
// a port_config.ini, with the GENERIC rows and lane lines a port needs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "tool_run.h"
#include "tuning_copy.h"

using namespace pltfm::test;

namespace {

struct Expected {
    const char *check, *file;  // file: base name
    int line;
    const char *message;  // a part of it
};

nlohmann::json lint_json(const std::string &dir, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"lint", dir, "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun r = run_tool("pltfmctl", args);
    EXPECT_EQ(r.exit_code, r.out.find("\"clean\": true") != std::string::npos ? 0 : 1) << r.err;
    return nlohmann::json::parse(r.out);
}

std::string shown(const nlohmann::json &findings) {
    std::string s;
    for (const auto &f : findings) s += f.dump() + "\n";
    return s;
}

}  // namespace

TEST(PltfmctlLintChecks, BrokenCopiesOfTheSampleGiveFindingsAtFileAndLine) {
    const std::string dac = "generic_dac_1m.csv", rj45 = "generic_rj45_port32.csv";
    struct Case {
        const char *what;
        std::function<void(const std::string &dir)> edit;
        bool loads;
        std::vector<Expected> findings;
    };
    const Case cases[] = {
        {"untouched", [](const std::string &) {}, true, {}},
        {"lanes 0 and 1 of front port 0 swapped",
         [&](const std::string &d) {
             set_cell(d + "/" + dac, 6, 3, "1");
             set_cell(d + "/" + dac, 7, 3, "0");
         },
         true,
         {{"lane-order", "generic_dac_1m.csv", 6,
           "lane 1 of FRONT PORT 0 (DAC_1M GENERIC) stands at position 0"},
          {"lane-order", "generic_dac_1m.csv", 7,
           "lane 0 of FRONT PORT 0 (DAC_1M GENERIC) stands at position 1"}}},
        {"lane 0 twice",
         [&](const std::string &d) { set_cell(d + "/" + dac, 7, 3, "0"); },
         false,
         {{"duplicate-lane", "generic_dac_1m.csv", 7, "is defined again (first at "},
          // Lanes 2 to 7 of the port now stand one position early.
          {"lane-order", "generic_dac_1m.csv", 8, "lane 2 of FRONT PORT 0"},
          {"lane-order", "generic_dac_1m.csv", 9, ""},
          {"lane-order", "generic_dac_1m.csv", 10, ""},
          {"lane-order", "generic_dac_1m.csv", 11, ""},
          {"lane-order", "generic_dac_1m.csv", 12, ""},
          {"lane-order", "generic_dac_1m.csv", 13, ""}}},
        {"values translation changes",
         [&](const std::string &d) {
             set_cell(d + "/" + dac, 6, 4, "-130");   // TX_EQ_PRE1, 10G/40G
             set_cell(d + "/" + dac, 6, 15, "yes");   // LINK_TRAINING, 10G/40G
             set_cell(d + "/" + dac, 7, 28, "fast");  // RX_EQ_COARSE_TUNE_EFFORT_25G
             set_cell(d + "/" + dac, 8, 29, "1");     // SD_RESET_25G
             set_cell(d + "/" + dac, 9, 33, "50.5");  // TX_EQ_MAIN: never reaches the SDK
             set_cell(d + "/" + dac, 9, 41, "300");   // RX_AGC_TARGET: 32 bits, fits
         },
         true,
         {{"value", "generic_dac_1m.csv", 6,
           "TX_EQ_PRE1 (10G/40G NRZ): -130 does not fit an 8-bit signed field; the SDK gets 126"},
          {"value", "generic_dac_1m.csv", 6,
           "LINK_TRAINING (10G/40G NRZ): \"YES\" is not a whole number; the SDK gets 0"},
          {"value", "generic_dac_1m.csv", 7,
           "\"FAST\" is not LOW, MEDIUM or HIGH; the SDK gets HIGH"},
          {"value", "generic_dac_1m.csv", 8,
           "SD_RESET_25G (25G/100G NRZ): \"1\" is not TRUE or FALSE; the SDK gets FALSE"}}},
        {"keys no lookup asks for",
         [&](const std::string &d) {
             for (int line : {6, 7}) set_cell(d + "/generic_dac_1m_port32.csv", line, 2, "032");
             set_cell(d + "/generic_dac_3m_port32.csv", 2, 2, "DAC_5M");
             set_cell(d + "/" + rj45, 4, 5, "PAM4");
         },
         true,
         {{"unused-key", "generic_dac_1m_port32.csv", 6, "FRONT PORT 032 is never looked up"},
          {"unused-key", "generic_dac_3m_port32.csv", 2, "cable type DAC_5M is never looked up"},
          {"unused-key", "generic_rj45_port32.csv", 4,
           "column group 10G/40G PAM4 is never looked up"}}},
        {"entries the loader skips",
         [&](const std::string &d) {
             ASSERT_EQ(::symlink((d + "/" + dac).c_str(), (d + "/linked.csv").c_str()), 0);
             ASSERT_EQ(::symlink("/nonexistent", (d + "/gone.CSV").c_str()), 0);
             make_dirs(d + "/old.csv");
             write_file(d + "/x.csv", "VERSION,CABLE TYPE,VENDOR,,\n");
             write_file(d + "/notes.txt", "not a tuning file name, not a finding\n");
         },
         true,
         {{"skipped-entry", "gone.CSV", 0, "a symbolic link that leads nowhere"},
          {"skipped-entry", "linked.csv", 0,
           "a symbolic link to a regular file; the loader reads regular files only"},
          {"skipped-entry", "old.csv", 0, "a directory"},
          {"skipped-entry", "x.csv", 0, "shorter than 6 characters"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        copy_sample(tmp / "CSV");
        c.edit(tmp / "CSV");
        const auto doc = lint_json(tmp / "CSV");
        EXPECT_EQ(doc["valid"], c.loads);
        const auto &found = doc["findings"];
        ASSERT_EQ(found.size(), c.findings.size()) << shown(found);
        for (std::size_t i = 0; i < c.findings.size(); ++i) {
            const Expected &e = c.findings[i];
            const auto &f = found[i];
            EXPECT_EQ(f["check"], e.check) << shown(found);
            EXPECT_EQ(f["file"], tmp / "CSV/" + e.file);
            EXPECT_EQ(f["line"], e.line) << f;
            EXPECT_TRUE(has(f["message"].get<std::string>(), e.message));
        }
        EXPECT_EQ(doc["clean"], c.findings.empty() && c.loads);
    }
}

TEST(PltfmctlLintChecks, CoverageOfConfiguredPortsNamesEveryHole) {
    TempDir tmp;
    copy_sample(tmp / "CSV");
    // Front port 1 of the optics keeps lanes 0-3 only (lines 19-22 hold lanes 4-7).
    delete_lines(tmp / "CSV/generic_optics.csv", 19, 22);
    write_file(tmp / "port_config.ini",
               "# name lanes alias speed index\n"
               "Ethernet0 0,1,2,3,4,5,6,7 etp1 400000 1\n"
               "Ethernet8 8,9,10,11,12,13,14,15 etp2 400000 2\n"
               "Ethernet16 16,17,18,19 etp3a 100000 3\n"
               "Ethernet20 20,21,22,23 etp3b 100000 3\n"
               "Ethernet24 24,25,26,27,28,29,30,31 etp4 300000 4\n"
               "Ethernet257 257 etp34 10000 34\n");
    const auto doc = lint_json(
        tmp / "CSV", {"--port-config", tmp / "port_config.ini", "--cable-types", "optics,RJ45"});
    const auto &cov = doc["coverage"];
    EXPECT_EQ(cov["cable_types"], nlohmann::json({"OPTICS", "RJ45"}));
    EXPECT_EQ(cov["ports"], 6);
    std::vector<std::string> holes;
    for (const auto &c : cov["cells"])
        if (c["hole"].get<bool>())
            holes.push_back(c["port"].get<std::string>() + " " +
                            c["cable_type"].get<std::string>() + " " +
                            c["status"].get<std::string>() + " " + c["missing"].get<std::string>());
    const std::vector<std::string> expected = {
        "Ethernet0 RJ45 no tuning no 50G/400G PAM4 column group",
        "Ethernet8 OPTICS too few lane lines ",
        "Ethernet8 RJ45 no tuning no 50G/400G PAM4 column group",
        "Ethernet16 RJ45 no tuning no 25G/100G NRZ column group",
        "Ethernet20 RJ45 no tuning no 25G/100G NRZ column group",
        "Ethernet24 OPTICS no lane-speed class ",
        "Ethernet24 RJ45 no lane-speed class ",
    };
    EXPECT_EQ(holes, expected);
    EXPECT_EQ(cov["holes"], expected.size());
    // Ethernet20 takes lines 4-7 of front port 2 (the lookup selects by position).
    EXPECT_EQ(cov["cells"][6]["lane_lines"], nlohmann::json({"4", "5", "6", "7"}));
    ASSERT_EQ(doc["findings"].size(), 1u) << shown(doc["findings"]);
    const auto &f = doc["findings"][0];
    EXPECT_EQ(f["check"], "port-lanes");
    EXPECT_EQ(f["file"], tmp / "CSV/generic_optics.csv");
    EXPECT_EQ(f["line"], 18);  // the last lane line left of front port 1
    EXPECT_TRUE(has(f["message"], "gives Ethernet8 (lanes 0 to 7) only 4 lane lines"));

    // The text form: the holes table and the summary; the cable types of the directory.
    const ToolRun text =
        run_tool("pltfmctl", {"lint", tmp / "CSV", "--port-config", tmp / "port_config.ini"});
    EXPECT_EQ(text.exit_code, 1);
    EXPECT_TRUE(
        has(text.out, "coverage: 6 ports x 4 cable types (DAC_1M, DAC_3M, OPTICS, RJ45): 9 holes"));
    EXPECT_TRUE(has(text.out,
                    "  Ethernet8   1          0-7    50G/400G PAM4  OPTICS     too few lane lines: "
                    "lane lines 0,1,2,3\n"));
    EXPECT_TRUE(has(text.out, ": valid (8 tuning files)\n1 finding, 9 coverage holes\n"));
}

TEST(PltfmctlLintChecks, SampleWithTheCableTypesItServesIsClean) {
    TempDir tmp;
    write_file(tmp / "port_config.ini",
               "Ethernet0 0,1,2,3,4,5,6,7 etp1 400000 1\nEthernet256 256 etp33 10000 33\n");
    const ToolRun r =
        run_tool("pltfmctl", {"lint", kSampleDir, "--port-config", tmp / "port_config.ini",
                              "--cable-types", "OPTICS,DAC_1M,DAC_3M"});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "0 findings, 0 coverage holes"));
    // A directory that loads without a row leaves every port without tuning of any kind.
    write_file(tmp / "empty/headers.csv", "VERSION,CABLE TYPE,VENDOR,,\n1.0,OPTICS,GENERIC,,\n");
    const auto empty = lint_json(tmp / "empty", {"--port-config", tmp / "port_config.ini"});
    EXPECT_EQ(empty["valid"], true);
    EXPECT_EQ(empty["has_rows"], false);
    EXPECT_EQ(empty["coverage"]["holes"], 2 * 4);
    // A port list without a port of this board is a usage error.
    write_file(tmp / "empty.ini", "# nothing\nEthernet999 0 x 10000\n");
    EXPECT_EQ(
        run_tool("pltfmctl", {"lint", kSampleDir, "--port-config", tmp / "empty.ini"}).exit_code,
        2);
}
