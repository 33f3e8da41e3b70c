// Loading tuning directories: the rows a file gives, the rules of each line and their
// stacked messages, which directory entries count, a directory changing between passes,
// and allocation failures anywhere in a load.
#include <gtest/gtest.h>
#include <unistd.h>

#include "alloc.h"
#include "db_test_util.h"
#include "pi_csvfile_internal.h"
#include "test_util.h"

namespace pltfm::test {
namespace {

using database::Tree;
using Lines = std::vector<std::string>;

// The worked example: 9 columns, groups 25G/100G NRZ (4-6) and 50G/400G PAM4 (7-9).
Lines example() {
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

std::string join(const Lines &lines) {
    std::string s;
    for (const auto &l : lines) s += l + "\n";
    return s;
}

struct Load {
    pltfm_status_t rc;
    std::string log;
};

class LoaderTest : public ::testing::Test {
  protected:
    ~LoaderTest() override { database::discard(tree); }

    void write(const std::string &name, const std::string &text) { write_file(dir / name, text); }
    // A full load as pi_database_init does it (failure discards the tree).
    Load load() {
        LogCapture log;
        const pltfm_status_t rc = database::pi_database_init(tree, dir.path().c_str());
        return {rc, log.text()};
    }
    // Only the loader: rows added before a failure stay in the tree.
    Load parse() {
        LogCapture log;
        const pltfm_status_t rc = csv::pi_csv_file_parse_all(tree, dir.path().c_str());
        return {rc, log.text()};
    }

    TempDir dir;
    Tree tree;
};

// Asserts that the messages appear in the log in this order.
void expect_in_order(const std::string &log, const Lines &messages) {
    std::size_t at = 0;
    for (const auto &m : messages) {
        const auto found = log.find(m, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << m << "\nlog:\n"
                                            << log;
        at = found + m.size();
    }
}

TEST_F(LoaderTest, WorkedExampleGivesOneRowPerGroupAndLine) {
    write("dac.csv", join(example()));
    ASSERT_EQ(load().rc, PLTFM_SUCCESS);
    EXPECT_EQ(row_count(tree), 6u);

    auto r = lookup(tree, {.num_lanes = "2"});
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(values_of(r.out, r.count),
              (std::vector<std::string>{"0", "-4", "40", "-8", "1", "-5", "41", "-9"}));
    EXPECT_EQ(r.out[1].key, PLTFM_ATTR_TX_EQ_PRE1);
    EXPECT_EQ(r.out[2].key, PLTFM_ATTR_TX_EQ_MAIN);
    EXPECT_EQ(r.out[3].key, PLTFM_ATTR_TX_EQ_POST1);

    r = lookup(tree, {.speed = "50G/400G", .encoding = "PAM4", .port = "2"});
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(values_of(r.out, r.count), (std::vector<std::string>{"0", "-4", "44", "-8"}));
}

TEST_F(LoaderTest, CellsAreNormalisedAndCutWhenStored) {
    Lines l = example();
    l[0] = "\xEF\xBB\xBF Version ,cable type,vendor,,,,,,";
    l[1] = "1.0, dac_1m ,Generic,,,,,,";
    l[4] =
        "index,front port,lane,tx_eq_pre1,TX_EQ_MAIN,tx_eq_post1,TX_EQ_PRE1,TX_EQ_MAIN,TX_EQ_POST1";
    l[5] = "1,1,0,-4,abcdefghijklmnopqrstuvwxyz0123,-8,-2,46,-6";
    std::string crlf;  // CR LF line ends read like LF
    for (const auto &line : l) crlf += line + "\r\n";
    write("dac.csv", crlf);
    ASSERT_EQ(load().rc, PLTFM_SUCCESS);
    const auto r = lookup(tree, {});
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_STREQ(r.out[2].value, "ABCDEFGHIJKLMNOPQRSTUVW");
}

TEST_F(LoaderTest, GroupsRunFromOneSpeedColumnToTheNext) {
    write("groups.csv",
          join({"VERSION,CABLE TYPE,VENDOR,,,,,,", "1,OPTICS,GENERIC,,,,,,",
                ",,,SPEED,ENCODING,,,SPEED,ENCODING", ",,,10G/40G,NRZ,,,50G/400G,PAM4",
                "INDEX,FRONT PORT,LANE,AN,FEC,LINK_TRAINING,TX_EQ_PRE3,RX_CTLE_BW,RX_CTLE_HF",
                "1,0,0,a,b,c,d,e,f"}));
    ASSERT_EQ(load().rc, PLTFM_SUCCESS);
    auto r = lookup(tree, {.cable = "OPTICS", .speed = "10G/40G", .port = "0"});
    EXPECT_EQ(values_of(r.out, r.count), (std::vector<std::string>{"0", "A", "B", "C", "D"}));
    r = lookup(tree, {.cable = "OPTICS", .speed = "50G/400G", .encoding = "PAM4", .port = "0"});
    EXPECT_EQ(values_of(r.out, r.count), (std::vector<std::string>{"0", "E", "F"}));
}

TEST_F(LoaderTest, FilesWithoutDataLinesLoadWithoutRows) {
    const Lines all = example();
    const std::string header = join(Lines(all.begin(), all.begin() + 5));
    write("a_headers.csv", header);
    write("b_empty.csv", "");
    write("c_line1.csv", "VERSION,CABLE TYPE,VENDOR,,\n");
    // CR alone never ends a line: this whole file is its first line.
    write("d_cr.csv", "VERSION,CABLE TYPE,VENDOR,,\r1,X,Y,,\r\r");
    write("e_crlf.csv", "VERSION,CABLE TYPE,VENDOR,,\r\n1,X,Y,,\r\n");
    write("f_no_final_lf.csv", header.substr(0, header.size() - 1));
    ASSERT_EQ(load().rc, PLTFM_SUCCESS);
    EXPECT_EQ(tree.serdes_db_p, nullptr);
}

// One broken rule per case: the failing file replaces line `line` of the example.
struct RuleCase {
    int line;  // 1-based line of the example to replace; 10 appends
    std::string text;
    pltfm_status_t rc;
    Lines messages;  // in order, "pi_database_init: deinit due to error" follows them
};

TEST_F(LoaderTest, BrokenLineRulesAreReportedWhereFound) {
    const std::string bad = "/bad.csv";
    const RuleCase cases[] = {
        // first pass
        {1,
         "VERSION,CABLE TYPE,VENDOR,",
         PLTFM_INVAL,
         {"pi_csv_line_1_check: line 1 is not in expected format",
          "pi_csv_file_check: line 1 in file " + dir.path() + bad + " is invalid, rc 11",
          "pi_csv_file_get_list: error found during initial check of file " + dir.path() + bad +
              ". rc 11"}},
        {1,
         "VERSIONS,CABLE TYPE,VENDOR,,,,,,",
         PLTFM_INVAL,
         {"pi_csv_line_1_check: line 1 is missing the value VERSION in column 1"}},
        {1, "V1,CABLE TYPE,VENDOR,,,,,,", PLTFM_INVAL, {"missing the value VERSION in column 1"}},
        {1,
         "MY VERSION,CABLE  TYPE,VENDOR,,,,,,",
         PLTFM_INVAL,
         {"pi_csv_line_1_check: line 1 is missing the value CABLE TYPE in column 2"}},
        {1,
         "VERSION,CABLE TYPE,VENDORS,,,,,,",
         PLTFM_INVAL,
         {"pi_csv_line_1_check: line 1 is missing the value VENDOR in column 3"}},
        {1,
         std::string(81, 'V') + ",CABLE TYPE,VENDOR,,,,,,",
         PLTFM_INVAL,
         {"provided length 81", "line 1 is not in expected format"}},
        {6,
         "1,1,0,-4,40,-8,-2,46",
         PLTFM_INVAL,
         {"pi_csv_line_n_check: in line 6, value count 8 is not the expected count 9",
          "pi_csv_file_check: line 6 in file"}},
        {10, "", PLTFM_INVAL, {"in line 10, value count 1 is not the expected count 9"}},
        // second pass
        {1,
         "VERSION,CABLE TYPE,VENDOR,X,,,,,",
         PLTFM_INVAL,
         {"pi_csv_line_1_process: line 1 is not in expected format. expected value count 9, "
          "actual value count 9, expected nonempty value count 3, actual nonempty value count 4, "
          "rc 0",
          "pi_csv_file_process: line 1 in file " + dir.path() + bad + " is invalid, rc 11"}},
        {2,
         "1.0,DAC_1M,,X,,,,,",
         PLTFM_INVAL,
         {"pi_csv_line_2_process: line 2 is missing value in column 3"}},
        {2,
         "1.0,DAC_1M,,,,,,,",
         PLTFM_INVAL,
         {"pi_csv_line_2_process: line 2 is not in expected format. expected value count 9, "
          "actual value count 9, expected nonempty value count 3, actual nonempty value count 2"}},
        {3,
         "x,,,SPEED,ENCODING,,SPEED,ENCODING,",
         PLTFM_INVAL,
         {"pi_csv_line_3_process: line 3 should not have values in columns 1 to 3"}},
        {3,
         ",,,ENCODING,SPEED,,SPEED,ENCODING,",
         PLTFM_INVAL,
         {"pi_csv_line_3_process: line 3 is missing the value SPEED in column 4"}},
        {3,
         ",,,SPEED,,ENCODING,SPEED,ENCODING,",
         PLTFM_INVAL,
         {"line 3 is missing the value ENCODING in column 5"}},
        {3,
         ",,,SPEED,ENCODING,,SPEED,,ENCODING",
         PLTFM_INVAL,
         {"line 3 is missing the value ENCODING in column 8"}},
        {3,
         ",,,SPEED,ENCODING,,ENCODING,,",
         PLTFM_INVAL,
         {"line 3 is missing the value SPEED in column 7"}},
        {3,
         ",,,SPEED,ENCODING,,,,SPEED",
         PLTFM_INVAL,
         {"line 3 is missing the value ENCODING in column 10"}},
        {4,
         ",,,25G/100G,,,50G/400G,PAM4,",
         PLTFM_INVAL,
         {"pi_csv_line_4_process: line 4 is missing value for ENCODING in column 5"}},
        {4,
         ",,x,25G/100G,NRZ,,50G/400G,,",
         PLTFM_INVAL,
         {"pi_csv_line_4_process: line 4 should not have value in column 3"}},
        {5,
         "INDEX,FRONT PORT,LANE,TX_EQ_PRE1,,TX_EQ_POST1,TX_EQ_PRE1,TX_EQ_MAIN,TX_EQ_POST1",
         PLTFM_INVAL,
         {"pi_csv_line_5_process: line 5 is not in expected format. expected value count 9, "
          "actual value count 9, expected nonempty value count 9, actual nonempty value count 8"}},
        {5,
         "IDX,FRONT PORT,LANE,TX_EQ_PRE1,TX_EQ_MAIN,TX_EQ_POST1,TX_EQ_PRE1,TX_EQ_MAIN,AN",
         PLTFM_INVAL,
         {"pi_csv_line_5_process: line 5 is missing the value INDEX in column 1"}},
        {5,
         "INDEX,FRONT  PORT,LANE,TX_EQ_PRE1,TX_EQ_MAIN,TX_EQ_POST1,TX_EQ_PRE1,TX_EQ_MAIN,AN",
         PLTFM_INVAL,
         {"pi_csv_line_5_process: line 5 is missing the value FRONT PORT in column 2"}},
        {5,
         "INDEX,FRONT PORT,LANES,TX_EQ_PRE1,TX_EQ_MAIN,TX_EQ_POST1,TX_EQ_PRE1,TX_EQ_MAIN,AN",
         PLTFM_INVAL,
         {"pi_csv_line_5_process: line 5 is missing the value LANE in column 3"}},
        {5,
         "INDEX,FRONT PORT,LANE,TX_EQ_PRE1,NUM_LANES,TX_EQ_POST1,TX_EQ_PRE1,TX_EQ_MAIN,AN",
         PLTFM_INVAL,
         {"pi_csv_line_5_process: line 5 has invalid value NUM_LANES in column 5"}},
        {5,
         "INDEX,FRONT PORT,LANE,TX_EQ_PRE1,TX_EQ_MAIN,TX_EQ_POST1,TX_EQ_PRE1,TX_EQ_MAIN,SPEED",
         PLTFM_INVAL,
         {"pi_csv_line_5_process: line 5 has invalid value SPEED in column 9"}},
        {7,
         "2,1,1,-5,41,,-3,47,-7",
         PLTFM_INVAL,
         {"pi_csv_line_n_process: line 7 is not in expected format. expected value count 9, "
          "actual value count 9, expected nonempty value count 0 or all, actual nonempty value "
          "count 8, rc 0"}},
        {7,
         "2,1,1,-5,41," + std::string(81, '9') + ",-3,47,-7",
         PLTFM_CONFIG,
         {"pi_csv_line_token_copy: length mismatch getting value. max length 80, provided length "
          "81",
          "pi_csv_line_parse: error processing value in line 7 column 6",
          "pi_csv_line_n_process: line 7 is not in expected format. expected value count 9, "
          "actual value count -1, expected nonempty value count 0 or all, actual nonempty value "
          "count 5, rc 3",
          "pi_csv_file_process: line 7 in file " + dir.path() + bad + " is invalid, rc 3"}},
        {9,
         "3,1,0,-6,38,-10,-4,44,-8",
         PLTFM_EXIST,
         {"pi_lane_serdes_attr_set: lane entry has existing SerDes attributes",
          "pi_database_add_row: deinit due to error 6",
          "pi_csv_line_n_process: line 9 database add failed for CABLE TYPE (DAC_1M) VENDOR "
          "(GENERIC) SPEED (25G/100G) ENCODING (NRZ) FRONT PORT (1) LANE (0)",
          "pi_csv_file_process: line 9 in file " + dir.path() + bad + " is invalid, rc 6"}},
    };
    for (const RuleCase &c : cases) {
        Lines lines = example();
        if (c.line == 10)
            lines.push_back(c.text);
        else
            lines[c.line - 1] = c.text;
        write("bad.csv", join(lines));
        const Load l = load();
        EXPECT_EQ(l.rc, c.rc) << c.text;
        Lines expected = c.messages;
        expected.push_back("pi_database_init: deinit due to error " + std::to_string(c.rc));
        expect_in_order(l.log, expected);
        EXPECT_EQ(tree.serdes_db_p, nullptr) << c.text;
    }
}

TEST_F(LoaderTest, HeaderLine1ShapesThatPass) {
    for (const std::string cell : {"version", " Version\t", "\xEF\xBB\xBFVERSION", "MY VERSION"}) {
        const std::string line = cell + ",cable type,Vendor,,\n";
        int32_t n = 0;
        LogCapture log;
        EXPECT_EQ(csv::pi_csv_line_1_check(line.c_str(), &n), PLTFM_SUCCESS) << cell << log.text();
        EXPECT_EQ(n, 5);
    }
}

TEST_F(LoaderTest, OnlyRegularFilesNamedLikeTuningFilesAreListed) {
    for (const char *name : {"ab.csv", "TUNING.Csv", "x.CSV.csv"}) write(name, "");
    for (const char *name : {"a.csv", "notes.txt", "csv_rescan", "sub.csv/inner.csv"})
        write(name, "");
    ASSERT_EQ(::symlink((dir / "ab.csv").c_str(), (dir / "link.csv").c_str()), 0);
    int32_t count = 0;
    EXPECT_EQ(csv::pi_csv_file_get_count(dir.path().c_str(), &count), PLTFM_SUCCESS);
    EXPECT_EQ(count, 3);
}

TEST_F(LoaderTest, DirectoryLevelFailures) {
    TempDir empty;
    write_file(empty / "notes.txt", "x");
    {
        LogCapture log;
        EXPECT_EQ(database::pi_database_init(tree, (dir / "missing").c_str()), PLTFM_NOTFOUND);
        EXPECT_TRUE(log.contains("pi_csv_file_get_count: cannot open directory " + dir.path() +
                                 "/missing for reading"));
    }
    {
        LogCapture log;
        EXPECT_EQ(database::pi_database_init(tree, empty.path().c_str()), PLTFM_NOTFOUND);
        EXPECT_TRUE(
            log.contains("pi_csv_file_parse_all: no csv file found in directory " + empty.path()));
    }
}

TEST_F(LoaderTest, ListingThatChangedSinceTheCount) {
    write("a.0.csv", join(example()));
    write("b.0.csv", join(example()));
    pi_csv_file_entry_t list[3] = {};
    {
        // One file more than counted: the first one listed is taken, the other named.
        LogCapture log;
        EXPECT_EQ(csv::pi_csv_file_get_list(dir.path().c_str(), 1, list), PLTFM_SUCCESS);
        EXPECT_TRUE(log.contains("unexpected new csv file ")) << log.text();
        ASSERT_NE(list[0].file_path_p, nullptr);
        EXPECT_EQ(std::string(list[0].file_path_p).rfind(dir.path() + "/", 0), 0u);
        EXPECT_EQ(list[0].column_count, 9);
        EXPECT_EQ(list[0].line_count, 9);
        mem::release(list[0].file_path_p);
        list[0] = {};
    }
    {
        LogCapture log;
        EXPECT_EQ(csv::pi_csv_file_get_list(dir.path().c_str(), 3, list), PLTFM_INVAL);
        EXPECT_TRUE(
            log.contains("pi_csv_file_get_list: some csv files are missing after "
                         "starting parsing. expected file count 3, actual file count 2"));
        for (auto &f : list) mem::release(f.file_path_p);
    }
}

TEST_F(LoaderTest, AReadErrorIsNotTakenForTheEndOfTheFile) {
    // A directory opens for reading but every read fails (EISDIR).
    int32_t n = 0;
    int32_t lines = 0;
    LogCapture log;
    EXPECT_EQ(csv::pi_csv_file_check(dir.path().c_str(), &n, &lines), PLTFM_NOTFOUND);
    EXPECT_EQ(csv::pi_csv_file_process(tree, dir.path().c_str(), 5), PLTFM_NOTFOUND);
    EXPECT_TRUE(log.contains("pi_csv_file_check: cannot read file " + dir.path()));
    EXPECT_TRUE(log.contains("pi_csv_file_process: cannot read file " + dir.path()));
}

TEST_F(LoaderTest, NoRowIsAddedBeforeEveryFileIsChecked) {
    write("good.csv", join(example()));
    Lines broken = example();
    broken[7] = ",,,";  // separator with too few cells: a first-pass failure
    write("broken.csv", join(broken));
    EXPECT_EQ(parse().rc, PLTFM_INVAL);
    EXPECT_EQ(tree.serdes_db_p, nullptr);
}

TEST_F(LoaderTest, SecondPassFailureComesAfterEarlierFilesWereAdded) {
    write("good.csv", join(example()));
    Lines bad = example();
    bad[1] = "1.0,OPTICS,GENERIC,,,,,,";
    bad[8] = "3,2,0,-6,38,-10,-4,44,";  // the "0 or all" rule
    write("bad.csv", join(bad));
    const std::string good_path = dir / "good.csv";
    const std::string bad_path = dir / "bad.csv";
    const pi_csv_file_entry_t list[] = {{const_cast<char *>(good_path.c_str()), 9, 9},
                                        {const_cast<char *>(bad_path.c_str()), 9, 9}};
    LogCapture log;
    EXPECT_EQ(csv::pi_csv_file_process_all(tree, 2, list), PLTFM_INVAL);
    EXPECT_EQ(row_count(tree), 6u + 4u);  // all of good.csv, lines 6 and 7 of bad.csv
}

TEST_F(LoaderTest, AllocationFailureAnywhereInALoadLeavesNothing) {
    write("one.csv", join(example()));
    Lines other = example();
    other[1] = "1.0,OPTICS,GENERIC,,,,,,";
    write("two.csv", join(other));
    unsigned long n = 1;
    for (;; ++n) {
        ASSERT_LT(n, 10000u) << "load never succeeded";
        Load l;
        {
            LogCapture log;
            mem::fail_nth_allocation(n);
            l.rc = database::pi_database_init(tree, dir.path().c_str());
            mem::fail_nth_allocation(0);
            l.log = log.text();
        }
        if (l.rc == PLTFM_SUCCESS) break;
        ASSERT_EQ(l.rc, PLTFM_MEMORY) << "allocation " << n << "\n" << l.log;
        ASSERT_EQ(tree.serdes_db_p, nullptr) << n;
        ASSERT_TRUE(l.log.find("malloc failed") != std::string::npos ||
                    l.log.find("strdup failed") != std::string::npos)
            << l.log;
    }
    EXPECT_GT(n, 100u);  // the sweep went through the whole load
    EXPECT_EQ(row_count(tree), 12u);
}

}  // namespace
}  // namespace pltfm::test
