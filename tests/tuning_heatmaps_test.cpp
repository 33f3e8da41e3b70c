// The heatmap grids of pltfmctl report: which cells are holes, which values are outliers by
// the robust z-score test, and which front ports repeat another's values; on rows built here.
#include <gtest/gtest.h>

#include <cmath>

#include "heatmaps.h"
#include "platform_types.h"

using namespace pltfm::tuning;

namespace {

// Rows of one group: every (front port, lane) gets TX_EQ_PRE1 = `value(port, lane)` and
// AN = 1, in file "t.csv" at consecutive lines.
struct Rows {
    TuningRows rows;
    void add(const std::string &cable, const std::string &vendor, const std::string &speed,
             int port, int lane, const std::string &pre1, const std::string &an = "1") {
        const std::string encoding = speed == "50G/400G" ? "PAM4" : "NRZ";
        rows.rows.push_back(
            {{cable, vendor, speed, encoding, std::to_string(port), std::to_string(lane)},
             {{PLTFM_ATTR_TX_EQ_PRE1, pre1}, {PLTFM_ATTR_AN, an}},
             "t.csv",
             static_cast<int>(rows.rows.size()) + 6});
    }
    // Front ports first..last with lanes 0..lanes-1, TX_EQ_PRE1 = -(2 + (port + lane) % 5)
    // (or port * 10 + lane, different on every lane of every port, with `distinct`).
    void block(const std::string &cable, const std::string &vendor, int first, int last, int lanes,
               const std::string &speed = "50G/400G", bool distinct = false) {
        for (int p = first; p <= last; ++p)
            for (int l = 0; l < lanes; ++l)
                add(cable, vendor, speed, p, l,
                    std::to_string(distinct ? p * 10 + l : -(2 + (p + l) % 5)));
    }
};

const HeatmapGroup &find(const std::vector<HeatmapGroup> &groups, const std::string &cable,
                         const std::string &vendor) {
    for (const auto &g : groups)
        if (g.cable_type == cable && g.vendor == vendor) return g;
    throw std::runtime_error("no group " + cable + " " + vendor);
}

std::size_t count(const HeatmapGroup &g, CellKind kind) {
    std::size_t n = 0;
    for (const auto &row : g.attributes.front().cells)
        for (const Cell &c : row) n += c.kind == kind ? 1 : 0;
    return n;
}

}  // namespace

