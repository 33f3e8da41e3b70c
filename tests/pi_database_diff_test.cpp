// Row-by-row comparison of two tuning trees: rows matched by their six keys, a row changed
// when its values (keys, texts, order) differ, and the counts a reload reports.
#include "pi_database_diff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "database_reload.h"
#include "db_test_util.h"
#include "test_util.h"

namespace pltfm::test {
namespace {

// One row added to a tree: keys and values (TX_EQ_PRE1, TX_EQ_PRE2, ...).
struct Row {
    Keys keys;
    V values;
};

// "added DAC_1M GENERIC 25G/100G NRZ 1 0" per differing row, in walk order.
class Recorder final : public database::RowDiffSink {
  public:
    void row(database::RowChange change, const database::RowKeys &keys,
             const pi_lane_entry_t *before, const pi_lane_entry_t *after) override {
        std::string line = change == database::RowChange::added     ? "added"
                           : change == database::RowChange::removed ? "removed"
                                                                    : "changed";
        for (const char *k : keys.text) line += std::string(" ") + k;
        // The entries handed over are the rows of the side(s) that have them.
        EXPECT_EQ(before == nullptr, change == database::RowChange::added);
        EXPECT_EQ(after == nullptr, change == database::RowChange::removed);
        lines.push_back(line);
    }
    std::vector<std::string> lines;
};

class TreeDiffTest : public ::testing::Test {
  protected:
    ~TreeDiffTest() override {
        database::discard(before);
        database::discard(after);
    }
    void fill(database::Tree &tree, const std::vector<Row> &rows) {
        for (const Row &r : rows) ASSERT_EQ(add_row(tree, r.keys, r.values), PLTFM_SUCCESS);
    }
    std::vector<std::string> diff() {
        Recorder rec;
        database::compare_trees(before, after, rec);
        std::sort(rec.lines.begin(), rec.lines.end());
        return rec.lines;
    }
    database::Tree before, after;
};

TEST_F(TreeDiffTest, RowsMatchByAllSixKeysAndDifferByTheirValues) {
    const Keys base{};  // DAC_1M GENERIC 25G/100G NRZ port 1 lane 0
    Keys lane1 = base, port2 = base, vendor = base, optics = base, pam4 = base;
    lane1.lane = "1";
    port2.port = "2";
    vendor.vendor = "ACME";
    optics.cable = "OPTICS";
    pam4.speed = "50G/400G", pam4.encoding = "PAM4";
    struct Case {
        const char *what;
        std::vector<Row> before, after;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"identical trees",
         {{base, {"1", "2"}}, {lane1, {"3"}}},
         {{lane1, {"3"}}, {base, {"1", "2"}}},
         {}},
        {"both empty", {}, {}, {}},
        {"one value changed",
         {{base, {"1", "2"}}},
         {{base, {"1", "3"}}},
         {"changed DAC_1M GENERIC 25G/100G NRZ 1 0"}},
        {"a value more",
         {{base, {"1"}}},
         {{base, {"1", "2"}}},
         {"changed DAC_1M GENERIC 25G/100G NRZ 1 0"}},
        {"lane added, port removed",
         {{base, {"1"}}, {port2, {"1"}}},
         {{base, {"1"}}, {lane1, {"1"}}},
         {"added DAC_1M GENERIC 25G/100G NRZ 1 1", "removed DAC_1M GENERIC 25G/100G NRZ 2 0"}},
        {"a vendor and a cable type of their own",
         {{vendor, {"1"}}},
         {{optics, {"1"}}},
         {"added OPTICS GENERIC 25G/100G NRZ 1 0", "removed DAC_1M ACME 25G/100G NRZ 1 0"}},
        {"another column group",
         {{base, {"1"}}},
         {{base, {"1"}}, {pam4, {"1"}}},
         {"added DAC_1M GENERIC 50G/400G PAM4 1 0"}},
        {"everything new",
         {},
         {{base, {"1"}}, {lane1, {"2"}}},
         {"added DAC_1M GENERIC 25G/100G NRZ 1 0", "added DAC_1M GENERIC 25G/100G NRZ 1 1"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        database::discard(before);
        database::discard(after);
        fill(before, c.before);
        fill(after, c.after);
        EXPECT_EQ(diff(), c.expected);
        const auto counts = database::count_row_changes(before, after);
        uint64_t added = 0, removed = 0, changed = 0;
        for (const auto &line : c.expected) {
            added += line.starts_with("added");
            removed += line.starts_with("removed");
            changed += line.starts_with("changed");
        }
        EXPECT_EQ(counts.added, added);
        EXPECT_EQ(counts.removed, removed);
        EXPECT_EQ(counts.changed, changed);
    }
}

TEST_F(TreeDiffTest, SameTextsUnderAnotherAttributeAreAChange) {
    const Keys k{};
    const pltfm_attr_t pre1 = attr(PLTFM_ATTR_TX_EQ_PRE1, "-3");
    const pltfm_attr_t post = attr(PLTFM_ATTR_TX_EQ_POST, "-3");
    ASSERT_EQ(database::pi_database_add_row(before, row_keys(k).data(), 6, &pre1, 1),
              PLTFM_SUCCESS);
    ASSERT_EQ(database::pi_database_add_row(after, row_keys(k).data(), 6, &post, 1), PLTFM_SUCCESS);
    EXPECT_EQ(database::count_row_changes(before, after).changed, 1u);
}

TEST(ReloadChanges, CountsRowsAgainstTheReplacedTree) {
    // Lanes 0 and 1 of front port 1, then lane 1 changed and lane 2 added; then nothing loads.
    TempDir first, second, broken;
    const std::string head =
        "VERSION,CABLE TYPE,VENDOR,,\n1.0,DAC_1M,GENERIC,,\n,,,SPEED,ENCODING\n"
        ",,,25G/100G,NRZ\nINDEX,FRONT PORT,LANE,TX_EQ_MAIN,TX_EQ_PRE1\n";
    write_file(first / "tune.csv", head + "1,1,0,40,-4\n2,1,1,41,-4\n");
    write_file(second / "tune.csv", head + "1,1,0,40,-4\n2,1,1,42,-4\n3,1,2,43,-4\n");
    write_file(broken / "tune.csv", head + "1,1,0,40\n");
    database::RowChangeCounts counts{9, 9, 9};
    ASSERT_EQ(database::reload(first.path().c_str(), &counts), PLTFM_SUCCESS);
    EXPECT_EQ(counts.added, 2u);  // nothing was live before
    EXPECT_EQ(counts.removed + counts.changed, 0u);
    ASSERT_EQ(database::reload(second.path().c_str(), &counts), PLTFM_SUCCESS);
    EXPECT_EQ(counts.added, 1u);
    EXPECT_EQ(counts.removed, 0u);
    EXPECT_EQ(counts.changed, 1u);
    counts = {7, 7, 7};
    LogCapture quiet;
    EXPECT_NE(database::reload(broken.path().c_str(), &counts), PLTFM_SUCCESS);
    EXPECT_EQ(counts.added, 7u);  // untouched when nothing was replaced
    ASSERT_EQ(database::reload(first.path().c_str(), &counts), PLTFM_SUCCESS);
    EXPECT_EQ(counts.removed, 1u);
    EXPECT_EQ(counts.changed, 1u);
    EXPECT_EQ(pltfm_parser_database_deinit(), PLTFM_SUCCESS);
}

}  // namespace
}  // namespace pltfm::test
