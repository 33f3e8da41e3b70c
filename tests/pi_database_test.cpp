// The tuning tree: row insertion and its refusals, lane selection by position, the
// capacity contract of a lookup, vendor matching, and teardown (also after failures).
#include <gtest/gtest.h>

#include "alloc.h"
#include "db_test_util.h"
#include "test_util.h"

namespace pltfm::test {
namespace {

using database::Tree;
using V = std::vector<std::string>;

class TreeTest : public ::testing::Test {
  protected:
    ~TreeTest() override { database::discard(tree); }
    Tree tree;
};

TEST_F(TreeTest, RefusedRowsLeaveTheTreeUnchanged) {
    ASSERT_EQ(add_row(tree, {}, {"1"}), PLTFM_SUCCESS);
    const auto good = row_keys({});
    const pltfm_attr_t value = attr(PLTFM_ATTR_TX_EQ_MAIN, "40");

    struct Case {
        std::vector<pltfm_attr_t> keys;
        uint32_t value_count;
        const char *message;
    };
    auto with = [&](size_t i, pltfm_attr_t a) {
        auto k = good;
        k[i] = a;
        return k;
    };
    const Case cases[] = {
        {{good.begin(), good.begin() + 5}, 1, "invalid key count 5 or value count 1"},
        {good, 0, "invalid key count 6 or value count 0"},
        {with(2, raw_attr(42, "x")), 1, "unknown key 42"},
        {with(2, raw_attr(0xffffffffu, "x")), 1, "unknown key -1"},
        {with(2, attr(PLTFM_ATTR_NUM_LANES, "1")), 1, "unknown key 9"},
        // A repeated vendor keeps its last index; the encoding is then missing.
        {with(3, attr(PLTFM_ATTR_VENDOR, "GENERIC")), 1,
         "required key not provided [0, 3, 2, -1, 4, 5]"},
    };
    for (const Case &c : cases) {
        LogCapture log;
        EXPECT_EQ(
            database::pi_database_add_row(tree, c.keys.data(), static_cast<uint32_t>(c.keys.size()),
                                          &value, c.value_count),
            PLTFM_PARAM)
            << c.message;
        EXPECT_TRUE(log.contains(std::string("pi_database_add_row: ") + c.message)) << log.text();
        EXPECT_EQ(row_count(tree), 1u);
    }
}

TEST_F(TreeTest, KeysMayComeInAnyOrderAndTextsAreCutTo23Characters) {
    auto keys = row_keys({.port = "1234567890123456789012345678"});
    std::swap(keys[0], keys[5]);
    const pltfm_attr_t value = attr(PLTFM_ATTR_TX_EQ_MAIN, "40");
    ASSERT_EQ(database::pi_database_add_row(tree, keys.data(), 6, &value, 1), PLTFM_SUCCESS);
    EXPECT_STREQ(
        tree.serdes_db_p->vendor_name_p->lane_speed_p->encoding_p->front_panel_port_p->attr.value,
        "12345678901234567890123");
    const auto r = lookup(tree, {.port = "12345678901234567890123"});
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(values_of(r.out, r.count), (V{"0", "40"}));
    EXPECT_EQ(r.out[0].key, PLTFM_ATTR_LANE);
    EXPECT_EQ(r.out[1].key, PLTFM_ATTR_TX_EQ_MAIN);
}

TEST_F(TreeTest, LanesAreSelectedByPositionInTheOrderRowsFirstNamedThem) {
    ASSERT_EQ(add_row(tree, {.lane = "3"}, {"30", "31"}), PLTFM_SUCCESS);
    ASSERT_EQ(add_row(tree, {.lane = "0"}, {"0"}), PLTFM_SUCCESS);
    ASSERT_EQ(add_row(tree, {.lane = "1"}, {"10", "11", "12"}), PLTFM_SUCCESS);
    // Another speed of the same port does not disturb the lane order of this one.
    ASSERT_EQ(add_row(tree, {.speed = "50G/400G", .lane = "1"}, {"99"}), PLTFM_SUCCESS);

    auto r = lookup(tree, {.num_lanes = "2", .lane = "0"});
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(values_of(r.out, r.count), (V{"3", "30", "31", "0", "0"}));
    EXPECT_EQ(r.out[3].key, PLTFM_ATTR_LANE);

    r = lookup(tree, {.num_lanes = "8", .lane = "1"});  // more lanes than exist
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(values_of(r.out, r.count), (V{"0", "0", "1", "10", "11", "12"}));

    for (const PortKeys &k :
         {PortKeys{.num_lanes = "1", .lane = "3"}, PortKeys{.num_lanes = "0", .lane = "0"},
          PortKeys{.num_lanes = "-5", .lane = "0"}}) {
        r = lookup(tree, k);
        EXPECT_EQ(r.rc, PLTFM_SUCCESS);
        EXPECT_EQ(r.count, 0u);
    }
}

TEST_F(TreeTest, OutputCapacityIsHonouredAndTheRequiredCountReported) {
    ASSERT_EQ(add_row(tree, {.lane = "0"}, {"a", "b"}), PLTFM_SUCCESS);       // block of 3
    ASSERT_EQ(add_row(tree, {.lane = "1"}, {"c", "d", "e"}), PLTFM_SUCCESS);  // block of 4
    ASSERT_EQ(add_row(tree, {.lane = "2"}, {"f"}), PLTFM_SUCCESS);            // block of 2

    auto r = lookup(tree, {.num_lanes = "3"}, 9);
    EXPECT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(r.count, 9u);

    LogCapture log;
    r = lookup(tree, {.num_lanes = "3"}, 8);
    EXPECT_EQ(r.rc, PLTFM_LENGTH_MISMATCH);
    EXPECT_EQ(r.count, 9u);
    EXPECT_EQ(values_of(r.out, 8), (V{"0", "a", "b", "1", "c", "d", "e", "unwritten"}));
    EXPECT_TRUE(
        log.contains("pi_lane_serdes_attr_get_all: length mismatch getting serdes "
                     "attribute. required count 9, provided count 8"));

    // After the first block that does not fit nothing is copied, even a later one that would.
    r = lookup(tree, {.num_lanes = "3"}, 6);
    EXPECT_EQ(r.rc, PLTFM_LENGTH_MISMATCH);
    EXPECT_EQ(values_of(r.out, 6), (V{"0", "a", "b", "unwritten", "unwritten", "unwritten"}));
}

TEST_F(TreeTest, VendorMatchIgnoresCaseAndFallsBackToExactGeneric) {
    ASSERT_EQ(add_row(tree, {.vendor = "QuillOptic"}, {"old"}), PLTFM_SUCCESS);
    ASSERT_EQ(add_row(tree, {.vendor = "QUILLOPTIC"}, {"new"}), PLTFM_SUCCESS);
    ASSERT_EQ(add_row(tree, {.vendor = "generic"}, {"lower"}), PLTFM_SUCCESS);

    auto r = lookup(tree, {.vendor = "quilloptic"});
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(values_of(r.out, r.count), (V{"0", "new"}));  // most recently created wins

    {
        LogCapture log;  // "generic" is not the fallback: only the exact spelling is
        r = lookup(tree, {.vendor = "OTHER"});
        EXPECT_EQ(r.rc, PLTFM_NOTFOUND);
        EXPECT_TRUE(
            log.contains("pi_vendor_name_get: vendor name entry not found for key OTHER, "
                         "using vendor name GENERIC instead"));
        EXPECT_TRUE(log.contains("pi_vendor_name_get: entry not found for key OTHER\n"));
    }
    ASSERT_EQ(add_row(tree, {.vendor = "GENERIC"}, {"generic"}), PLTFM_SUCCESS);
    r = lookup(tree, {.vendor = "OTHER"});
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(values_of(r.out, r.count), (V{"0", "generic"}));
}

TEST_F(TreeTest, OtherKeysMatchExactlyAsText) {
    ASSERT_EQ(add_row(tree, {.port = "5"}, {"1"}), PLTFM_SUCCESS);
    struct Case {
        PortKeys keys;
        const char *message;
    };
    const Case cases[] = {
        {{.cable = "dac_1m"}, "pi_cable_type_get: entry not found for key dac_1m"},
        {{.speed = "25g/100g", .port = "5"}, "pi_lane_speed_get: entry not found for key 25g/100g"},
        {{.encoding = "PAM4", .port = "5"}, "pi_encoding_get: entry not found for key PAM4"},
        {{.port = "05"}, "pi_front_panel_port_get: entry not found for key 05"},
    };
    for (const Case &c : cases) {
        LogCapture log;
        EXPECT_EQ(lookup(tree, c.keys).rc, PLTFM_NOTFOUND) << c.message;
        EXPECT_TRUE(log.contains(c.message)) << log.text();
    }
    Tree empty;
    LogCapture log;
    EXPECT_EQ(lookup(empty, {}).rc, PLTFM_NOTFOUND);
    EXPECT_TRUE(log.contains("pi_cable_type_get: entry not found for key DAC_1M"));
}

TEST_F(TreeTest, MalformedLookupsAreRefused) {
    ASSERT_EQ(add_row(tree, {}, {"1"}), PLTFM_SUCCESS);
    const auto good = port_keys({});
    pltfm_attr_t out[4];
    struct Case {
        std::vector<pltfm_attr_t> keys;
        uint32_t capacity;
        const char *message;
    };
    auto with = [&](size_t i, pltfm_attr_t a) {
        auto k = good;
        k[i] = a;
        return k;
    };
    const Case cases[] = {
        {{good.begin(), good.begin() + 6}, 4, "invalid key count 6 or value count 4"},
        {good, 0, "invalid key count 7 or value count 0"},
        {with(0, attr(PLTFM_ATTR_TX_EQ_MAIN, "1")), 4, "unknown key type 33"},
        {with(0, raw_attr(0xffffffffu, "1")), 4, "unknown key type -1"},
        {with(3, attr(PLTFM_ATTR_VENDOR, "GENERIC")), 4,
         "required key not provided [1, 3, 2, -1, 4, 1, 0]"},
        {with(6, attr(PLTFM_ATTR_LANE, "-1")), 4,
         "required key not provided [1, 0, 2, 3, 4, 1, -1]"},
        {with(5, attr(PLTFM_ATTR_VENDOR, "GENERIC")), 4,
         "required key not provided [1, 5, 2, 3, 4, -1, 0]"},
    };
    for (const Case &c : cases) {
        LogCapture log;
        uint32_t count = c.capacity;
        EXPECT_EQ(database::pi_database_get(tree, c.keys.data(),
                                            static_cast<uint32_t>(c.keys.size()), out, &count),
                  PLTFM_PARAM);
        EXPECT_TRUE(log.contains(std::string("pi_database_get: ") + c.message)) << log.text();
    }
    // Lane texts that are not numbers count as 0.
    const auto r = lookup(tree, {.num_lanes = "one", .lane = "x"});
    EXPECT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(r.count, 0u);
}

TEST_F(TreeTest, AFailingRowDiscardsTheWholeTree) {
    ASSERT_EQ(add_row(tree, {.port = "1"}, {"1"}), PLTFM_SUCCESS);
    ASSERT_EQ(add_row(tree, {.port = "2"}, {"2"}), PLTFM_SUCCESS);
    LogCapture log;
    EXPECT_EQ(add_row(tree, {.port = "1"}, {"again"}), PLTFM_EXIST);
    EXPECT_EQ(tree.serdes_db_p, nullptr);
    const std::string text = log.text();
    const auto dup =
        text.find("pi_lane_serdes_attr_set: lane entry has existing SerDes attributes");
    const auto deinit = text.find("pi_database_add_row: deinit due to error 6");
    ASSERT_NE(dup, std::string::npos) << text;
    ASSERT_NE(deinit, std::string::npos) << text;
    EXPECT_LT(dup, deinit);
}

TEST_F(TreeTest, AllocationFailureAtEveryLevelDiscardsTheTree) {
    // Six entries and one tuning array are allocated for a row into an empty tree.
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
        EXPECT_TRUE(log.contains(std::string(reporters[n - 1]) + ": malloc failed")) << log.text();
        EXPECT_TRUE(log.contains("pi_database_add_row: deinit due to error 4"));
    }
}

TEST(LiveTree, DeinitFreesOnceThenReportsEmpty) {
    const auto keys = row_keys({});
    const pltfm_attr_t value = attr(PLTFM_ATTR_TX_EQ_MAIN, "40");
    ASSERT_EQ(pi_database_add_row(keys.data(), 6, &value, 1), PLTFM_SUCCESS);
    const auto lookup_keys = port_keys({});
    pltfm_attr_t out[2];
    uint32_t count = 2;
    ASSERT_EQ(pi_database_get(lookup_keys.data(), 7, out, &count), PLTFM_SUCCESS);
    EXPECT_EQ(count, 2u);

    EXPECT_EQ(pi_database_deinit(), PLTFM_SUCCESS);
    EXPECT_EQ(database::live_tree().serdes_db_p, nullptr);
    LogCapture log;
    EXPECT_EQ(pi_database_deinit(), PLTFM_UNINIT);
    EXPECT_TRUE(log.contains("pi_database_deinit: SerDes database is already deinited"));
}

}  // namespace
}  // namespace pltfm::test
