// Smoke runs of the simulated switch: it loads the built libpltfm.so with dlopen, brings a few
// ports up on simulated modules and, in the swap scenario, sees the library notice a module
// exchange and hand out the new module's tuning. Checked through its --json report.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_util.h"
#include "tool_run.h"

using namespace pltfm::test;

namespace {

nlohmann::json port(const nlohmann::json &doc, const std::string &intf) {
    for (const auto &p : doc["ports"]) {
        if (p["interface"] == intf) return p;
    }
    return {};
}

}  // namespace

TEST(PltfmSim, BringupTunesPortsByModuleAndLeavesEmptyCagesAlone) {
    TempDir dir;
    const ToolRun r = run_tool("pltfm-sim", {"--scenario", "bringup", "--json", "--log", dir / "lib.log",
                                             "--ports", "Ethernet0,Ethernet16,Ethernet32,Ethernet72,Ethernet256,Ethernet257"});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_TRUE(doc["ok"].get<bool>());
    ASSERT_EQ(doc["ports"].size(), 6u);

    struct Expect {
        const char *intf, *cable, *lane_class;
        bool tuned;
    };
    const Expect expected[] = {
        {"Ethernet0", "DAC_1M", "50G/400G", true},     // cage 1: QSFP-DD DAC 1 m, 400G
        {"Ethernet16", "OPTICS", "50G/400G", true},    // cage 3: QSFP-DD optic
        {"Ethernet32", "OPTICS", "50G/400G", true},    // cage 5: optic 4 x 100G on 2 lanes
        {"Ethernet72", "", "", false},                 // cage 10: empty
        {"Ethernet256", "OPTICS", "10G/40G", true},    // cage 33: SFP+ optic
        {"Ethernet257", "RJ45", "10G/40G", true},      // cage 34: SFP+ RJ45
    };
    for (const Expect &e : expected) {
        const auto p = port(doc, e.intf);
        ASSERT_FALSE(p.is_null()) << e.intf;
        EXPECT_EQ(p["cable_type"], e.cable) << e.intf;
        EXPECT_EQ(p["lane_class"], e.lane_class) << e.intf;
        EXPECT_EQ(p["tuned"].get<bool>(), e.tuned) << e.intf;
        if (e.tuned) {
            // One element per lane in every per-lane record.
            const auto &pre1 = p["sdk_records"]["TX_EQ_PRE1"];
            ASSERT_TRUE(pre1.is_array()) << e.intf;
            EXPECT_EQ(pre1.size(), p["lanes"].get<std::size_t>()) << e.intf;
            EXPECT_EQ(p["state"], "link up");
        }
    }
    EXPECT_EQ(port(doc, "Ethernet72")["state"], "no module");
    // The library's own log went to the file named in the report.
    EXPECT_EQ(doc["log"], dir / "lib.log");
    const std::string log = read_file(dir / "lib.log");
    EXPECT_NE(log.find("In pltfm_port_pre_init (intf_name=Ethernet0)"), std::string::npos);
    EXPECT_NE(log.find("pltfm_parser_database_init Success"), std::string::npos);
}

TEST(PltfmSim, ModuleSwapIsNoticedAndTheNewTuningHandedOut) {
    TempDir dir;
    const ToolRun r = run_tool("pltfm-sim", {"--scenario", "swap", "--json", "--log", dir / "lib.log",
                                             "--ports", "Ethernet0,Ethernet16"});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err << read_file(dir / "lib.log");
    const auto doc = nlohmann::json::parse(r.out);
    const auto &swap = doc["swap"];
    EXPECT_TRUE(swap["done"].get<bool>()) << swap.dump(2);
    EXPECT_EQ(swap["interface"], "Ethernet0");
    EXPECT_GE(swap["noticed_ms"].get<long>(), 0);
    EXPECT_TRUE(swap["admin_back_up"].get<bool>());
    EXPECT_EQ(swap["after"]["cable_type"], "OPTICS");
    EXPECT_EQ(port(doc, "Ethernet0")["cable_type"], "DAC_1M");
    const std::string log = read_file(dir / "lib.log");
    EXPECT_NE(log.find("Port 0 from GENERIC DAC_1M 50G/400G PAM4 to GENERIC OPTICS 50G/400G PAM4."),
              std::string::npos);
}

TEST(PltfmSim, UsageErrorsExitTwo) {
    EXPECT_EQ(run_tool("pltfm-sim", {"--scenario", "dance"}).exit_code, 2);
    EXPECT_EQ(run_tool("pltfm-sim", {"--ports", "Ethernet9999", "--scenario", "bringup"}).exit_code, 2);
    const ToolRun help = run_tool("pltfm-sim", {"--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char *opt : {"--platform-root", "--scenario", "--ports", "--json"}) {
        EXPECT_NE(help.out.find(opt), std::string::npos) << opt;
    }
}

TEST(PltfmSim, ExistingPlatformTreeIsIdentifiedFromEeproms) {
    TempDir dir;
    // A generated tree, kept, then used as a lab's tree: no transceiver records in Redis, so
    // the library identifies every module from its EEPROM file.
    const ToolRun gen = run_tool("pltfm-sim", {"--scenario", "bringup", "--json", "--keep", "--log",
                                               dir / "gen.log", "--ports", "Ethernet0"});
    ASSERT_EQ(gen.exit_code, 0) << gen.err;
    const std::string tree = nlohmann::json::parse(gen.out)["kept_tree"];
    ASSERT_FALSE(tree.empty());
    const ToolRun lab = run_tool("pltfm-sim", {"--platform-root", tree, "--json", "--log", dir / "lab.log",
                                               "--scenario", "bringup", "--ports",
                                               "Ethernet8,Ethernet48,Ethernet72,Ethernet257"});
    std::system(("rm -rf " + shell_quote(tree)).c_str());
    ASSERT_EQ(lab.exit_code, 0) << lab.err;
    const auto doc = nlohmann::json::parse(lab.out);
    EXPECT_EQ(port(doc, "Ethernet8")["cable_type"], "DAC_3M");
    EXPECT_EQ(port(doc, "Ethernet48")["cable_type"], "OPTICS");
    EXPECT_EQ(port(doc, "Ethernet72")["tuned"], false);
    EXPECT_EQ(port(doc, "Ethernet257")["cable_type"], "RJ45");
    const std::string log = read_file(dir / "lab.log");
    EXPECT_NE(log.find("QSFP-DD DAC cabletype 3M"), std::string::npos);
    EXPECT_NE(log.find("SFP+ RJ45"), std::string::npos);
    // Swap and rescan would change the lab's files: refused.
    EXPECT_EQ(run_tool("pltfm-sim", {"--platform-root", dir.path(), "--scenario", "swap"}).exit_code, 2);
}
