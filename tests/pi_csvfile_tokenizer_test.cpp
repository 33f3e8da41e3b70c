// The comma tokenizer: cell counts against slot capacity, normalisation of each cell, line
// ends, and the raw length limit.
#include <gtest/gtest.h>

#include <optional>

#include "pi_csvfile_internal.h"
#include "test_util.h"

namespace pltfm::test {
namespace {

using S = std::vector<std::optional<std::string>>;
const auto E = std::nullopt;

struct Result {
    pltfm_status_t rc;
    int32_t cells = -1, nonempty = -1;
    S slots;
};

Result parse(const std::string &line, int32_t slots, bool masked = true) {
    csv::LineEntry entry;
    EXPECT_TRUE(entry.allocate(9, slots));
    Result r{};
    r.rc = csv::pi_csv_line_parse(line.c_str(), entry.get(), &r.cells, &r.nonempty, masked);
    for (int32_t c = 1; c <= slots; ++c)
        r.slots.push_back(entry.cell(c) ? std::optional<std::string>(entry.cell(c)) : E);
    return r;
}

TEST(Tokenizer, SplitsTrimsAndUpperCases) {
    struct Case { std::string line; int32_t slots; pltfm_status_t rc; int32_t cells, nonempty; S expected; };
    const Case cases[] = {
        {"a, b ,,c", 4, PLTFM_SUCCESS, 4, 3, {"A", "B", E, "C"}},
        {"a,b,c,d", 3, PLTFM_LENGTH_MISMATCH, 4, 3, {"A", "B", "C"}},
        {",,", 0, PLTFM_LENGTH_MISMATCH, 3, 0, {}},
        // A line ends at its first CR, LF or NUL.
        {"x,y\rz,w\n", 4, PLTFM_SUCCESS, 2, 2, {"X", "Y", E, E}},
        {std::string("p,q\0r,s", 7), 4, PLTFM_SUCCESS, 2, 2, {"P", "Q", E, E}},
        {" \t\v\f ,Front  Port,dac_1m\n", 3, PLTFM_SUCCESS, 3, 2, {E, "FRONT  PORT", "DAC_1M"}},
        // Bytes beyond ASCII keep their value; only a-z change case.
        {"\xEF\xBB\xBFversion\xC3\xA9", 1, PLTFM_SUCCESS, 1, 1, {"\xEF\xBB\xBFVERSION\xC3\xA9"}},
    };
    for (const Case &c : cases) {
        LogCapture log;
        const Result r = parse(c.line, c.slots);
        EXPECT_TRUE(r.rc == c.rc && r.cells == c.cells && r.nonempty == c.nonempty) << c.line;
        EXPECT_EQ(r.slots, c.expected) << c.line;
        EXPECT_EQ(log.text(), "") << c.line;  // masked: nothing to say
    }
    LogCapture log;
    EXPECT_EQ(parse("a,b,c,d", 3, /*masked=*/false).rc, PLTFM_LENGTH_MISMATCH);
    EXPECT_TRUE(log.contains(" pi_csv_line_parse: length mismatch getting values in line 9. required count 4, "
                             "provided count 3\n"));
}

TEST(Tokenizer, CellLengthLimitCountsRawCharacters) {
    Result r = parse("a," + std::string(80, 'x') + ",b", 3);
    EXPECT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(r.slots[1], std::string(80, 'X'));

    // 81 raw characters fail even though trimming would leave 79 (messages: loader test).
    r = parse("a, " + std::string(79, 'x') + " ,b", 3);
    EXPECT_EQ(r.rc, PLTFM_CONFIG);
    EXPECT_EQ(r.cells, -1);    // not written on a copy failure
    EXPECT_EQ(r.nonempty, 1);  // the cells stored before it
}

}  // namespace
}  // namespace pltfm::test
