// The PLTFM_ROOT prefix of the fixed paths, and the log line format and its atomicity.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <thread>

#include "build_config.h"
#include "log.h"
#include "paths.h"
#include "test_util.h"

namespace pltfm::test {
namespace {

TEST(Paths, RootPrefixIsAppliedOnlyWhenSafeAndAbsolute) {
    const std::string tuning = PLTFM_SHARE_ROOT "/platform/CSV";
    struct Case { const char *root; std::string prefix; bool ignored_message; };
    const Case cases[] = {{"/tmp/fake-root", "/tmp/fake-root", false}, {"/tmp/fake-root//", "/tmp/fake-root", false},
                          {"/", "", false}, {"", "", false}, {"tmp/relative", "", true}, {"/tmp/x;rm -rf", "", true}};
    for (const Case &c : cases) {
        ::setenv("PLTFM_ROOT", c.root, 1);
        LogCapture log;
        paths::reload_for_test();
        EXPECT_EQ(paths::tuning_dir(), c.prefix + tuning) << c.root;
        EXPECT_EQ(paths::rescan_trigger(), c.prefix + tuning + "/csv_rescan") << c.root;
        EXPECT_EQ(paths::sysfs_devices(), c.prefix + PLTFM_SYSFS_ROOT) << c.root;
        EXPECT_EQ(log.contains("PLTFM_ROOT ignored"), c.ignored_message) << c.root << log.text();
    }
    ::unsetenv("PLTFM_ROOT");
}

// Returns the source line of its log call.
int named_reporter(int n) {
    const int line = __LINE__ + 1;
    PLTFM_LOG("value %d of %s", n, "x");
    return line;
}

TEST(Log, LineCarriesFileLineAndFunction) {
    LogCapture log;
    const int line = named_reporter(7);
    EXPECT_EQ(log.text(),
              "paths_log_test.cpp:" + std::to_string(line) + " named_reporter: value 7 of x\n");
}

TEST(Log, LinesOfConcurrentThreadsNeverInterleave) {
    const std::string payload(3000, 'p');
    LogCapture log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) PLTFM_LOG_AS("writer", "%d %s %d", t, payload.c_str(), i);
        });
    for (auto &th : threads) th.join();
    std::istringstream lines(log.text());
    int count = 0;
    for (std::string l; std::getline(lines, l); ++count) {
        int t = -1, i = -1;
        std::string p;
        std::istringstream(l.substr(l.find(" writer: ") + 9)) >> t >> p >> i;
        EXPECT_TRUE(t >= 0 && t < 4 && i >= 0 && i < 200 && p == payload) << l.substr(0, 80);
    }
    EXPECT_EQ(count, 800);
}

}  // namespace
}  // namespace pltfm::test
