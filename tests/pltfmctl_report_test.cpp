// pltfmctl report as the operator runs it: the data of the page (--json) for the sample
// directory, for a copy with a hole, an outlier and a repeated port, and for a directory that
// does not load; and its usage errors. The pages themselves are checked in a browser in
// html_pages_test.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tool_run.h"
#include "tuning_copy.h"

using namespace pltfm::test;

namespace {

const std::string kPortConfig = PLTFM_EXAMPLES_DIR "/platform/port_config.ini";

nlohmann::json report(const std::string &dir, int exit_code, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"report", dir, "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun r = run_tool("pltfmctl", args);
    EXPECT_EQ(r.exit_code, exit_code) << r.err;
    return nlohmann::json::parse(r.out);
}

const nlohmann::json &group(const nlohmann::json &doc, const std::string &cable,
                            const std::string &speed, const std::string &vendor = "GENERIC") {
    for (const auto &g : doc["groups"])
        if (g["cable_type"] == cable && g["speed"] == speed && g["vendor"] == vendor) return g;
    throw std::runtime_error("no group " + cable + " " + speed);
}

}  // namespace

TEST(PltfmctlReport, SampleDirectoryHasNoHoleOutlierOrRepeatedPort) {
    const auto doc = report(
        kSampleDir, 0, {"--port-config", kPortConfig, "--cable-types", "optics,DAC_1M,DAC_3M"});
    EXPECT_TRUE(doc["valid"].get<bool>());
    EXPECT_TRUE(doc["clean"].get<bool>());
    const auto &c = doc["counts"];
    EXPECT_EQ(c["groups"], 12);  // 3 cable types x 3 classes, RJ45 10G, QUILLOPTIC 25G and 50G
    EXPECT_EQ(c["cells"], value_cells(kSampleDir));
    for (const char *zero : {"holes", "hole_cells", "outliers", "duplicates", "coverage_holes"})
        EXPECT_EQ(c[zero], 0) << zero;
    EXPECT_EQ(doc["coverage"]["ports"], 48);
    EXPECT_EQ(doc["coverage"]["cable_types"], nlohmann::json({"OPTICS", "DAC_1M", "DAC_3M"}));

    // Every front port of the board down, its lanes across; the extra cages' lanes 2-7 are
    // not on the board (false), and values keep their file and line.
    const auto &g = group(doc, "OPTICS", "50G/400G");
    ASSERT_EQ(g["front_ports"].size(), 33u);
    EXPECT_EQ(g["lanes"], nlohmann::json({"0", "1", "2", "3", "4", "5", "6", "7"}));
    const auto &pre1 = g["attributes"][0];
    EXPECT_EQ(pre1["name"], "TX_EQ_PRE1");
    EXPECT_EQ(pre1["values"][0][0], "-2");
    EXPECT_EQ(pre1["values"][32][1], "-5");
    EXPECT_EQ(pre1["values"][32][2], false);
    const auto &src = g["sources"][7][2];
    EXPECT_EQ(doc["files"][src[0].get<std::size_t>()], kSampleDir + "/generic_optics.csv");
    EXPECT_EQ(src[1], sample_line(7, 2));

    // RJ45 rows exist for front port 32 only: all four cable types leave the 46 ports of the
    // eight-lane cages without RJ45 tuning, as lint says.
    const auto all = report(kSampleDir, 1, {"--port-config", kPortConfig});
    EXPECT_EQ(all["counts"]["coverage_holes"], 46);
    EXPECT_EQ(all["counts"]["holes"], 0);
}

