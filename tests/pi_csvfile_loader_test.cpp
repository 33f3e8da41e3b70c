// Loading tuning directories: the rows a file gives, the rules of each line and their
// stacked messages, which directory entries count, a file deleted between passes, and
// allocation failures anywhere in a load.
#include <gtest/gtest.h>
#include <unistd.h>

#include "alloc.h"
#include "db_test_util.h"
#include "pi_csvfile_internal.h"
#include "test_util.h"

namespace pltfm::test {
namespace {

// The worked example: 9 columns, groups 25G/100G NRZ (4-6) and 50G/400G PAM4 (7-9).
V example() {
    return {
        "VERSION,CABLE TYPE,VENDOR,,,,,,",
        "1.0,DAC_1M,GENERIC,,,,,,",
        ",,,SPEED,ENCODING,,SPEED,ENCODING,",
        ",,,25G/100G,NRZ,,50G/400G,PAM4,",
        "INDEX,FRONT PORT,LANE,TX_EQ_PRE1,TX_EQ_MAIN,TX_EQ_POST1,TX_EQ_PRE1,TX_EQ_MAIN,TX_EQ_POST1",
        "1,1,0,-4,40,-8,-2,46,-6",
        "2,1,1,-5,41,-9,-3,47,-7",
        ",,,,,,,,",
        "3,2,0,-6,38,-10,-4,44,-8"};
}

std::string join(const V &lines, const char *end = "\n") {
    std::string s;
    for (const auto &l : lines) s += l + end;
    return s;
}

class LoaderTest : public ::testing::Test {
  protected:
    ~LoaderTest() override { database::discard(tree); }
    void write(const std::string &name, const std::string &text) { write_file(dir / name, text); }
    // A full load as pi_database_init does it (a failure discards the tree); returns the log.
    std::string load(pltfm_status_t expected) {
        LogCapture log;
        EXPECT_EQ(database::pi_database_init(tree, dir.path().c_str()), expected) << log.text();
        return log.text();
    }
    TempDir dir;
    database::Tree tree;
};

TEST_F(LoaderTest, WorkedExampleGivesOneRowPerGroupAndLine) {
    write("dac.csv", join(example()));
    load(PLTFM_SUCCESS);
    EXPECT_EQ(row_count(tree), 6u);
    auto r = lookup(&tree, {.num_lanes = "2"});
    EXPECT_EQ(r.values(), (V{"0", "-4", "40", "-8", "1", "-5", "41", "-9"}));
    const pltfm_attr_type_t keys[] = {PLTFM_ATTR_LANE, PLTFM_ATTR_TX_EQ_PRE1, PLTFM_ATTR_TX_EQ_MAIN,
                                      PLTFM_ATTR_TX_EQ_POST1, PLTFM_ATTR_LANE};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(r.out[i].key, keys[i]) << i;
    r = lookup(&tree, {.speed = "50G/400G", .encoding = "PAM4", .port = "2"});
    EXPECT_EQ(r.values(), (V{"0", "-4", "44", "-8"}));
}

TEST_F(LoaderTest, CellsAreNormalisedAndGroupsRunFromOneSpeedColumnToTheNext) {
    // Lower case, blanks, a byte-order mark and CR LF line ends; values cut to 23 characters.
    write("groups.csv",
          join({"\xEF\xBB\xBF Version ,cable type,vendor,,,,,,", "1, optics ,Generic,,,,,,",
                ",,,SPEED,ENCODING,,,speed,encoding", ",,,10G/40G,NRZ,,,50G/400G,PAM4",
                "index,front port,lane,an,FEC,LINK_TRAINING,TX_EQ_PRE3,RX_CTLE_BW,RX_CTLE_HF",
                "1,0,0,abcdefghijklmnopqrstuvwxyz,b,c,d,e,f"},
               "\r\n"));
    load(PLTFM_SUCCESS);
    auto r = lookup(&tree, {.cable = "OPTICS", .speed = "10G/40G", .port = "0"});
    EXPECT_EQ(r.values(), (V{"0", "ABCDEFGHIJKLMNOPQRSTUVW", "B", "C", "D"}));
    r = lookup(&tree, {.cable = "OPTICS", .speed = "50G/400G", .encoding = "PAM4", .port = "0"});
    EXPECT_EQ(r.values(), (V{"0", "E", "F"}));
}

TEST_F(LoaderTest, FilesWithoutDataLinesLoadWithoutRows) {
    const V all = example();
    const std::string header = join(V(all.begin(), all.begin() + 5));
    write("a_headers.csv", header);
    write("b_empty.csv", "");
    // CR alone never ends a line: this whole file is its first line.
    write("c_cr.csv", "VERSION,CABLE TYPE,VENDOR,,\r1,X,Y,,\r\r");
    write("d_no_final_lf.csv", header.substr(0, header.size() - 1));
    load(PLTFM_SUCCESS);
    EXPECT_EQ(tree.serdes_db_p, nullptr);
}

// One broken rule per case: the file is the example with line `line` replaced (10 appends).
TEST_F(LoaderTest, BrokenLineRulesAreReportedWhereFound) {
    const std::string bad = dir / "bad.csv";
    const std::string format = " is not in expected format. expected value count 9, actual value ";
    struct Case {
        int line;
        std::string text;
        V messages;  // in order; "pi_database_init: deinit due to error <rc>" follows them
        pltfm_status_t rc = PLTFM_INVAL;
    };
    const Case cases[] = {
        // first pass
        {1,
         "VERSION,CABLE TYPE,VENDOR,",
         {"pi_csv_line_1_check: line 1 is not in expected format",
          "pi_csv_file_check: line 1 in file " + bad + " is invalid, rc 11",
          "pi_csv_file_get_list: error found during initial check of file " + bad + ". rc 11"}},
        {1, "VERSION,CABLE  TYPE,VENDOR,,", {"line 1 is missing the value CABLE TYPE in column 2"}},
        {10, "", {"pi_csv_line_n_check: in line 10, value count 1 is not the expected count 9"}},
        // second pass
        {1,
         "VERSION,CABLE TYPE,VENDOR,X,,,,,",
         {"pi_csv_line_1_process: line 1" + format +
          "count 9, expected nonempty value count 3, actual nonempty value count 4, rc 0"}},
        {2, "1.0,DAC_1M,,X,,,,,", {"pi_csv_line_2_process: line 2 is missing value in column 3"}},
        {3, "x,,,SPEED,ENCODING,,,,", {"line_3_process: line 3 should not have values in columns"}},
        {3, ",,,SPEED,ENCODING,,ENCODING,,", {"line 3 is missing the value SPEED in column 7"}},
        {3, ",,,SPEED,ENCODING,,SPEED,,ENCODING", {"missing the value ENCODING in column 8"}},
        {4, ",,,25G/100G,,,50G/400G,PAM4,", {"line 4 is missing value for ENCODING in column 5"}},
        {4, ",,x,25G/100G,NRZ,,50G/400G,PAM4,", {"line 4 should not have value in column 3"}},
        {5,
         "INDEX,FRONT PORT,LANE,A,,B,C,D,E",
         {"line 5" + format +
          "count 9, expected nonempty value count 9, actual nonempty value count 8"}},
        {5,
         "IDX,FRONT PORT,LANE,AN,AN,AN,AN,AN,AN",
         {"line 5 is missing the value INDEX in column"}},
        {5,
         "INDEX,FRONT PORT,LANE,AN,NUM_LANES,AN,AN,AN,AN",
         {"line 5 has invalid value NUM_LANES in column 5"}},
        {7,
         "2,1,1,-5,41,,-3,47,-7",
         {"pi_csv_line_n_process: line 7" + format +
          "count 9, expected nonempty value count 0 or all, actual nonempty value count 8, rc 0"}},
        {7,
         "2,1,1,-5,41," + std::string(81, '9') + ",-3,47,-7",
         {"pi_csv_line_token_copy: length mismatch getting value. max length 80, provided length "
          "81",
          "pi_csv_line_parse: error processing value in line 7 column 6",
          "line 7" + format +
              "count -1, expected nonempty value count 0 or all, actual nonempty value count 5, rc "
              "3",
          "pi_csv_file_process: line 7 in file " + bad + " is invalid, rc 3"},
         PLTFM_CONFIG},
        {9,
         "3,1,0,-6,38,-10,-4,44,-8",
         {"pi_lane_serdes_attr_set: lane entry has existing SerDes attributes",
          "pi_csv_line_n_process: line 9 database add failed for CABLE TYPE (DAC_1M) VENDOR "
          "(GENERIC) SPEED (25G/100G) ENCODING (NRZ) FRONT PORT (1) LANE (0)"},
         PLTFM_EXIST},
    };
    for (const Case &c : cases) {
        V lines = example();
        lines.resize(10);
        lines[c.line - 1] = c.text;
        if (c.line != 10) lines.pop_back();
        write("bad.csv", join(lines));
        const std::string log = load(c.rc);
        V expected = c.messages;
        expected.push_back("pi_database_init: deinit due to error " + std::to_string(c.rc));
        std::size_t at = 0;  // each message after the one before
        for (const auto &m : expected) {
            at = log.find(m, at);
            ASSERT_NE(at, std::string::npos) << "missing or out of order: " << m << "\n" << log;
        }
        EXPECT_EQ(log.find("already deinited"), std::string::npos) << log;  // only the cause
        EXPECT_EQ(tree.serdes_db_p, nullptr) << c.text;
    }
}

TEST_F(LoaderTest, OnlyRegularFilesNamedLikeTuningFilesAreListed) {
    for (const char *name : {"ab.csv", "TUNING.Csv", "x.CSV.csv", "a.csv", "notes.txt",
                             "csv_rescan", "sub.csv/inner.csv", "none/notes.txt"})
        write(name, "");
    ASSERT_EQ(::symlink((dir / "ab.csv").c_str(), (dir / "link.csv").c_str()), 0);
    int32_t count = 0;
    EXPECT_EQ(csv::pi_csv_file_get_count(dir.path().c_str(), &count), PLTFM_SUCCESS);
    EXPECT_EQ(count, 3);  // the first three

    // A missing directory, and one without tuning files.
    LogCapture log;
    EXPECT_EQ(database::pi_database_init(tree, (dir / "missing").c_str()), PLTFM_NOTFOUND);
    EXPECT_EQ(database::pi_database_init(tree, (dir / "none").c_str()), PLTFM_NOTFOUND);
    EXPECT_TRUE(log.contains("cannot open directory " + dir / "missing" + " for reading"));
    EXPECT_TRUE(log.contains("parse_all: no csv file found in directory " + dir / "none"));
}

TEST_F(LoaderTest, FilesDeletedSinceTheCountAreReported) {
    write("a.0.csv", join(example()));
    write("b.0.csv", join(example()));
    pi_csv_file_entry_t list[3] = {};
    LogCapture log;
    EXPECT_EQ(csv::pi_csv_file_get_list(dir.path().c_str(), 3, list), PLTFM_INVAL);
    EXPECT_TRUE(
        log.contains("pi_csv_file_get_list: some csv files are missing after starting parsing. "
                     "expected file count 3, actual file count 2"));
    for (auto &f : list) mem::release(f.file_path_p);
}

// A file rewritten between its check and its load is judged by the load's own rules: a
// first line that lost a key word, or any line with another cell count, is refused there and
// the file adds no row.
TEST_F(LoaderTest, AFileChangedAfterItsCheckIsJudgedByTheLoad) {
    const std::string path = dir / "changing.csv";
    const struct {
        int line;
        std::string text;
        std::string message;
    } cases[] = {
        {1, "VERSION,CABLE KIND,VENDOR,,,,,,",
         "line 1 is missing the value CABLE TYPE in column 2"},
        {1, "VERSION,CABLE TYPE,MAKER,,,,,,", "line 1 is missing the value VENDOR in column 3"},
        {6, "1,1,0,-4,40,-8,-2,46",
         "line 6 is not in expected format. expected value count 9, actual value count 8"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        write("changing.csv", join(example()));
        int32_t columns = 0, lines = 0;
        ASSERT_EQ(csv::pi_csv_file_check(path.c_str(), &columns, &lines), PLTFM_SUCCESS);
        V changed = example();
        changed[c.line - 1] = c.text;
        write("changing.csv", join(changed));
        LogCapture log;
        EXPECT_EQ(csv::pi_csv_file_process(tree, path.c_str(), columns), PLTFM_INVAL);
        EXPECT_TRUE(log.contains(c.message)) << log.text();
        EXPECT_TRUE(log.contains("pi_csv_file_process: line " + std::to_string(c.line) +
                                 " in file " + path + " is invalid, rc 11"))
            << log.text();
        EXPECT_EQ(row_count(tree), 0u);
    }
}

TEST_F(LoaderTest, AllocationFailureAnywhereInALoadLeavesNothing) {
    write("one.csv", join(example()));
    V other = example();
    other[1] = "1.0,OPTICS,GENERIC,,,,,,";
    write("two.csv", join(other));
    unsigned long n = 1;
    for (;; ++n) {
        ASSERT_LT(n, 10000u) << "load never succeeded";
        LogCapture log;
        mem::fail_nth_allocation(n);
        const pltfm_status_t rc = database::pi_database_init(tree, dir.path().c_str());
        mem::fail_nth_allocation(0);
        if (rc == PLTFM_SUCCESS) break;
        ASSERT_EQ(rc, PLTFM_MEMORY) << "allocation " << n << "\n" << log.text();
        ASSERT_EQ(tree.serdes_db_p, nullptr) << n;
        ASSERT_TRUE(log.contains("malloc failed") || log.contains("strdup failed")) << log.text();
    }
    EXPECT_GT(n, 100u);  // the sweep went through the whole load
    EXPECT_EQ(row_count(tree), 12u);
}

}  // namespace
}  // namespace pltfm::test
