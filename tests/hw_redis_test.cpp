// Redis access against a real server: read and write primitives, the administrative toggle,
// module classification from the state database, default speeds, and refusal of interface
// names that could reach a shell. Run in both Redis modes; the first case is the pipe's own.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>

#include "both_modes.h"
#include "hw_test_util.h"
#include "platform_hw_internal.h"
#include "test_util.h"

using namespace pltfm::test;

TEST(RedisRead, FirstLineTruncatedFailureAndNoLeftovers) {
    if (modes::mode() == modes::Mode::native)
        GTEST_SKIP() << "shell commands: the pipe transport only";
    char buf[32] = "x", small[8] = {};
    EXPECT_EQ(pltfm_redis_read("printf 'abc\\ndef\\n'", buf, 31), PLTFM_SUCCESS);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(pltfm_redis_read("echo 0123456789", small, 7), PLTFM_SUCCESS);
    EXPECT_STREQ(small, "012345");
    {
        LogCapture log;
        EXPECT_EQ(pltfm_redis_read("true", buf, 31), PLTFM_NOTFOUND);
        EXPECT_TRUE(log.contains("pltfm_redis_read: Failed to get true\n")) << log.text();
    }
    // Pipes are closed and children reaped, on success (output left unread) and on failure.
    const auto fds = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const auto before = fds();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(pltfm_redis_read("seq 1 100000", buf, 8), PLTFM_SUCCESS);
        ASSERT_EQ(pltfm_redis_read("true", buf, 8), PLTFM_NOTFOUND);
    }
    EXPECT_EQ(fds(), before);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no child left to reap
}

TEST(RedisWrite, SetsFieldsTogglesAdminStatusAndReportsRefusedWrites) {
    HwEnv env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    EXPECT_EQ(pltfm_redis_write(4, "\"PORT|Ethernet0\"", "\"admin_status\"", "\"down\""),
              PLTFM_SUCCESS);
    EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet0", "admin_status"), "down");
    // The key holds a string: redis-cli prints "WRONGTYPE ..." (no "(error)" when piped).
    ASSERT_TRUE(env.redis.set(4, "PORT|Ethernet8", "plain"));
    {
        LogCapture log;
        EXPECT_EQ(pltfm_redis_write(4, "\"PORT|Ethernet8\"", "\"admin_status\"", "\"up\""),
                  PLTFM_NOTFOUND);
        EXPECT_TRUE(log.contains(
            "Failed to set redis-cli -n 4 hset \"PORT|Ethernet8\" \"admin_status\" \"up\"\n"))
            << log.text();
    }
    // Each action moves the port only out of the opposite status; an unknown status stays.
    port_ar[9] = make_port("Ethernet8", 31);
    const struct {
        pltfm_act_t action;
        const char *from, *to;
    } moves[] = {{PLTFM_ACT_ADMIN_DOWN, "up", "down"},
                 {PLTFM_ACT_ADMIN_DOWN, "down", "down"},
                 {PLTFM_ACT_ADMIN_UP, "down", "up"},
                 {PLTFM_ACT_ADMIN_UP, "up", "up"},
                 {PLTFM_ACT_ADMIN_DOWN, "testing", "testing"},
                 {PLTFM_ACT_ADMIN_UP, "testing", "testing"},
                 {PLTFM_ACT_INVALID, "up", "up"}};
    for (const auto &m : moves) {
        ASSERT_TRUE(env.redis.del(4, "PORT|Ethernet8") &&
                    env.redis.hset(4, "PORT|Ethernet8", "admin_status", m.from));
        pltfm_transceiver_hw_oir_action(9, m.action);
        EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet8", "admin_status"), m.to)
            << m.action << " " << m.from;
    }
    ASSERT_TRUE(env.redis.del(4, "PORT|Ethernet8"));
    pltfm_transceiver_hw_oir_action(9, PLTFM_ACT_ADMIN_UP);  // no status: no key is made
    EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet8", "admin_status"), std::nullopt);
    // A read-only replica answers the write with an error reply: the toggle reports it.
    ASSERT_TRUE(env.redis.hset(4, "PORT|Ethernet8", "admin_status", "up"));
    ASSERT_EQ(env.redis.command(0, {"REPLICAOF", "127.0.0.1", "1"}).kind, RedisReply::Kind::status);
    {
        LogCapture log;
        pltfm_transceiver_hw_oir_action(9, PLTFM_ACT_ADMIN_DOWN);
        EXPECT_TRUE(log.contains("pltfm_transceiver_hw_oir_action: Port 8 admin down failed\n"))
            << log.text();
    }
    EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet8", "admin_status"), "up");
}

