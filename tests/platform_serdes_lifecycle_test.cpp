// Library lifecycle entry points: platform name checks, the post-initialisation delay, and
// the tuning rescan driven poll by poll (trigger appearing, staying, reappearing; broken and
// fixed tuning files) against a real tuning directory under a fake PLTFM_ROOT.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "paths.h"
#include "platform_database.h"
#include "platform_hw.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

int count_of(const std::string &text, const std::string &needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

// A one-file tuning directory: DAC_1M cable, GENERIC vendor, front port 0 lanes 0 and 1 at
// 25G/100G NRZ, with TX_EQ_PRE1 of lane 0 set to `pre1`.
std::string tuning_file(int pre1) {
    return "VERSION,CABLE TYPE,VENDOR,,\n"
           "1.0,DAC_1M,GENERIC,,\n"
           ",,,SPEED,ENCODING\n"
           ",,,25G/100G,NRZ\n"
           "INDEX,FRONT PORT,LANE,TX_EQ_PRE1,TX_EQ_MAIN\n"
           "1,0,0," +
           std::to_string(pre1) +
           ",40\n"
           "2,0,1,-3,41\n";
}

// TX_EQ_PRE1 of lane 0 of that port as the database answers now, or an error text.
std::string lookup_pre1() {
    const pltfm_attr_t keys[7] = {{PLTFM_ATTR_VENDOR, "GENERIC"}, {PLTFM_ATTR_CABLE_TYPE, "DAC_1M"},
                                  {PLTFM_ATTR_SPEED, "25G/100G"}, {PLTFM_ATTR_ENCODING, "NRZ"},
                                  {PLTFM_ATTR_FRONT_PORT, "0"},   {PLTFM_ATTR_NUM_LANES, "2"},
                                  {PLTFM_ATTR_LANE, "0"}};
    pltfm_attr_t out[16];
    uint32_t count = 16;
    const pltfm_status_t rc = pltfm_parser_database_get(keys, 7, out, &count);
    if (rc != PLTFM_SUCCESS) return "rc=" + std::to_string(rc);
    for (uint32_t i = 0; i < count; ++i)
        if (out[i].key == PLTFM_ATTR_TX_EQ_PRE1) return out[i].value;
    return "missing";
}

class RescanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fake_.ok()) << fake_.error();
        fake_.activate();
        pltfm::test::write_file(fake_.tuning_dir() + "/dac.csv", tuning_file(-2));
        trigger_ = pltfm::paths::rescan_trigger();
        ASSERT_EQ(trigger_, fake_.tuning_dir() + "/csv_rescan");
    }
    void create_trigger() { pltfm::test::write_file(trigger_, ""); }
    void remove_trigger() { ASSERT_EQ(std::remove(trigger_.c_str()), 0); }

    pltfm::test::FakePlatform fake_;
    std::string trigger_;
    pltfm::serdes::RescanState state_;
};

}  // namespace

TEST(SerdesLifecycle, PlatformNameMustBeExact) {
    for (const char *wrong : {"switchsdk", "SwitchSDK ", "SwitchSDKx", "Switch", ""}) {
        SCOPED_TRACE(wrong);
        std::string name = wrong;
        pltfm::test::LogCapture log;
        EXPECT_EQ(pltfm_pre_init(name.data()), PLTFM_UNINIT);
        EXPECT_EQ(pltfm_init(name.data()), PLTFM_UNINIT);
        const auto start = Clock::now();
        EXPECT_EQ(pltfm_post_init(name.data()), PLTFM_UNINIT);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));  // no delay
        const std::string text = log.text();
        EXPECT_NE(text.find("pltfm_pre_init: PLTFM_SERDES_LIB_VERSION Ver_1.0\n"),
                  std::string::npos);
        EXPECT_NE(text.find("pltfm_pre_init: In pltfm_pre_init (platform=" + name + ")\n"),
                  std::string::npos);
        EXPECT_NE(text.find("pltfm_init: In pltfm_init (platform=" + name + ")\n"),
                  std::string::npos);
        EXPECT_NE(text.find("pltfm_post_init: In pltfm_post_init (platform=" + name + ")\n"),
                  std::string::npos);
        EXPECT_EQ(count_of(text, "\n"), 4) << text;  // nothing started, nothing else said
    }
    pltfm::test::LogCapture log;
    EXPECT_EQ(pltfm_pre_init(nullptr), PLTFM_UNINIT);
    EXPECT_EQ(pltfm_init(nullptr), PLTFM_UNINIT);
    EXPECT_EQ(pltfm_post_init(nullptr), PLTFM_UNINIT);
    EXPECT_EQ(count_of(log.text(), "Invalid input value.\n"), 3);
    EXPECT_EQ(count_of(log.text(), "transceiver"), 0);

    char ok[] = "SwitchSDK";
    EXPECT_EQ(pltfm_init(ok), PLTFM_SUCCESS);
}

