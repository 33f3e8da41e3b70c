// The database facade and the reload: argument checks, load-once, discarding a failed
// load, swapping in a tree loaded aside while lookups run, and the sample tuning directory.
#include "platform_database.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "database_reload.h"
#include "db_test_util.h"
#include "test_util.h"

namespace pltfm::test {
namespace {

using V = std::vector<std::string>;

const std::string kSampleDir = PLTFM_EXAMPLES_DIR "/platform/CSV";

// A one-file tuning directory whose port 1 lane 0 (25G/100G NRZ) carries `main`.
void write_dir(const TempDir &dir, const std::string &main, const std::string &file = "tune.csv") {
    write_file(dir / file,
               "VERSION,CABLE TYPE,VENDOR,,\n"
               "1.0,DAC_1M,GENERIC,,\n"
               ",,,SPEED,ENCODING\n"
               ",,,25G/100G,NRZ\n"
               "INDEX,FRONT PORT,LANE,TX_EQ_MAIN,TX_EQ_PRE1\n"
               "1,1,0," +
                   main + ",-4\n");
}

V main_of_port1() {
    const Lookup r = facade_lookup({});
    return r.rc == PLTFM_SUCCESS ? values_of(r.out, r.count) : V{"rc " + std::to_string(r.rc)};
}

TEST(Facade, ArgumentsAreCheckedBeforeTheDatabase) {
    pltfm_attr_t keys[7] = {};
    pltfm_attr_t out[1];
    uint32_t count = 1;
    struct Case {
        const pltfm_attr_t *in;
        uint32_t in_count;
        pltfm_attr_t *out;
        uint32_t *count;
        const char *message;
    };
    const Case cases[] = {
        {nullptr, 7, out, &count, "pltfm_parser_database_get: null value for attribute pointers"},
        {keys, 7, nullptr, &count, "null value for attribute pointers"},
        {nullptr, 0, out, &count, "null value for attribute pointers"},
        {keys, 0, out, &count, "pltfm_parser_database_get: zero length for null attribute arrays"},
        {keys, 7, out, nullptr, "zero length for null attribute arrays"},
    };
    for (const Case &c : cases) {
        LogCapture log;
        EXPECT_EQ(pltfm_parser_database_get(c.in, c.in_count, c.out, c.count), PLTFM_PARAM);
        EXPECT_TRUE(log.contains(c.message)) << log.text();
        EXPECT_FALSE(log.contains("pi_database_get")) << log.text();
    }
    LogCapture log;
    EXPECT_EQ(pltfm_parser_database_init(nullptr), PLTFM_PARAM);
    EXPECT_TRUE(log.contains("pltfm_parser_database_init: null value for directory path"));
}

TEST(Facade, LoadsOnceAndTearsDown) {
    TempDir dir;
    write_dir(dir, "40");
    ASSERT_EQ(pltfm_parser_database_init(dir.path().c_str()), PLTFM_SUCCESS);
    {
        TempDir other;
        write_dir(other, "50");
        LogCapture log;
        EXPECT_EQ(pltfm_parser_database_init(other.path().c_str()), PLTFM_EXIST);
        EXPECT_TRUE(log.contains("pi_database_init: SerDes database is already inited"));
    }
    EXPECT_EQ(main_of_port1(), (V{"0", "40", "-4"}));
    EXPECT_EQ(pltfm_parser_database_deinit(), PLTFM_SUCCESS);
    EXPECT_EQ(main_of_port1(), (V{"rc 10"}));
    LogCapture log;
    EXPECT_EQ(pltfm_parser_database_deinit(), PLTFM_UNINIT);
    EXPECT_TRUE(log.contains("SerDes database is already deinited"));
}

TEST(Facade, OneBadFileDiscardsTheWholeLoad) {
    TempDir dir;
    write_dir(dir, "40", "aa.csv");
    write_dir(dir, "40", "bb.csv");  // the same port and lane again: refused by the database
    LogCapture log;
    EXPECT_EQ(pltfm_parser_database_init(dir.path().c_str()), PLTFM_EXIST);
    EXPECT_TRUE(log.contains("pi_database_init: deinit due to error 6"));
    EXPECT_TRUE(log.contains("pi_database_deinit: SerDes database is already deinited"));
    EXPECT_EQ(database::live_tree().serdes_db_p, nullptr);
}

TEST(Reload, ReplacesOnSuccessAndKeepsTheLiveTreeOnFailure) {
    TempDir first, second, broken, headers_only;
    write_dir(first, "40");
    write_dir(second, "50");
    write_dir(broken, "60");
    write_file(broken / "zz.csv", "not a tuning file\n");
    write_file(headers_only / "hh.csv", "VERSION,CABLE TYPE,VENDOR,,\n");

    ASSERT_EQ(database::reload(first.path().c_str()), PLTFM_SUCCESS);  // nothing was live
    EXPECT_EQ(main_of_port1(), (V{"0", "40", "-4"}));
    ASSERT_EQ(database::reload(second.path().c_str()), PLTFM_SUCCESS);
    EXPECT_EQ(main_of_port1(), (V{"0", "50", "-4"}));
    {
        LogCapture log;
        EXPECT_EQ(database::reload(broken.path().c_str()), PLTFM_INVAL);
        EXPECT_TRUE(log.contains("pi_csv_line_1_check: line 1 is not in expected format"));
        EXPECT_TRUE(log.contains("pi_database_init: deinit due to error 11"));
        EXPECT_EQ(main_of_port1(), (V{"0", "50", "-4"}));
    }
    {
        LogCapture log;
        EXPECT_EQ(database::reload((first / "missing").c_str()), PLTFM_NOTFOUND);
        EXPECT_EQ(main_of_port1(), (V{"0", "50", "-4"}));
    }
    // A directory of header lines only loads and leaves no rows: that replaces too.
    EXPECT_EQ(database::reload(headers_only.path().c_str()), PLTFM_SUCCESS);
    EXPECT_EQ(database::live_tree().serdes_db_p, nullptr);
}

TEST(Reload, LookupsDuringReloadsSeeOneWholeTree) {
    TempDir a, b, broken;
    write_dir(a, "40");
    write_dir(b, "50");
    write_dir(broken, "60");
    write_file(broken / "xx.csv", "VERSION,CABLE TYPE,VENDOR,,\n1.0,OPTICS,GENERIC,,\n,,,speed\n");
    ASSERT_EQ(database::reload(a.path().c_str()), PLTFM_SUCCESS);

    std::atomic<bool> done{false};
    std::atomic<int> bad_answers{0};
    std::atomic<long> lookups{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            // Bounded, and each reader keeps going at least until the reloads are over.
            for (int i = 0; i < 200000 && (i < 200 || !done.load()); ++i) {
                const V v = main_of_port1();
                if (v != V{"0", "40", "-4"} && v != V{"0", "50", "-4"}) ++bad_answers;
                ++lookups;
            }
        });
    }
    int failed_reloads = 0;
    {
        LogCapture quiet;  // the broken directory's messages
        for (int i = 0; i < 60; ++i) {
            const TempDir &dir = i % 3 == 0 ? a : (i % 3 == 1 ? b : broken);
            if (database::reload(dir.path().c_str()) != PLTFM_SUCCESS) ++failed_reloads;
        }
        done = true;
        for (auto &r : readers) r.join();
    }
    EXPECT_EQ(failed_reloads, 20);
    EXPECT_EQ(bad_answers.load(), 0);
    EXPECT_GE(lookups.load(), 600);
    EXPECT_EQ(main_of_port1(), (V{"0", "50", "-4"}));  // last good reload was b
}

