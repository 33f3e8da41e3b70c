// Library lifecycle entry points (platform name checks, post-initialisation delay) and the
// tuning rescan driven poll by poll against a real tuning directory under a fake PLTFM_ROOT.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "fake_platform.h"
#include "paths.h"
#include "platform_database.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

int count_of(const std::string &text, const std::string &needle) {
    int n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// One tuning file: front port 0, lanes 0 and 1 at 25G/100G NRZ, TX_EQ_PRE1 of lane 0 `pre1`.
std::string tuning_file(int pre1) {
    return "VERSION,CABLE TYPE,VENDOR,,\n1.0,DAC_1M,GENERIC,,\n,,,SPEED,ENCODING\n"
           ",,,25G/100G,NRZ\nINDEX,FRONT PORT,LANE,TX_EQ_PRE1,TX_EQ_MAIN\n1,0,0," +
           std::to_string(pre1) + ",40\n2,0,1,-3,41\n";
}

// TX_EQ_PRE1 of lane 0 of that port as the database answers now, or the error code.
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
        write_tuning(-2);
        trigger_ = pltfm::paths::rescan_trigger();
        ASSERT_EQ(trigger_, fake_.tuning_dir() + "/csv_rescan");
    }
    void write_tuning(int pre1) const {
        pltfm::test::write_file(fake_.tuning_dir() + "/dac.csv", tuning_file(pre1));
    }
    // One poll with the trigger present or not; returns what it logged.
    std::string poll(bool trigger) {
        if (trigger)
            pltfm::test::write_file(trigger_, "");
        else
            std::remove(trigger_.c_str());
        pltfm::test::LogCapture log;
        pltfm::serdes::rescan_poll(state_);
        EXPECT_EQ(state_.file_exists, trigger);
        return log.text();
    }

    pltfm::test::FakePlatform fake_;
    std::string trigger_;
    pltfm::serdes::RescanState state_;
};

}  // namespace

TEST(SerdesLifecycle, PlatformNameMustBeExact) {
    for (std::string name : {"switchsdk", ""}) {
        SCOPED_TRACE(name);
        pltfm::test::LogCapture log;
        EXPECT_EQ(pltfm_pre_init(name.data()), PLTFM_UNINIT);
        EXPECT_EQ(pltfm_init(name.data()), PLTFM_UNINIT);
        const auto start = Clock::now();
        EXPECT_EQ(pltfm_post_init(name.data()), PLTFM_UNINIT);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));  // no delay
        // The version and entry messages only: nothing started.
        const std::string text = log.text();
        EXPECT_EQ(count_of(text, "\n"), 4) << text;
        EXPECT_TRUE(log.contains("pltfm_pre_init: PLTFM_SERDES_LIB_VERSION Ver_1.0\n"));
        for (const char *fn : {"pltfm_pre_init", "pltfm_init", "pltfm_post_init"})
            EXPECT_TRUE(
                log.contains(std::string(fn) + ": In " + fn + " (platform=" + name + ")\n"));
    }
    pltfm::test::LogCapture log;
    EXPECT_EQ(pltfm_pre_init(nullptr), PLTFM_UNINIT);
    EXPECT_EQ(pltfm_init(nullptr), PLTFM_UNINIT);
    EXPECT_EQ(pltfm_post_init(nullptr), PLTFM_UNINIT);
    EXPECT_EQ(count_of(log.text(), "Invalid input value.\n"), 3);

    char ok[] = "SwitchSDK";
    EXPECT_EQ(pltfm_init(ok), PLTFM_SUCCESS);
    pltfm::serdes::set_post_init_delay_for_test(std::chrono::milliseconds(200));
    const auto start = Clock::now();
    EXPECT_EQ(pltfm_post_init(ok), PLTFM_SUCCESS);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));
}

// The rescan's poll sequence: once per appearance of the trigger, an empty database loads,
// broken files keep the old tuning, and mended files load at the next appearance.
TEST_F(RescanTest, ReloadsOncePerAppearanceAndKeepsTuningWhenFilesBreak) {
    EXPECT_EQ(poll(false), "");
    EXPECT_EQ(lookup_pre1(), "rc=10");  // nothing loaded yet

    std::string text = poll(true);  // present at the first poll after being absent
    EXPECT_LT(text.find("pltfm_csv_rescan: Starting CSV rescan...\n"),
              text.find("pltfm_csv_rescan: CSV rescan successful!\n"));
    EXPECT_EQ(count_of(text, "CSV rescan successful!\n"), 1) << text;
    // One more line after it: what the reload changed against the (empty) tuning it replaced.
    const std::string changes = "pltfm_csv_rescan: CSV rescan changed tuning rows: ";
    EXPECT_LT(text.find("CSV rescan successful!\n"), text.find(changes + "2 added, 0 removed, 0 changed\n"))
        << text;
    EXPECT_EQ(lookup_pre1(), "-2");

    write_tuning(-5);  // left in place: no further reload, even after the files changed
    for (int i = 0; i < 3; ++i) EXPECT_EQ(poll(true), "");
    EXPECT_EQ(lookup_pre1(), "-2");
    EXPECT_EQ(poll(false), "");  // removed and created again: the next reload
    text = poll(true);
    EXPECT_EQ(count_of(text, "CSV rescan successful!\n"), 1);
    EXPECT_NE(text.find(changes + "0 added, 0 removed, 1 changed\n"), std::string::npos) << text;
    EXPECT_EQ(lookup_pre1(), "-5");

    pltfm::test::write_file(fake_.tuning_dir() + "/broken.csv", "VERSION,CABLE TYPE\n");
    poll(false);
    text = poll(true);
    const auto start = text.find("pltfm_csv_rescan: Starting CSV rescan...\n");
    const auto failed = text.find("pltfm_csv_rescan: pltfm_parser_database_init failed rc=");
    const auto error = text.find("pltfm_csv_rescan: Error: CSV rescan failed\n");
    EXPECT_TRUE(start < failed && failed < error && error != std::string::npos) << text;
    EXPECT_EQ(text.find("successful"), std::string::npos);
    EXPECT_EQ(text.find("changed tuning rows"), std::string::npos);
    EXPECT_EQ(lookup_pre1(), "-5");  // the old tuning stays
    EXPECT_EQ(poll(true), "");       // and the trigger left in place does not retry

    ASSERT_EQ(std::remove((fake_.tuning_dir() + "/broken.csv").c_str()), 0);
    write_tuning(-7);
    poll(false);
    EXPECT_EQ(count_of(poll(true), "CSV rescan successful!\n"), 1);
    EXPECT_EQ(lookup_pre1(), "-7");
    EXPECT_EQ(pltfm_parser_database_deinit(), PLTFM_SUCCESS);
}