TEST(RobustZ, FlagsFarValuesAndFallsBackWhenMostValuesAgree) {
    const OutlierRule rule;  // cut-off 3.5, at least 5 values
    struct Case {
        const char *what;
        std::vector<double> values;
        std::vector<std::optional<double>> z;
    };
    const Case cases[] = {
        {"too few values", {1, 2, 30, 4}, {std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
        {"no spread", {5, 5, 5, 5, 5}, {0.0, 0.0, 0.0, 0.0, 0.0}},
        // median 3, MAD 1: z = (x - 3) / 1.4826
        {"median absolute deviation", {1, 2, 3, 4, 12}, {-1.349, -0.674, 0.0, 0.674, 6.070}},
        // median 0, MAD 0, mean absolute deviation 8/5: z = x / (1.2533 * 1.6)
        {"mean absolute deviation", {0, 0, 0, 0, 8}, {0.0, 0.0, 0.0, 0.0, 3.989}},
    };
    for (const Case &c : cases) {
        const auto z = robust_z(c.values, rule);
        ASSERT_EQ(z.size(), c.z.size()) << c.what;
        for (std::size_t i = 0; i < z.size(); ++i) {
            ASSERT_EQ(z[i].has_value(), c.z[i].has_value()) << c.what << " value " << i;
            if (z[i]) {
                EXPECT_NEAR(*z[i], *c.z[i], 0.001) << c.what << " value " << i;
            }
        }
    }
}

TEST(Heatmaps, HolesAreBoardLanesWithoutRowsOnTheGroupsFrontPorts) {
    Rows r;
    r.block("OPTICS", "GENERIC", 0, 31, 8);
    r.rows.rows.erase(r.rows.rows.begin() + 5 * 8, r.rows.rows.begin() + 6 * 8);  // front port 5
    r.rows.rows.erase(r.rows.rows.begin() + (9 - 1) * 8 + 3);  // front port 9 lane 3
    r.block("OPTICS", "GENERIC", 32, 32, 2);
    r.block("DAC_1M", "GENERIC", 3, 4, 8);            // eight-lane ports: all 32 are rows
    r.block("RJ45", "GENERIC", 32, 32, 1);            // front port 32 only; lane 1 is missing
    r.block("OPTICS", "ACME", 0, 1, 8);               // another vendor: only its own front ports
    r.add("OPTICS", "ACME", "50G/400G", 7, 9, "-3");  // a lane and a front port the board lacks
    r.add("OPTICS", "ACME", "50G/400G", 40, 0, "-3");
    const auto groups = build_heatmaps(r.rows);
    ASSERT_EQ(groups.size(), 4u);

    struct Expect {
        const char *cable, *vendor;
        std::size_t front_ports, lanes, holes, off_board;
        std::vector<std::pair<std::string, std::string>> first_holes;
    };
    const Expect expected[] = {
        // 33 rows x 8 lanes; front port 32 has lanes 0-1, so 6 cells are off the board.
        {"OPTICS", "GENERIC", 33, 8, 9, 6, {{"5", "0"}, {"5", "7"}, {"9", "3"}}},
        {"DAC_1M", "GENERIC", 32, 8, 30 * 8, 0, {{"0", "0"}}},
        {"RJ45", "GENERIC", 1, 2, 1, 0, {{"32", "1"}}},
        // Front ports 0, 1, 7 and 40; lanes 0-7 and 9. Port 7 lanes 0-7 are holes; the 9th
        // lane is off the board for the board's ports, and port 40 has no board lanes.
        {"OPTICS", "ACME", 4, 9, 8, 2 + 8, {{"7", "0"}}},
    };
    for (const Expect &e : expected) {
        const HeatmapGroup &g = find(groups, e.cable, e.vendor);
        EXPECT_EQ(g.front_ports.size(), e.front_ports) << e.cable << " " << e.vendor;
        EXPECT_EQ(g.lanes.size(), e.lanes) << e.cable << " " << e.vendor;
        EXPECT_EQ(g.holes.size(), e.holes) << e.cable << " " << e.vendor;
        EXPECT_EQ(count(g, CellKind::hole), e.holes) << e.cable << " " << e.vendor;
        EXPECT_EQ(count(g, CellKind::off_board), e.off_board) << e.cable << " " << e.vendor;
        for (const auto &h : e.first_holes) {
            EXPECT_NE(std::find(g.holes.begin(), g.holes.end(), h), g.holes.end())
                << e.cable << " " << e.vendor << ": no hole at " << h.first << "/" << h.second;
        }
    }
    // Rows in number order, lanes likewise, whatever order the file had.
    const HeatmapGroup &acme = find(groups, "OPTICS", "ACME");
    EXPECT_EQ(acme.front_ports, (std::vector<std::string>{"0", "1", "7", "40"}));
    EXPECT_EQ(acme.lanes.back(), "9");
}

TEST(Heatmaps, OutliersAreTestedPerLaneAmongComparableFrontPorts) {
    Rows r;
    r.block("DAC_3M", "GENERIC", 0, 31, 8);
    r.block("DAC_3M", "GENERIC", 32, 32, 2);
    r.rows.rows[7 * 8 + 2].values[0].text = "-20";  // front port 7 lane 2
    r.rows.rows[32 * 8 + 1].values[0].text = "40";  // front port 32: compared with nothing
    r.rows.rows[3 * 8 + 4].values[1].text = "0";    // AN 0 where every other port has 1
    r.rows.rows[4 * 8 + 4].values[0].text = "X";    // not a number: not tested, kept
    const auto groups = build_heatmaps(r.rows);
    ASSERT_EQ(groups.size(), 1u);
    const HeatmapGroup &g = groups.front();
    ASSERT_EQ(g.attributes.size(), 2u);
    const AttributeGrid &pre1 = g.attributes[0], &an = g.attributes[1];
    EXPECT_EQ(pre1.name, "TX_EQ_PRE1");
    EXPECT_TRUE(pre1.numeric);
    EXPECT_EQ(pre1.outliers(), 1u);
    const Cell &wild = pre1.cells[7][2];
    EXPECT_TRUE(wild.outlier);
    ASSERT_TRUE(wild.median && wild.z);
    EXPECT_DOUBLE_EQ(*wild.median, -4.0);  // lane 2 over ports 0-31: -2..-6 evenly
    EXPECT_GT(std::fabs(*wild.z), 3.5);
    EXPECT_FALSE(pre1.cells[32][1].outlier);
    EXPECT_FALSE(pre1.cells[32][1].z.has_value());
    EXPECT_EQ(pre1.cells[4][4].text, "X");
    EXPECT_FALSE(pre1.cells[4][4].z.has_value());
    // The lone AN 0 stands out against 31 ones (mean absolute deviation fallback).
    EXPECT_EQ(an.outliers(), 1u);
    EXPECT_TRUE(an.cells[3][4].outlier);
    EXPECT_EQ(g.outliers(), 2u);

    // A larger cut-off flags nothing.
    EXPECT_EQ(build_heatmaps(r.rows, {1000.0, 5}).front().outliers(), 0u);
}

TEST(Heatmaps, FrontPortsWithTheSameValuesOnEveryLaneAreRepeats) {
    Rows r;
    r.block("OPTICS", "GENERIC", 0, 31, 8, "25G/100G", true);
    // Front port 13 a copy of 12 and front port 21 of 20; 30 is a copy of 12 but for one value.
    for (const int copy : {13, 21, 30}) {
        const int source = copy == 21 ? 20 : 12;
        for (int l = 0; l < 8; ++l)
            r.rows.rows[static_cast<std::size_t>(copy * 8 + l)].values =
                r.rows.rows[static_cast<std::size_t>(source * 8 + l)].values;
    }
    r.rows.rows[30 * 8 + 7].values[1].text = "0";
    const auto groups = build_heatmaps(r.rows);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups.front().duplicates,
              (std::vector<std::vector<std::string>>{{"12", "13"}, {"20", "21"}}));
}