TEST(SampleDirectory, LoadsAndAnswersPortLookups) {
    ASSERT_EQ(pltfm_parser_database_init(kSampleDir.c_str()), PLTFM_SUCCESS);
    // 3 cable types x 32 ports x 8 lanes x 3 groups, their port 32 files, RJ45, one vendor.
    EXPECT_EQ(row_count(database::live_tree()), 2304u + 18u + 2u + 64u);

    // All eight lanes of front-panel key 5 at 50G/400G PAM4: blocks of 15 in lane order.
    Lookup r = facade_lookup({.cable = "OPTICS",
                              .speed = "50G/400G",
                              .encoding = "PAM4",
                              .port = "5",
                              .num_lanes = "8"});
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    ASSERT_EQ(r.count, 8u * 15u);
    for (uint32_t lane = 0; lane < 8; ++lane) {
        const pltfm_attr_t *block = &r.out[lane * 15];
        EXPECT_EQ(block[0].key, PLTFM_ATTR_LANE);
        EXPECT_EQ(std::string(block[0].value), std::to_string(lane));
        EXPECT_EQ(block[3].key, PLTFM_ATTR_TX_EQ_MAIN);
        EXPECT_EQ(std::string(block[3].value), std::to_string(40 + 8 + 5 + lane));
    }

    // The shared group of the extra cages: lane 1 of key 32 with an RJ45 module.
    r = facade_lookup({.cable = "RJ45", .speed = "10G/40G", .port = "32", .lane = "1"});
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_EQ(r.count, 14u);
    EXPECT_STREQ(r.out[0].value, "1");
    EXPECT_STREQ(r.out[3].value, std::to_string(40 + 6 + 0 + 1).c_str());

    // Vendor match, in any letter case, and the GENERIC fallback for another vendor.
    r = facade_lookup({.vendor = "quilloptic", .cable = "OPTICS", .port = "2", .lane = "3"});
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_STREQ(r.out[3].value, std::to_string(40 + 4 + 8 + 2 + 3).c_str());
    EXPECT_STREQ(r.out[13].value, "TRUE");  // SD_RESET_25G of an optical module
    LogCapture log;
    r = facade_lookup({.vendor = "OTHER", .cable = "OPTICS", .port = "2", .lane = "3"});
    ASSERT_EQ(r.rc, PLTFM_SUCCESS);
    EXPECT_STREQ(r.out[3].value, std::to_string(40 + 4 + 0 + 2 + 3).c_str());
    EXPECT_TRUE(log.contains("using vendor name GENERIC instead"));
}

}  // namespace
}  // namespace pltfm::test
