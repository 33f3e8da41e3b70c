// The operator's commands on the simulated switch's own tree (pltfm-sim --keep) after a
// bring-up and a tuning rescan: the library's rescan line against pltfmctl diff, lint with the
// board's port_config.ini, explain against what the switch decided, eeprom on every module.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "build_config.h"
#include "tool_run.h"
#include "tuning_copy.h"

using namespace pltfm::test;
namespace fs = std::filesystem;

namespace {

// Removes the kept tree whatever the test's outcome.
struct KeptTree {
    std::string path;
    ~KeptTree() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};

}  // namespace

TEST(PltfmctlSimTree, CommandsAgreeWithWhatTheSimulatedSwitchDid) {
    TempDir tmp;
    const ToolRun sim =
        run_tool("pltfm-sim", {"--scenario", "rescan", "--keep", "--json", "--log", tmp / "lib.log",
                               "--ports", "Ethernet0,Ethernet40,Ethernet257"});
    ASSERT_EQ(sim.exit_code, 0) << sim.out << sim.err;
    const auto report = nlohmann::json::parse(sim.out);
    KeptTree kept{report["kept_tree"].get<std::string>()};
    ASSERT_FALSE(kept.path.empty());
    const std::string csv = kept.path + PLTFM_SHARE_ROOT "/platform/CSV";
    const std::string ports = kept.path + PLTFM_SHARE_ROOT "/sku/port_config.ini";

    // The rescan's count of changed rows is what diff lists against the sample it started from.
    const std::string log = read_file(tmp / "lib.log");
    const auto at = log.find("CSV rescan changed tuning rows: 0 added, 0 removed, ");
    ASSERT_NE(at, std::string::npos) << log;
    const int changed = std::stoi(log.substr(at + 52));
    EXPECT_EQ(report["rescan"]["changes"], log.substr(at, log.find('\n', at) - at));
    const auto diff =
        nlohmann::json::parse(run_tool("pltfmctl", {"diff", kSampleDir, csv, "--json"}).out);
    EXPECT_EQ(diff["rows_changed"], changed);
    EXPECT_EQ(diff["rows_added"], 0);
    EXPECT_EQ(diff["rows_removed"], 0);
    EXPECT_GT(changed, 0);
    for (const auto &row : diff["rows"]) EXPECT_EQ(row["values"][0]["attribute"], "TX_EQ_PRE1");

    // Every configured port is covered for the cable types of its cages.
    const ToolRun lint = run_tool(
        "pltfmctl", {"lint", csv, "--port-config", ports, "--cable-types", "OPTICS,DAC_1M,DAC_3M"});
    EXPECT_EQ(lint.exit_code, 0) << lint.out << lint.err;
    EXPECT_TRUE(has(lint.out, "coverage: 48 ports x 3 cable types"));

    // Without the switch's Redis (a redis-cli that fails), explain falls back as the library
    // does: EEPROM identification, port_config.ini speed. It agrees with the switch's answers.
    write_file(tmp / "bin/redis-cli", "#!/bin/sh\nexit 1\n");
    fs::permissions(tmp / "bin/redis-cli", fs::perms::owner_all);
    ::setenv("PATH", (tmp / "bin:" + std::string(std::getenv("PATH"))).c_str(), 1);
    ::setenv("PLTFM_ROOT", kept.path.c_str(), 1);
    const nlohmann::json &after = report["rescan"]["after"];
    for (const auto &port : report["ports"]) {
        const std::string intf = port["interface"];
        SCOPED_TRACE(intf);
        const ToolRun r = run_tool("pltfmctl", {"explain", "--intf", intf, "--json"});
        ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
        const auto doc = nlohmann::json::parse(r.out);
        EXPECT_EQ(doc["identification"]["source"], "eeprom");
        EXPECT_EQ(doc["speed"]["source"], "port_config.ini");
        EXPECT_EQ(doc["identification"]["cable_type"], port["cable_type"]);
        EXPECT_EQ(doc["lane_speed"]["speed"], port["lane_class"]);
        // The tuning now in the directory is the rescan's: the re-created port's records.
        const auto &records =
            intf == after["interface"] ? after["sdk_records"] : port["sdk_records"];
        for (const auto &rec : doc["tuning"]["sdk_records"])
            EXPECT_EQ(rec["values"], records[rec["name"].get<std::string>()]) << rec["name"];
    }

    // Every module EEPROM of the tree: identified, its checksums right.
    int modules = 0;
    for (const auto &e : fs::recursive_directory_iterator(kept.path + PLTFM_SYSFS_ROOT)) {
        if (e.path().filename() != "eeprom") continue;
        ++modules;
        const ToolRun r = run_tool("pltfmctl", {"eeprom", e.path().string()});
        EXPECT_EQ(r.exit_code, 0) << e.path() << r.out << r.err;
    }
    EXPECT_EQ(modules,
              30);  // 28 of the 32 eight-lane cages (four are empty) and the two extra ones
}
