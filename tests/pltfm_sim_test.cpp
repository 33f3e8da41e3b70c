// Smoke run of the simulated switch: it loads the built libpltfm.so with dlopen and brings a
// few ports up on simulated modules, in both Redis modes (checked through its --json report
// and the library's log), and its usage errors and help.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_util.h"
#include "tool_run.h"

using namespace pltfm::test;

namespace {

// Brings four ports up with the library reaching Redis in `mode`; the ports of the report.
nlohmann::json bring_up_four_ports(const std::string &mode) {
    TempDir dir;
    const ToolRun r = run_tool("pltfm-sim", {"--scenario", "bringup", "--json", "--log", dir / "lib.log", "--redis",
                                             mode, "--monitor-seconds", "1", "--ports",
                                             "Ethernet0,Ethernet32,Ethernet72,Ethernet257"});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    const auto doc = nlohmann::json::parse(r.out, nullptr, false);
    if (doc.is_discarded()) return {};
    EXPECT_TRUE(doc["ok"].get<bool>());
    EXPECT_EQ(doc["redis"], mode);
    EXPECT_TRUE(doc["monitor_cpu_ms_per_s"].is_number()) << doc.dump();
    const std::string log = read_file(dir / "lib.log");
    EXPECT_NE(log.find("In pltfm_port_pre_init (intf_name=Ethernet0)"), std::string::npos);
    EXPECT_NE(log.find("pltfm_parser_database_init Success"), std::string::npos);
    EXPECT_EQ(log.find("persistent connection") != std::string::npos, mode == "native") << log;
    EXPECT_NE(log.find("Port state table on (PLTFM_PORT_STATE=1)"), std::string::npos);
    // pltfmctl status after the bring-up: every port the run configured, as the library
    // published it; nothing flagged (the empty cage has nothing to tune).
    const auto &snap = doc["port_state"][0];
    EXPECT_EQ(snap["after"], "bring-up");
    EXPECT_EQ(snap["exit"], 0) << snap.dump();
    EXPECT_EQ(snap["doc"]["counts"]["ports"], doc["ports"].size());
    EXPECT_EQ(snap["doc"]["counts"]["flagged"], 0);
    for (const auto &published : snap["doc"]["ports"]) {
        for (const auto &p : doc["ports"]) {
            if (p["interface"] != published["interface"]) continue;
            if (!p["tuned"].get<bool>()) {
                EXPECT_EQ(published["published"]["pre_init"], "failed") << p["interface"];
                continue;
            }
            EXPECT_EQ(published["published"]["cable_type"], p["cable_type"]) << p["interface"];
            EXPECT_EQ(published["published"]["lanes"], std::to_string(p["lanes"].get<int>()));
        }
    }
    return doc["ports"];
}

}  // namespace

TEST(PltfmSim, BringupTunesPortsByModuleAndLeavesEmptyCagesAlone) {
    const nlohmann::json ports = bring_up_four_ports("native");
    struct Expect {
        const char *intf, *cable, *lane_class, *state;
    };
    const Expect expected[] = {
        {"Ethernet0", "DAC_1M", "50G/400G", "link up"},   // cage 1: QSFP-DD DAC 1 m, 400G
        {"Ethernet32", "OPTICS", "50G/400G", "link up"},  // cage 5: optic 4 x 100G on 2 lanes
        {"Ethernet72", "", "", "no module"},              // cage 10: empty
        {"Ethernet257", "RJ45", "10G/40G", "link up"},    // cage 34: SFP+ RJ45
    };
    ASSERT_EQ(ports.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto &p = ports[i];
        const Expect &e = expected[i];
        EXPECT_EQ(p["interface"], e.intf);
        EXPECT_EQ(p["cable_type"], e.cable) << e.intf;
        EXPECT_EQ(p["lane_class"], e.lane_class) << e.intf;
        EXPECT_EQ(p["state"], e.state) << e.intf;
        // One element per lane in every per-lane record.
        if (p["tuned"].get<bool>()) {
            EXPECT_EQ(p["sdk_records"]["TX_EQ_PRE1"].size(), p["lanes"].get<std::size_t>());
        }
    }
    // Through redis-cli the library decides and hands out the same.
    EXPECT_EQ(bring_up_four_ports("cli"), ports);
}

TEST(PltfmSim, UsageErrorsExitTwoAndHelpExitsZero) {
    EXPECT_EQ(run_tool("pltfm-sim", {"--scenario", "dance"}).exit_code, 2);
    EXPECT_EQ(run_tool("pltfm-sim", {"--ports", "Ethernet9999", "--scenario", "bringup"}).exit_code,
              2);
    const ToolRun help = run_tool("pltfm-sim", {"--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char *opt : {"--platform-root", "--scenario", "--ports", "--json", "--redis"})
        EXPECT_NE(help.out.find(opt), std::string::npos) << opt;
}

TEST(PltfmSim, RunPageThatCannotBeWrittenFailsTheRun) {
    TempDir dir;
    const ToolRun r =
        run_tool("pltfm-sim", {"--scenario", "bringup", "--json", "--ports", "Ethernet0", "--log",
                               dir / "lib.log", "--html", dir / "missing/run.html"});
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    const auto doc = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    EXPECT_FALSE(doc["ok"].get<bool>());
}
