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

// A one-file tuning directory whose port 1 lane 0 (25G/100G NRZ) carries `main`.
void write_dir(const TempDir &dir, const std::string &main) {
    write_file(dir / "tune.csv",
               "VERSION,CABLE TYPE,VENDOR,,\n1.0,DAC_1M,GENERIC,,\n,,,SPEED,ENCODING\n"
               ",,,25G/100G,NRZ\nINDEX,FRONT PORT,LANE,TX_EQ_MAIN,TX_EQ_PRE1\n1,1,0," +
                   main + ",-4\n");
}

// TX_EQ_MAIN of port 1 lane 0 through the facade, or the failed lookup's status.
std::string main_of_port1() {
    const Lookup r = lookup(nullptr, {});
    return r.rc == PLTFM_SUCCESS && r.count == 3 ? r.out[1].value : "rc " + std::to_string(r.rc);
}

TEST(Facade, ArgumentsAreCheckedBeforeTheDatabase) {
    pltfm_attr_t keys[7] = {}, out[1];  // keys the database itself would refuse
    uint32_t count = 1;
    LogCapture log;
    EXPECT_EQ(pltfm_parser_database_get(nullptr, 7, out, &count), PLTFM_PARAM);
    EXPECT_EQ(pltfm_parser_database_get(keys, 7, nullptr, &count), PLTFM_PARAM);
    EXPECT_EQ(pltfm_parser_database_get(keys, 0, out, &count), PLTFM_PARAM);
    EXPECT_EQ(pltfm_parser_database_get(keys, 7, out, nullptr), PLTFM_PARAM);
    EXPECT_EQ(pltfm_parser_database_init(nullptr), PLTFM_PARAM);
    EXPECT_EQ(database::reload(nullptr), PLTFM_PARAM);
    EXPECT_FALSE(log.contains("pi_database")) << log.text();
    EXPECT_TRUE(log.contains("pltfm_parser_database_get: null value for attribute pointers"));
    EXPECT_TRUE(log.contains("reload: null value for directory path"));
}

TEST(Facade, AFailedLoadLeavesNothingThenLoadsOnceAndTearsDown) {
    TempDir good, other;
    write_dir(good, "40");
    write_dir(other, "50");
    LogCapture log;
    EXPECT_EQ(pltfm_parser_database_init((good / "missing").c_str()), PLTFM_NOTFOUND);
    ASSERT_EQ(pltfm_parser_database_init(good.path().c_str()), PLTFM_SUCCESS);
    EXPECT_EQ(pltfm_parser_database_init(other.path().c_str()), PLTFM_EXIST);
    EXPECT_TRUE(log.contains("pi_database_init: SerDes database is already inited"));
    EXPECT_EQ(main_of_port1(), "40");
    EXPECT_EQ(pltfm_parser_database_deinit(), PLTFM_SUCCESS);
    EXPECT_EQ(main_of_port1(), "rc 10");
    EXPECT_EQ(pltfm_parser_database_deinit(), PLTFM_UNINIT);
    EXPECT_TRUE(log.contains("pi_database_deinit: SerDes database is already deinited"));
}

TEST(Reload, ReplacesOnSuccessAndKeepsTheLiveTreeOnFailure) {
    TempDir first, second, broken, headers_only;
    for (auto [d, main] : {std::pair{&first, "40"}, {&second, "50"}, {&broken, "60"}}) write_dir(*d, main);
    write_file(broken / "zz.csv", "not a tuning file\n");
    write_file(headers_only / "hh.csv", "VERSION,CABLE TYPE,VENDOR,,\n");
    ASSERT_EQ(database::reload(first.path().c_str()), PLTFM_SUCCESS);  // nothing was live
    EXPECT_EQ(main_of_port1(), "40");
    ASSERT_EQ(database::reload(second.path().c_str()), PLTFM_SUCCESS);
    EXPECT_EQ(main_of_port1(), "50");
    LogCapture log;
    EXPECT_EQ(database::reload(broken.path().c_str()), PLTFM_INVAL);
    EXPECT_TRUE(log.contains("pi_database_init: deinit due to error 11"));
    EXPECT_EQ(main_of_port1(), "50");
    // A directory of header lines only loads and leaves no rows: that replaces too.
    EXPECT_EQ(database::reload(headers_only.path().c_str()), PLTFM_SUCCESS);
    EXPECT_EQ(database::live_tree().serdes_db_p, nullptr);
}