TEST(SerdesLifecycle, PostInitBlocksForItsDelay) {
    pltfm::serdes::set_post_init_delay_for_test(std::chrono::milliseconds(300));
    char ok[] = "SwitchSDK";
    const auto start = Clock::now();
    EXPECT_EQ(pltfm_post_init(ok), PLTFM_SUCCESS);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(RescanTest, TriggerAppearingReloadsOncePerAppearance) {
    {
        pltfm::test::LogCapture log;
        pltfm::serdes::rescan_poll(state_);  // no trigger: nothing happens
        EXPECT_FALSE(state_.file_exists);
        EXPECT_EQ(log.text(), "");
    }
    EXPECT_EQ(lookup_pre1(), "rc=10");  // nothing loaded yet

    create_trigger();
    {
        pltfm::test::LogCapture log;
        pltfm::serdes::rescan_poll(state_);  // a rescan also loads an empty database
        EXPECT_TRUE(state_.file_exists);
        const std::string text = log.text();
        EXPECT_NE(text.find("pltfm_csv_rescan: Starting CSV rescan...\n"), std::string::npos)
            << text;
        EXPECT_NE(text.find("pltfm_csv_rescan: CSV rescan successful!\n"), std::string::npos)
            << text;
        EXPECT_LT(text.find("Starting CSV rescan"), text.find("CSV rescan successful!"));
    }
    EXPECT_EQ(lookup_pre1(), "-2");

    // Left in place: no further reload, even after the files changed.
    pltfm::test::write_file(fake_.tuning_dir() + "/dac.csv", tuning_file(-5));
    {
        pltfm::test::LogCapture log;
        for (int i = 0; i < 3; ++i) pltfm::serdes::rescan_poll(state_);
        EXPECT_EQ(log.text(), "");
    }
    EXPECT_EQ(lookup_pre1(), "-2");

    // Removed and created again: the next reload.
    remove_trigger();
    pltfm::serdes::rescan_poll(state_);
    EXPECT_FALSE(state_.file_exists);
    EXPECT_EQ(lookup_pre1(), "-2");
    create_trigger();
    {
        pltfm::test::LogCapture log;
        pltfm::serdes::rescan_poll(state_);
        EXPECT_EQ(count_of(log.text(), "CSV rescan successful!"), 1);
    }
    EXPECT_EQ(lookup_pre1(), "-5");
    EXPECT_EQ(pltfm_parser_database_deinit(), PLTFM_SUCCESS);
}

// A broken tuning directory keeps the old tuning in use; the next appearance of the trigger
// tries again and loads the mended files.
TEST_F(RescanTest, BrokenFilesKeepTheOldTuningUntilMended) {
    create_trigger();
    pltfm::serdes::rescan_poll(state_);
    ASSERT_EQ(lookup_pre1(), "-2");

    pltfm::test::write_file(fake_.tuning_dir() + "/broken.csv", "VERSION,CABLE TYPE\n");
    remove_trigger();
    pltfm::serdes::rescan_poll(state_);
    create_trigger();
    {
        pltfm::test::LogCapture log;
        pltfm::serdes::rescan_poll(state_);
        const std::string text = log.text();
        const auto start = text.find("pltfm_csv_rescan: Starting CSV rescan...\n");
        const auto failed = text.find("pltfm_csv_rescan: pltfm_parser_database_init failed rc=");
        const auto error = text.find("pltfm_csv_rescan: Error: CSV rescan failed\n");
        ASSERT_NE(start, std::string::npos) << text;
        ASSERT_NE(failed, std::string::npos) << text;
        ASSERT_NE(error, std::string::npos) << text;
        EXPECT_LT(start, failed);
        EXPECT_LT(failed, error);
        EXPECT_EQ(text.find("successful"), std::string::npos);
        EXPECT_EQ(text.find("deinit failed"), std::string::npos);
    }
    EXPECT_EQ(lookup_pre1(), "-2");  // the old tuning stays

    // The trigger left in place does not retry.
    {
        pltfm::test::LogCapture log;
        pltfm::serdes::rescan_poll(state_);
        EXPECT_EQ(log.text(), "");
    }

    // Mended files and a new appearance: loaded.
    ASSERT_EQ(std::remove((fake_.tuning_dir() + "/broken.csv").c_str()), 0);
    pltfm::test::write_file(fake_.tuning_dir() + "/dac.csv", tuning_file(-7));
    remove_trigger();
    pltfm::serdes::rescan_poll(state_);
    create_trigger();
    {
        pltfm::test::LogCapture log;
        pltfm::serdes::rescan_poll(state_);
        EXPECT_EQ(count_of(log.text(), "CSV rescan successful!"), 1) << log.text();
    }
    EXPECT_EQ(lookup_pre1(), "-7");
    EXPECT_EQ(pltfm_parser_database_deinit(), PLTFM_SUCCESS);
}

TEST_F(RescanTest, UnopenableTriggerCountsAsAbsent) {
    // A trigger entry that exists but cannot be opened for reading: a symbolic link to a
    // missing file (a mode of 0 would not do, since the tests may run as root).
    ASSERT_EQ(::symlink("/nonexistent/csv_rescan", trigger_.c_str()), 0);
    pltfm::test::LogCapture log;
    pltfm::serdes::rescan_poll(state_);
    EXPECT_FALSE(state_.file_exists);
    EXPECT_EQ(log.text(), "");
}