// A write's command line is formatted into 128 characters: one of 127 runs, a longer one is
// never run (cut, it could end inside a quoted word), in either mode.
TEST(RedisWrite, CommandLinesLongerThanTheirBufferAreNeverRun) {
    HwEnv env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    const std::string key = "\"PORT|Ethernet0\"", field = "\"admin_status\"";
    const std::string head = "redis-cli -n 4 hset " + key + " " + field + " ";
    for (const std::size_t length : {std::size_t{127}, std::size_t{128}, std::size_t{140}}) {
        SCOPED_TRACE(length);
        const std::string text(length - head.size() - 2, 'x');
        ASSERT_TRUE(env.redis.hset(4, "PORT|Ethernet0", "admin_status", "up"));
        LogCapture log;
        const pltfm_status_t rc =
            pltfm_redis_write(4, key.c_str(), field.c_str(), ("\"" + text + "\"").c_str());
        if (length < 128) {
            EXPECT_EQ(rc, PLTFM_SUCCESS) << log.text();
            EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet0", "admin_status"), text);
        } else {
            EXPECT_EQ(rc, PLTFM_NOTFOUND);
            const std::string cut = (head + "\"" + text).substr(0, 127);
            EXPECT_TRUE(log.contains("pltfm_redis_write: Failed to open " + cut + "\n"))
                << log.text();
            EXPECT_EQ(env.redis.hget(4, "PORT|Ethernet0", "admin_status"), "up");
        }
    }
}

TEST(RedisInfo, ClassifiesModuleRecords) {
    HwEnv env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    const std::string dd = "QSFP-DD Double Density 8X Pluggable Transceiver";
    const struct {
        std::string type, length, compliance, connector;
        const char *cable;
        std::string line;
    } cases[] = {
        {dd, "1", "passive_copper_media_interface", "", "DAC_1M", dd + " DAC cabletype 1M"},
        {dd, "2", "sm_media_interface", "RJ45", "OPTICS", dd + " Optics"},
        {"QSFP28", "3", "{'10/40G': 'Extended'} Fibre", "RJ45", "OPTICS", "QSFP28 Optics"},
        {"QSFP28", "3", "fibre", "Copper pigtail", "DAC_3M", "QSFP28 DAC cabletype 3M"},
        {"SFP", "0", "1000BASE-T", "RJ45", "RJ45", "SFP RJ45"},
        {"QSFP28", "1m", "100GBASE-CR4", "Copper pigtail", "DAC_1M", "QSFP28 DAC cabletype 1M"},
    };
    for (const auto &c : cases) {
        env.record("Ethernet0", c.type, c.compliance, c.connector, c.length);
        char cable[24] = {};
        LogCapture log;
        ASSERT_EQ(pltfm_transceiver_info_get_from_redis(make_port("Ethernet0", 30), cable),
                  PLTFM_SUCCESS)
            << c.type;
        EXPECT_STREQ(cable, c.cable) << c.type << "/" << c.compliance;
        EXPECT_TRUE(log.contains("pltfm_transceiver_info_get_from_redis: " + c.line + "\n"))
            << log.text();
    }
    // Absent module: not found, buffer untouched.
    char cable[24] = "keep";
    for (const char *status : {"0", ""}) {
        env.redis.hset(6, "TRANSCEIVER_STATUS|Ethernet0", "status", status);
        EXPECT_EQ(pltfm_transceiver_info_get_from_redis(make_port("Ethernet0", 30), cable),
                  PLTFM_NOTFOUND)
            << status;
    }
    EXPECT_STREQ(cable, "keep");
}

TEST(HostileNames, NeverReachAShell) {
    HwEnv env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    TempDir tmp;
    const std::string marker = tmp / "pwned";
    const std::string names[] = {
        "E\";touch " + marker + ";\"",  // too long as well
        "$(touch x)",
        "`touch x`",
        "Eth\nrm",
        "Eth0 x",
        "Eth'0",
        "Ethernet0123456789012345",  // 24 characters, no room for a terminator
    };
    ASSERT_EQ(::chdir(tmp.path().c_str()), 0);
    for (const auto &n : names) {
        pltfm_port_t port = make_port("", 30);  // the name may fill the field
        std::memcpy(port.intf_name, n.c_str(), std::min(n.size(), sizeof port.intf_name));
        char cable[24] = {};
        pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
        key_list(list);
        LogCapture log;
        EXPECT_EQ(pltfm_transceiver_info_get_from_redis(port, cable), PLTFM_INVAL) << n;
        EXPECT_EQ(pltfm_transceiver_info_get(port, list, 7, 1), PLTFM_INVAL) << n;
        EXPECT_EQ(pltfm_transceiver_configure(port, PLTFM_PORT_PRE_INIT), PLTFM_INVAL) << n;
        port_ar[1] = port;  // as if it had been stored: toggle and monitor refuse it too
        pltfm_transceiver_hw_oir_action(1, PLTFM_ACT_ADMIN_DOWN);
        pltfm::hw::oir_monitor_pass();
        EXPECT_TRUE(log.contains("Invalid interface name.")) << n;
        EXPECT_FALSE(log.contains("redis-cli")) << log.text();
    }
    EXPECT_NE(::access(marker.c_str(), F_OK), 0);
    EXPECT_NE(::access((tmp / "x").c_str(), F_OK), 0);
}