TEST(PltfmctlReport, FlawedCopyFlagsTheHoleTheOutlierAndTheRepeatedPort) {
    TempDir dir;
    make_flawed_copy(dir / "CSV");
    const auto doc = report(
        dir / "CSV", 1, {"--port-config", kPortConfig, "--cable-types", "OPTICS,DAC_1M,DAC_3M"});
    ASSERT_TRUE(doc["valid"].get<bool>());
    EXPECT_EQ(doc["counts"]["cells"], value_cells(dir / "CSV"));

    // The hole: lanes 0-7 of front port 5 in each DAC_1M class, nowhere else.
    std::size_t holes = 0;
    for (const auto &g : doc["groups"]) {
        for (const auto &h : g["holes"]) {
            EXPECT_EQ(g["cable_type"], "DAC_1M");
            EXPECT_EQ(h["front_port"], "5");
        }
        holes += g["holes"].size();
    }
    EXPECT_EQ(holes, 3u * 8u);
    const auto &dac1 = group(doc, "DAC_1M", "25G/100G");
    EXPECT_EQ(dac1["attributes"][0]["values"][5][3], nullptr);
    // The coverage says the same for the ports of cage 6 (front port 5, two 100G ports).
    std::vector<std::string> uncovered;
    for (const auto &cell : doc["coverage"]["cells"])
        if (cell["hole"].get<bool>())
            uncovered.push_back(cell["port"].get<std::string>() + " " +
                                cell["cable_type"].get<std::string>());
    EXPECT_EQ(uncovered, (std::vector<std::string>{"Ethernet40 DAC_1M", "Ethernet44 DAC_1M"}));

    // The outlier: one value, where it was put, against its lane's median.
    EXPECT_EQ(doc["counts"]["outliers"], 1);
    const auto &optics = group(doc, "OPTICS", "50G/400G");
    const auto &out = optics["attributes"][0]["outliers"];
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]["front_port"], "7");
    EXPECT_EQ(out[0]["lane"], "2");
    EXPECT_EQ(out[0]["value"], "-20");
    EXPECT_EQ(out[0]["median"], -4.0);
    EXPECT_LT(out[0]["z"].get<double>(), -3.5);

    // The repeated port, in every DAC_3M class.
    EXPECT_EQ(doc["counts"]["duplicates"], 3);
    for (const char *speed : {"10G/40G", "25G/100G", "50G/400G"})
        EXPECT_EQ(group(doc, "DAC_3M", speed)["duplicates"],
                  nlohmann::json::parse(R"([["12", "13"]])"))
            << speed;
}

TEST(PltfmctlReport, DirectoryThatDoesNotLoadGivesTheLoadersMessagesAndNoPictures) {
    TempDir dir;
    make_broken_copy(dir / "CSV");
    const auto doc = report(dir / "CSV", 1);
    EXPECT_FALSE(doc["valid"].get<bool>());
    EXPECT_EQ(doc["status_name"], "PLTFM_INVAL");
    EXPECT_TRUE(doc["groups"].empty());
    EXPECT_EQ(doc["counts"]["cells"], 0);
    const std::string messages = doc["messages"].dump();
    EXPECT_TRUE(
        has(messages, "line 31 in file " + (dir / "CSV") + "/generic_dac_3m.csv is invalid"));

    // Without --json the page is written and one line says what it holds.
    const ToolRun r = run_tool("pltfmctl", {"report", dir / "CSV", "--html", dir / "r.html"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(has(r.out, "does not load (PLTFM_INVAL)"));
    EXPECT_TRUE(has(read_file(dir / "r.html"), "line 31 in file"));
}

TEST(PltfmctlReport, UsageErrorsExitTwo) {
    TempDir dir;
    const std::pair<std::vector<std::string>, const char *> cases[] = {
        {{"report", kSampleDir}, "--html OUT.html"},
        {{"report", kSampleDir, "--html", dir / "missing/r.html"}, "cannot write"},
        {{"report", dir / "nothing", "--json"}, "DIR"},
        {{"report", kSampleDir, "--json", "--port-config", dir.path()}, "port-config"},
    };
    for (const auto &[args, message] : cases) {
        const ToolRun r = run_tool("pltfmctl", args);
        EXPECT_EQ(r.exit_code, 2) << message;
        EXPECT_TRUE(has(r.err, message));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}
