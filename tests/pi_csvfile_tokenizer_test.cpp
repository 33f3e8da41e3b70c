// The comma tokenizer: cell counts against slot capacity, normalisation of each cell, line
// ends, the raw length limit, and ownership of the texts in the slots.
#include <gtest/gtest.h>

#include <optional>

#include "alloc.h"
#include "pi_csvfile_internal.h"
#include "test_util.h"

namespace pltfm::test {
namespace {

using csv::LineEntry;

struct Result {
    pltfm_status_t rc;
    int32_t cells;
    int32_t nonempty;
    std::vector<std::optional<std::string>> slots;
};

Result parse(const std::string &line, int32_t slots, bool masked = false, int32_t line_no = 7) {
    LineEntry entry;
    EXPECT_TRUE(entry.allocate(line_no, slots));
    Result r{PLTFM_SUCCESS, -1, -1, {}};
    r.rc = csv::pi_csv_line_parse(line.c_str(), entry.get(), &r.cells, &r.nonempty, masked);
    for (int32_t c = 1; c <= slots; ++c) {
        const char *text = entry.cell(c);
        r.slots.push_back(text ? std::optional<std::string>(text) : std::nullopt);
    }
    return r;
}

using S = std::vector<std::optional<std::string>>;
const auto E = std::nullopt;

TEST(Tokenizer, SplitsTrimsAndUpperCases) {
    struct Case {
        std::string line;
        int32_t slots;
        pltfm_status_t rc;
        int32_t cells, nonempty;
        S expected;
    };
    const Case cases[] = {
        {"a, b ,,c", 4, PLTFM_SUCCESS, 4, 3, {"A", "B", E, "C"}},
        {"a,b,c,d", 3, PLTFM_LENGTH_MISMATCH, 4, 3, {"A", "B", "C"}},
        {"", 1, PLTFM_SUCCESS, 1, 0, {E}},
        {"", 0, PLTFM_LENGTH_MISMATCH, 1, 0, {}},
        {",,", 0, PLTFM_LENGTH_MISMATCH, 3, 0, {}},
        {"x,y\rz,w\n", 4, PLTFM_SUCCESS, 2, 2, {"X", "Y", E, E}},
        {std::string("p,q\0r,s", 7), 4, PLTFM_SUCCESS, 2, 2, {"P", "Q", E, E}},
        {"ab\n", 2, PLTFM_SUCCESS, 1, 1, {"AB", E}},
        {" \t\v\f ,Front  Port,dac_1m", 3, PLTFM_SUCCESS, 3, 2, {E, "FRONT  PORT", "DAC_1M"}},
        // Bytes beyond ASCII keep their value; only a-z change case.
        {"\xEF\xBB\xBFversion\xC3\xA9", 1, PLTFM_SUCCESS, 1, 1, {"\xEF\xBB\xBFVERSION\xC3\xA9"}},
    };
    for (const Case &c : cases) {
        LogCapture log;
        const Result r = parse(c.line, c.slots, /*masked=*/true);
        EXPECT_EQ(r.rc, c.rc) << c.line;
        EXPECT_EQ(r.cells, c.cells) << c.line;
        EXPECT_EQ(r.nonempty, c.nonempty) << c.line;
        EXPECT_EQ(r.slots, c.expected) << c.line;
        EXPECT_EQ(log.text(), "") << c.line;  // masked: nothing to say
    }
}

TEST(Tokenizer, MoreCellsThanSlotsIsReportedUnlessMasked) {
    LogCapture log;
    EXPECT_EQ(parse("a,b,c,d", 3, false, 12).rc, PLTFM_LENGTH_MISMATCH);
    EXPECT_TRUE(
        log.contains("pi_csv_line_parse: length mismatch getting values in line 12. "
                     "required count 4, provided count 3\n"))
        << log.text();
}

TEST(Tokenizer, CellLengthLimitCountsRawCharacters) {
    const std::string eighty(80, 'x');
    Result r = parse("a," + eighty + ",b", 3);
    EXPECT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(r.slots[1], std::string(80, 'X'));

    // 81 raw characters fail even though trimming would leave 79.
    LogCapture log;
    r = parse("a, " + std::string(79, 'x') + " ,b", 3, false, 9);
    EXPECT_EQ(r.rc, PLTFM_CONFIG);
    EXPECT_EQ(r.cells, -1);    // not written on a copy failure
    EXPECT_EQ(r.nonempty, 1);  // the cells stored before it
    const std::string text = log.text();
    const auto copy = text.find(
        "pi_csv_line_token_copy: length mismatch getting value. max length 80, provided length 81");
    const auto parse_msg =
        text.find("pi_csv_line_parse: error processing value in line 9 column 2");
    ASSERT_NE(copy, std::string::npos) << text;
    ASSERT_NE(parse_msg, std::string::npos) << text;
    EXPECT_LT(copy, parse_msg);

    // Without slots no cell is copied, so no length is checked.
    EXPECT_EQ(parse("a," + std::string(200, 'x'), 0, true).cells, 2);
}

TEST(Tokenizer, FailedCopyAllocationIsAMemoryError) {
    LogCapture log;
    mem::fail_nth_allocation(3);  // after the slot array and the first copy
    const Result r = parse("a,b,c", 3, false, 4);
    mem::fail_nth_allocation(0);
    EXPECT_EQ(r.rc, PLTFM_MEMORY);
    EXPECT_EQ(r.slots, (S{"A", E, E}));
    EXPECT_TRUE(log.contains("pi_csv_line_token_copy: strdup failed"));
    EXPECT_TRUE(log.contains("pi_csv_line_parse: error processing value in line 4 column 2"));
}

TEST(Tokenizer, ReusingAnEntryReplacesItsTexts) {
    // Under LeakSanitizer a text that was not freed when its slot was reused is reported.
    LineEntry entry;
    ASSERT_TRUE(entry.allocate(1, 3));
    int32_t cells = 0;
    int32_t nonempty = 0;
    for (int i = 0; i < 100; ++i) {
        const std::string line = i % 2 ? "a,,c" : "x,y,";
        ASSERT_EQ(csv::pi_csv_line_parse(line.c_str(), entry.get(), &cells, &nonempty, false),
                  PLTFM_SUCCESS);
    }
    EXPECT_STREQ(entry.cell(1), "A");
    EXPECT_EQ(entry.cell(2), nullptr);
    EXPECT_STREQ(entry.cell(3), "C");
}

}  // namespace
}  // namespace pltfm::test