TEST(Reload, LookupsDuringReloadsSeeOneWholeTree) {
    TempDir a, b, broken;
    for (auto [d, main] : {std::pair{&a, "40"}, {&b, "50"}, {&broken, "60"}}) write_dir(*d, main);
    write_file(broken / "xx.csv", "VERSION,CABLE TYPE,VENDOR,,\n1.0,OPTICS,GENERIC,,\n,,,speed\n");
    ASSERT_EQ(database::reload(a.path().c_str()), PLTFM_SUCCESS);

    std::atomic<bool> done{false};
    std::atomic<int> bad_answers{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {  // bounded, and going on at least until the reloads are over
            for (int i = 0; i < 200000 && (i < 200 || !done.load()); ++i) {
                const std::string v = main_of_port1();
                bad_answers += v != "40" && v != "50";
            }
        });
    int failed_reloads = 0;
    uint64_t changed_rows = 0;  // counted against the replaced tree while lookups go on
    LogCapture quiet;           // the broken directory's messages
    for (int i = 0; i < 60; ++i) {
        const TempDir &dir = i % 3 == 0 ? a : (i % 3 == 1 ? b : broken);
        database::RowChangeCounts counts;
        failed_reloads += database::reload(dir.path().c_str(), &counts) != PLTFM_SUCCESS;
        changed_rows += counts.changed;
    }
    done = true;
    for (auto &r : readers) r.join();
    EXPECT_EQ(failed_reloads, 20);
    EXPECT_EQ(changed_rows, 39u);  // every good reload but the first (a over a) changed the row
    EXPECT_EQ(bad_answers.load(), 0);
    EXPECT_EQ(main_of_port1(), "50");  // the last good reload was b
}

TEST(SampleDirectory, LoadsAndAnswersPortLookups) {
    ASSERT_EQ(pltfm_parser_database_init(PLTFM_EXAMPLES_DIR "/platform/CSV"), PLTFM_SUCCESS);
    // 3 cable types x 32 ports x 8 lanes x 3 groups, their port 32 files, RJ45, one vendor.
    EXPECT_EQ(row_count(database::live_tree()), 2304u + 18u + 2u + 64u);

    // All eight lanes of front-panel key 5 at 50G/400G PAM4: blocks of 15 in lane order.
    Lookup r = lookup(nullptr, {.cable = "OPTICS", .speed = "50G/400G", .encoding = "PAM4", .port = "5",
                                .num_lanes = "8"});
    ASSERT_EQ(r.count, 8u * 15u);
    for (uint32_t lane = 0; lane < 8; ++lane) {
        EXPECT_EQ(r.out[lane * 15].key, PLTFM_ATTR_LANE);
        EXPECT_EQ(r.out[lane * 15].value, std::to_string(lane));
        EXPECT_EQ(r.out[lane * 15 + 3].key, PLTFM_ATTR_TX_EQ_MAIN);
        EXPECT_EQ(r.out[lane * 15 + 3].value, std::to_string(40 + 8 + 5 + lane));
    }
    // The vendor's own rows (in any letter case) differ from GENERIC's.
    r = lookup(nullptr, {.vendor = "quilloptic", .cable = "OPTICS", .port = "2", .lane = "3"});
    EXPECT_EQ(r.out[3].value, std::to_string(40 + 4 + 8 + 2 + 3));
    EXPECT_STREQ(r.out[13].value, "TRUE");  // SD_RESET_25G of an optical module
}

}  // namespace
}  // namespace pltfm::test
