// The tuning tree: refused rows and lookups, lane selection by position, the capacity
// contract of a lookup, key matching (vendor fallback, exact text elsewhere), and teardown
// of the whole tree after a failing row or allocation.
#include <gtest/gtest.h>

#include "alloc.h"
#include "db_test_util.h"
#include "test_util.h"

namespace pltfm::test {
namespace {

class TreeTest : public ::testing::Test {
  protected:
    ~TreeTest() override { database::discard(tree); }
    database::Tree tree;
};

TEST_F(TreeTest, MalformedRowsAndLookupsAreRefused) {
    ASSERT_EQ(add_row(tree, {}, {"1"}), PLTFM_SUCCESS);
    const auto row = row_keys({});
    const auto port = port_keys({});
    auto with = [](std::vector<pltfm_attr_t> keys, size_t i, pltfm_attr_t a) {
        return keys[i] = a, keys;
    };
    // add_row (values given: count) or get (output capacity: count) with these keys.
    struct Case {
        bool is_row;
        std::vector<pltfm_attr_t> keys;
        uint32_t count;
        std::string message;
    };
    const Case cases[] = {
        {true, {row.begin(), row.begin() + 5}, 1, "add_row: invalid key count 5 or value count 1"},
        {true, with(row, 2, attr(0xffffffffu, "x")), 1, "add_row: unknown key -1"},
        {true, with(row, 2, attr(PLTFM_ATTR_NUM_LANES, "1")), 1, "add_row: unknown key 9"},
        // A repeated key keeps its last index; the replaced one is then missing.
        {true, with(row, 3, attr(PLTFM_ATTR_VENDOR, "GENERIC")), 1,
         "add_row: required key not provided [0, 3, 2, -1, 4, 5]"},
        {false, port, 0, "get: invalid key count 7 or value count 0"},
        {false, with(port, 0, attr(PLTFM_ATTR_TX_EQ_MAIN, "1")), 4, "get: unknown key type 33"},
        {false, with(port, 5, attr(PLTFM_ATTR_VENDOR, "GENERIC")), 4,
         "get: required key not provided [1, 5, 2, 3, 4, -1, 0]"},
        // Without a cable type: the first position is the one reported missing.
        {true, with(row, 0, attr(PLTFM_ATTR_VENDOR, "GENERIC")), 1,
         "add_row: required key not provided [-1, 1, 2, 3, 4, 5]"},
        {false, with(port, 1, attr(PLTFM_ATTR_VENDOR, "GENERIC")), 4,
         "get: required key not provided [-1, 1, 2, 3, 4, 1, 0]"},
    };
    const pltfm_attr_t value = attr(PLTFM_ATTR_TX_EQ_MAIN, "40");
    pltfm_attr_t out[4];
    for (const Case &c : cases) {
        LogCapture log;
        uint32_t count = c.count, n = c.keys.size();
        EXPECT_EQ(c.is_row ? database::pi_database_add_row(tree, c.keys.data(), n, &value, count)
                           : database::pi_database_get(tree, c.keys.data(), n, out, &count),
                  PLTFM_PARAM);
        EXPECT_TRUE(log.contains("pi_database_" + c.message)) << log.text();
        EXPECT_EQ(row_count(tree), 1u);
    }
}

TEST_F(TreeTest, LanesAreSelectedByPositionInTheOrderRowsFirstNamedThem) {
    ASSERT_EQ(add_row(tree, {.lane = "3"}, {"30", "31"}), PLTFM_SUCCESS);
    ASSERT_EQ(add_row(tree, {.lane = "0"}, {"0"}), PLTFM_SUCCESS);
    ASSERT_EQ(add_row(tree, {.lane = "1"}, {"10", "11", "12"}), PLTFM_SUCCESS);
    // Another speed of the same port does not disturb the lane order of this one.
    ASSERT_EQ(add_row(tree, {.speed = "50G/400G", .lane = "1"}, {"99"}), PLTFM_SUCCESS);
    struct Case {
        std::string num_lanes, lane;
        V expected;
    };
    const Case cases[] = {{"2", "0", {"3", "30", "31", "0", "0"}},
                          {"1", "3", {}},
                          {"-5", "0", {}},
                          {"8", "1", {"0", "0", "1", "10", "11", "12"}},  // more lanes than exist
                          {"one", "x", {}}};  // texts that are not numbers count as 0
    for (const Case &c : cases) {
        const auto r = lookup(&tree, {.num_lanes = c.num_lanes, .lane = c.lane});
        EXPECT_EQ(r.rc, PLTFM_SUCCESS);
        EXPECT_EQ(r.values(), c.expected) << c.num_lanes << " " << c.lane;
    }
}

TEST_F(TreeTest, OutputCapacityIsHonouredAndTheRequiredCountReported) {
    ASSERT_EQ(add_row(tree, {.lane = "0"}, {"a", "b"}), PLTFM_SUCCESS);       // block of 3
    ASSERT_EQ(add_row(tree, {.lane = "1"}, {"c", "d", "e"}), PLTFM_SUCCESS);  // block of 4
    ASSERT_EQ(add_row(tree, {.lane = "2"}, {"f"}), PLTFM_SUCCESS);            // block of 2
    EXPECT_EQ(lookup(&tree, {.num_lanes = "3"}, 9).rc, PLTFM_SUCCESS);
    LogCapture log;
    auto r = lookup(&tree, {.num_lanes = "3"}, 8);
    EXPECT_EQ(r.rc, PLTFM_LENGTH_MISMATCH);
    EXPECT_EQ(r.count, 9u);
    EXPECT_EQ(r.values(), (V{"0", "a", "b", "1", "c", "d", "e", "unwritten"}));
    EXPECT_TRUE(
        log.contains("pi_lane_serdes_attr_get_all: length mismatch getting serdes attribute. "
                     "required count 9, provided count 8"));
    // After the first block that does not fit nothing is copied, even a later one that would.
    r = lookup(&tree, {.num_lanes = "3"}, 6);
    EXPECT_EQ(r.rc, PLTFM_LENGTH_MISMATCH);
    EXPECT_EQ(r.values(), (V{"0", "a", "b", "unwritten", "unwritten", "unwritten"}));
}

TEST_F(TreeTest, VendorIgnoresCaseAndFallsBackToExactGenericOtherKeysMatchExactly) {
    ASSERT_EQ(add_row(tree, {.vendor = "QuillOptic"}, {"old"}), PLTFM_SUCCESS);
    ASSERT_EQ(add_row(tree, {.vendor = "QUILLOPTIC"}, {"new"}), PLTFM_SUCCESS);
    ASSERT_EQ(add_row(tree, {.vendor = "generic"}, {"lower"}), PLTFM_SUCCESS);
    auto r = lookup(&tree, {.vendor = "quilloptic"});
    EXPECT_EQ(r.values(), (V{"0", "new"}));  // the most recently created entry wins

    const std::pair<Keys, std::string> cases[] = {
        // "generic" is not the fallback: only the exact spelling is.
        {{.vendor = "OTHER"},
         "pi_vendor_name_get: vendor name entry not found for key OTHER, "
         "using vendor name GENERIC instead\n"},
        {{.cable = "dac_1m"}, "pi_cable_type_get: entry not found for key dac_1m"},
        {{.vendor = "quilloptic", .port = "01"},
         "pi_front_panel_port_get: entry not found for key 01"},
    };
    for (const auto &[keys, message] : cases) {
        LogCapture log;
        EXPECT_EQ(lookup(&tree, keys).rc, PLTFM_NOTFOUND) << message;
        EXPECT_TRUE(log.contains(message)) << log.text();
    }
    ASSERT_EQ(add_row(tree, {.vendor = "GENERIC"}, {"generic"}), PLTFM_SUCCESS);
    r = lookup(&tree, {.vendor = "OTHER"});
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(r.values(), (V{"0", "generic"}));
}

// Long lists (beyond what insertion walks, so the index answers): port entries stay newest
// first, lanes stay in the order rows named them, and a duplicate anywhere is still refused.
TEST_F(TreeTest, LongListsKeepTheirOrderAndUniqueness) {
    constexpr int kCount = 100;
    for (int i = 0; i < kCount; ++i) {
        // Lane texts out of numeric order, so that position and text differ.
        ASSERT_EQ(add_row(tree, {.port = "0", .lane = std::to_string((i * 37) % kCount)},
                          {"p0-" + std::to_string(i)}),
                  PLTFM_SUCCESS);
        ASSERT_EQ(add_row(tree, {.port = std::to_string(i + 1)}, {"port" + std::to_string(i + 1)}),
                  PLTFM_SUCCESS);
    }
    const auto *ports =
        tree.serdes_db_p->vendor_name_p->lane_speed_p->encoding_p->front_panel_port_p;
    std::vector<std::string> order;
    for (auto *p = ports; p != nullptr; p = p->fppe_next_p) order.emplace_back(p->attr.value);
    ASSERT_EQ(order.size(), kCount + 1u);
    EXPECT_EQ(order.front(), std::to_string(kCount));  // the newest
    EXPECT_EQ(order[kCount - 1], "1");
    EXPECT_EQ(order.back(), "0");  // the oldest
    for (int position : {0, 16, 17, 63, kCount - 1}) {
        const Lookup r =
            lookup(&tree, {.port = "0", .num_lanes = "1", .lane = std::to_string(position)});
        ASSERT_EQ(r.rc, PLTFM_SUCCESS) << position;
        EXPECT_EQ(r.values(),
                  (V{std::to_string((position * 37) % kCount), "p0-" + std::to_string(position)}));
    }
    EXPECT_EQ(lookup(&tree, {.port = "42"}).values(), (V{"0", "port42"}));
    LogCapture log;
    EXPECT_EQ(add_row(tree, {.port = "0", .lane = std::to_string((5 * 37) % kCount)}, {"again"}),
              PLTFM_EXIST);
    EXPECT_TRUE(log.contains("pi_lane_serdes_attr_set: lane entry has existing SerDes attributes"));
    EXPECT_EQ(tree.serdes_db_p, nullptr);
}

TEST_F(TreeTest, AFailingRowDiscardsTheWholeTree) {
    // An allocation failing at any level (six entries, then the tuning array). The refused
    // duplicate row is covered by the loader's rule table.
    const char *reporters[] = {"pi_cable_type_create",       "pi_vendor_name_create",
                               "pi_lane_speed_create",       "pi_encoding_create",
                               "pi_front_panel_port_create", "pi_lane_create",
                               "pi_lane_serdes_attr_set"};
    for (unsigned long n = 1; n <= 7; ++n) {
        ASSERT_EQ(add_row(tree, {.port = "9"}, {"kept"}), PLTFM_SUCCESS);
        LogCapture log;
        mem::fail_nth_allocation(n);
        EXPECT_EQ(add_row(tree, {.cable = "OPTICS"}, {"1"}), PLTFM_MEMORY) << n;
        mem::fail_nth_allocation(0);
        EXPECT_EQ(tree.serdes_db_p, nullptr) << n;
        EXPECT_TRUE(log.contains(std::string(reporters[n - 1]) + ": malloc failed"));
        EXPECT_TRUE(log.contains("pi_database_add_row: deinit due to error 4"));
    }
}

}  // namespace
}  // namespace pltfm::test
