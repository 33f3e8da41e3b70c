// The native Redis mode against the pipe: PLTFM_REDIS values, the command texts it accepts,
// every kind of reply read both ways from one real server and compared byte for byte, the
// port configuration rule against the real grep | awk pipeline, and the faults only a
// persistent connection has (server stopped and back, connection dropped, no answer).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "both_modes.h"
#include "platform_hw.h"
#include "platform_hw_redis_command.h"
#include "platform_hw_redis_transport.h"
#include "test_util.h"

using namespace pltfm::test;
using namespace std::string_literals;
namespace redis = pltfm::redis;

namespace {

// A read as a caller sees it: status, buffer bytes up to the terminator, comparable log.
std::string read_result(const std::string &cmd, int len) {
    std::vector<char> buf(static_cast<std::size_t>(len) + 1, 'X');
    LogCapture log;
    const pltfm_status_t rc = pltfm_redis_read(cmd.c_str(), buf.data(), len);
    return "rc=" + std::to_string(rc) + " [" + std::string(buf.data()) + "] " +
           modes::comparable_log(log.text());
}

std::string write_result(uint32_t db, const char *key, const char *field, const char *value) {
    LogCapture log;
    const pltfm_status_t rc = pltfm_redis_write(db, key, field, value);
    return "rc=" + std::to_string(rc) + " " + modes::comparable_log(log.text());
}

}  // namespace

TEST(NativeRedisEndpoint, AcceptsSocketsAndAddressesOnly) {
    struct Case {
        const char *value;
        bool ok;
    };
    const Case cases[] = {
        {"unix:/var/run/redis/redis-server.sock", true},
        {"tcp:127.0.0.1:6379", true},
        {"tcp:localhost:6379", true},
        {"tcp:[::1]:6379", true},
        {"tcp:10.0.0.1:65535", true},
        {"unix:relative.sock", false},
        {"unix:", false},
        {"unix:/tmp/a b.sock", false},
        {"unix:/tmp/$(reboot)", false},
        {"tcp:127.0.0.1", false},
        {"tcp:127.0.0.1:0", false},
        {"tcp:127.0.0.1:65536", false},
        {"tcp:127.0.0.1:63x", false},
        {"tcp:redis.example:6379", false},
        {"tcp:::1:6379", false},
        {"tcp:300.0.0.1:6379", false},
        {"redis://127.0.0.1:6379", false},
        {"/tmp/redis.sock", false},
    };
    for (const auto &c : cases) {
        std::string why;
        const auto e = redis::parse_endpoint(c.value, why);
        EXPECT_EQ(e.has_value(), c.ok) << c.value << " " << why;
        if (!c.ok) {
            EXPECT_FALSE(why.empty()) << c.value;
        }
    }
    std::string why;
    EXPECT_FALSE(redis::parse_endpoint("unix:/" + std::string(107, 'a'), why));
    const auto tcp = redis::parse_endpoint("tcp:[::1]:6380", why);
    ASSERT_TRUE(tcp);
    EXPECT_EQ(tcp->host, "::1");
    EXPECT_EQ(tcp->port, 6380);
}

TEST(NativeRedisCommand, ReadsTheLibraryTemplatesStrictly) {
    using K = redis::Command::Kind;
    const auto get =
        redis::parse_command("redis-cli -n 6 hget \"TRANSCEIVER_STATUS|Ethernet8\" \"status\"");
    ASSERT_TRUE(get);
    EXPECT_EQ(get->kind, K::hget);
    EXPECT_EQ(get->db, 6);
    EXPECT_EQ(get->key, "TRANSCEIVER_STATUS|Ethernet8");
    EXPECT_EQ(get->field, "status");
    const auto set =
        redis::parse_command("redis-cli -n 4 hset \"PORT|Ethernet0\" \"admin_status\" \"down\"");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->kind, K::hset);
    EXPECT_EQ(set->value, "down");
    const auto grep = redis::parse_command(
        "grep \"Ethernet012 \" /usr/share/nos/sku/port_config.ini | awk '{print $4}'");
    ASSERT_TRUE(grep);
    EXPECT_EQ(grep->kind, K::port_config);
    EXPECT_EQ(grep->pattern, "Ethernet012 ");  // as written: grep looks for the text
    EXPECT_EQ(grep->path, "/usr/share/nos/sku/port_config.ini");

    for (const char *refused :
         {"redis-cli -n 6 hget TRANSCEIVER_STATUS|Ethernet8 \"status\"",  // unquoted
          "redis-cli -n 6 hget \"a\" \"b\" \"c\"",                        // extra word
          "redis-cli -n 6 hget \"a\"  \"b\"",                             // spacing
          "redis-cli -n 6 hget \"$(reboot)\" \"b\"",                      // expansion
          "redis-cli -n 6 hget \"a\\\"\" \"b\"",                          // escape
          "redis-cli -n 6 hdel \"a\" \"b\"",                              // other command
          "redis-cli -n x hget \"a\" \"b\"",                              // database
          "redis-cli -n 99999999999 hget \"a\" \"b\"",                    // too big
          "redis-cli -n 6 hset \"a\" \"b\"",                              // no value
          "redis-cli -n 6 hget \"a\" \"b\"; reboot",                      // trailing
          "grep \"Ethernet1 \" relative.ini | awk '{print $4}'",          // path
          "grep \"Ethernet1 \" /a.ini | awk '{print $3}'",                // column
          "printf 'abc\\n'", ""}) {
        EXPECT_FALSE(redis::parse_command(refused)) << refused;
    }
}

// Every reply kind read through redis-cli and over the native connection from the same
// server: the same status, bytes and messages.
TEST(NativeRedisReplies, ReadAsThePipeReadsThem) {
    RedisServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    server.hset(4, "PORT|Ethernet0", "admin_status", "up");
    server.hset(6, "H", "empty", "");
    server.hset(6, "H", "two", "first\nsecond");
    server.hset(6, "H", "five", "abcde");
    server.hset(6, "H", "six", "abcdef");
    server.hset(6, "H", "long", std::string(40, 'L'));
    server.set(6, "S", "a string");
    struct Read {
        std::string cmd;
        int len;
    };
    const std::vector<Read> reads = {
        {"redis-cli -n 4 hget \"PORT|Ethernet0\" \"admin_status\"", 9},
        {"redis-cli -n 6 hget \"PORT|Ethernet0\" \"admin_status\"", 9},  // other database: nil
        {"redis-cli -n 6 hget \"H\" \"missing\"", 9},
        {"redis-cli -n 6 hget \"H\" \"empty\"", 9},
        {"redis-cli -n 6 hget \"H\" \"two\"", 31},
        {"redis-cli -n 6 hget \"H\" \"five\"", 7},
        {"redis-cli -n 6 hget \"H\" \"six\"", 7},  // the line feed does not fit
        {"redis-cli -n 6 hget \"H\" \"long\"", 31},
        {"redis-cli -n 6 hget \"S\" \"x\"", 63},       // WRONGTYPE error text
        {"redis-cli -n 6 hget \"H\" \"five\"", 1},     // room for the terminator only
        {"redis-cli -n 6 hset \"H\" \"n\" \"1\"", 9},  // integer reply
    };
    std::vector<std::string> piped, native;
    server.use_on_path();
    modes::select(modes::Mode::cli, server.socket_path());
    for (const auto &r : reads) piped.push_back(read_result(r.cmd, r.len));
    piped.push_back(write_result(4, "\"PORT|Ethernet0\"", "\"admin_status\"", "\"down\""));
    piped.push_back(write_result(4, "\"PORT|Ethernet0\"", "\"admin_status\"", "\"down\""));
    piped.push_back(write_result(6, "\"S\"", "\"f\"", "\"v\""));
    server.hset(4, "PORT|Ethernet0", "admin_status", "up");
    server.command(6, {"HDEL", "H", "n"});
    modes::select(modes::Mode::native, server.socket_path());
    for (const auto &r : reads) native.push_back(read_result(r.cmd, r.len));
    native.push_back(write_result(4, "\"PORT|Ethernet0\"", "\"admin_status\"", "\"down\""));
    native.push_back(write_result(4, "\"PORT|Ethernet0\"", "\"admin_status\"", "\"down\""));
    native.push_back(write_result(6, "\"S\"", "\"f\"", "\"v\""));
    ASSERT_EQ(piped.size(), native.size());
    for (std::size_t i = 0; i < piped.size(); ++i) EXPECT_EQ(piped[i], native[i]) << "case " << i;
    EXPECT_EQ(piped[0], "rc=0 [up] ");
    EXPECT_EQ(piped[6], "rc=0 [abcdef] ");
    EXPECT_EQ(server.hget(4, "PORT|Ethernet0", "admin_status"), "down");
    EXPECT_TRUE(piped[11].find("length:2 string:0\n.") != std::string::npos) << piped[11];
}

// The port configuration answered from the file as the real pipeline answers it.
TEST(NativePortConfig, SameAnswerAsGrepAndAwk) {
    TempDir dir;
    const std::string ini = dir / "port_config.ini";
    const std::vector<std::string> files = {
        "# name lanes alias speed\nEthernet0 0,1,2,3 etp1 100000\nEthernet1 4 etp1b 25000\n"
        "Ethernet10 5 etp2 40000\n",
        "Ethernet8\t8,9\t etp2  50000 index\r\nEthernet8 0 x 1\n",  // tabs, CR, first wins
        "lane Ethernet8 x 77 y\n",                                  // named in column 2
        "Ethernet8 8\nEthernet16 16 a fast\n",                      // short line, non-number
        "   Ethernet24 1 2 3\nEthernet24 9 9 9",                    // leading blanks, no LF
        "Ethernet0 0 e 1\v2 3\n",                                   // vertical tab is no blank
        "Ethernet0 0 e 100000\n\0tail\n"s,                          // NUL: grep says binary
        "Ethernet0 0 \xff 100000\n",                                // not UTF-8
        "Ethernet0 0 \xc3\xa9t 100000\nEthernet8 1 \xe2\x82 2\n",   // valid, truncated
        "Ethernet8 1 2 " + std::string(40, '9') + "\n",             // longer than the buffer
        "",
    };
    std::string why;
    const auto endpoint = redis::parse_endpoint("unix:/nonexistent/redis.sock", why);
    ASSERT_TRUE(endpoint);
    auto native = redis::make_native_transport(*endpoint);
    for (const char *locale : {"C.UTF-8", "C"}) {
        ::setenv("LC_ALL", locale, 1);
        for (std::size_t f = 0; f < files.size(); ++f) {
            write_file(ini, files[f]);
            for (const char *name :
                 {"Ethernet0", "Ethernet1", "Ethernet8", "Ethernet16", "Ethernet24", "Ethernet2"}) {
                const std::string cmd =
                    std::string("grep \"") + name + " \" " + ini + " | awk '{print $4}'";
                char a[32] = {}, b[32] = {};
                const auto pa = redis::pipe_transport().first_line(cmd.c_str(), a, 31);
                const auto pb = native->first_line(cmd.c_str(), b, 31);
                EXPECT_EQ(pa, pb) << locale << " file " << f << " " << name;
                EXPECT_STREQ(a, b) << locale << " file " << f << " " << name;
            }
        }
    }
    ::unsetenv("LC_ALL");
    char out[32] = {};
    const std::string missing = "grep \"Ethernet0 \" " + dir / "none.ini" + " | awk '{print $4}'";
    EXPECT_EQ(native->first_line(missing.c_str(), out, 31), redis::Outcome::no_output);
}

// PLTFM_REDIS values that are not used: one message, and Redis is reached through redis-cli.
TEST(NativeRedisFaults, InvalidSettingFallsBackToThePipe) {
    RedisServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    server.use_on_path();
    server.hset(0, "PORT_TABLE:Ethernet0", "speed", "400000");
    for (const char *value : {"unix:relative.sock", "tcp:host.example:1", "redis:/x"}) {
        ::setenv("PLTFM_REDIS", value, 1);
        LogCapture log;
        redis::reload_for_test();
        char buf[32] = {};
        EXPECT_EQ(
            pltfm_redis_read("redis-cli -n 0 hget \"PORT_TABLE:Ethernet0\" \"speed\"", buf, 31),
            PLTFM_SUCCESS);
        EXPECT_STREQ(buf, "400000");
        EXPECT_FALSE(redis::native());
        const std::string text = log.text();
        EXPECT_NE(text.find(std::string("PLTFM_REDIS ignored: \"") + value + "\""),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find('\n'), text.rfind('\n')) << "one message only: " << text;
    }
}

// Native mode never starts a process: a command that is not one of the library's is refused.
TEST(NativeRedisFaults, OtherCommandsAreRefused) {
    TempDir dir;
    modes::select(modes::Mode::native, dir / "redis.sock");
    const std::string marker = dir / "ran";
    const std::string cmd = "touch " + marker;
    LogCapture log;
    char buf[8] = {};
    EXPECT_EQ(pltfm_redis_read(cmd.c_str(), buf, 7), PLTFM_NOTFOUND);
    EXPECT_TRUE(log.contains("pltfm_redis_read: Failed to open " + cmd + "\n")) << log.text();
    EXPECT_NE(::access(marker.c_str(), F_OK), 0);
}

// Server stopped mid-run, started again, and a connection the server dropped: each access
// without an answer fails as the pipe's would, and the next one after the server is back
// succeeds over a new connection.
TEST(NativeRedisFaults, StoppedServerAndDroppedConnection) {
    RedisServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    modes::select(modes::Mode::native, server.socket_path());
    const char *cmd = "redis-cli -n 4 hget \"PORT|Ethernet0\" \"admin_status\"";
    server.hset(4, "PORT|Ethernet0", "admin_status", "up");
    EXPECT_EQ(read_result(cmd, 9), "rc=0 [up] ");

    server.stop();
    for (int i = 0; i < 2; ++i) {
        LogCapture log;
        char buf[10] = {};
        EXPECT_EQ(pltfm_redis_read(cmd, buf, 9), PLTFM_NOTFOUND);
        EXPECT_TRUE(log.contains(std::string("pltfm_redis_read: Failed to get ") + cmd + "\n"))
            << log.text();
        LogCapture write_log;
        EXPECT_EQ(pltfm_redis_write(4, "\"PORT|Ethernet0\"", "\"admin_status\"", "\"down\""),
                  PLTFM_NOTFOUND);
        EXPECT_TRUE(write_log.contains(
            "Failed to set redis-cli -n 4 hset \"PORT|Ethernet0\" \"admin_status\" \"down\"\n"));
    }
    server.start();
    ASSERT_TRUE(server.ok()) << server.error();
    server.hset(4, "PORT|Ethernet0", "admin_status", "down");
    {
        LogCapture log;
        char buf[10] = {};
        EXPECT_EQ(pltfm_redis_read(cmd, buf, 9), PLTFM_SUCCESS);
        EXPECT_STREQ(buf, "down");
        EXPECT_TRUE(log.contains("made again")) << log.text();
    }
    // The server drops every client but the one asking: the next access goes through.
    const RedisReply killed = server.command(0, {"CLIENT", "KILL", "TYPE", "normal"});
    EXPECT_EQ(killed.kind, RedisReply::Kind::integer);
    EXPECT_EQ(killed.integer, 1);
    EXPECT_EQ(read_result(cmd, 9), "rc=0 [down] ");
    EXPECT_EQ(write_result(4, "\"PORT|Ethernet0\"", "\"admin_status\"", "\"up\"").substr(0, 5),
              "rc=0 ");
    EXPECT_EQ(server.hget(4, "PORT|Ethernet0", "admin_status"), "up");
}

// Connections the server has accepted so far (INFO's own included).
static long connections_received(const RedisServer &server) {
    const std::string info = server.command(0, {"INFO", "stats"}).text;
    const std::string field = "total_connections_received:";
    const std::size_t at = info.find(field);
    return at == std::string::npos ? -1 : std::atol(info.c_str() + at + field.size());
}

// The connection is made once and kept for every later access. A process forked from the
// host does not use the host's: its first access connects anew, and the host's connection
// goes on serving the host.
TEST(NativeRedisConnection, KeptForEveryAccessAndNotSharedWithAForkedChild) {
    RedisServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    modes::select(modes::Mode::native, server.socket_path());
    server.hset(0, "PORT_TABLE:Ethernet0", "speed", "100000");
    const char *cmd = "redis-cli -n 0 hget \"PORT_TABLE:Ethernet0\" \"speed\"";
    LogCapture quiet;
    ASSERT_EQ(read_result(cmd, 31), "rc=0 [100000] ");
    long before = connections_received(server);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(read_result(cmd, 31), "rc=0 [100000] ");
    EXPECT_EQ(connections_received(server) - before, 1) << "accesses made connections of their own";

    before = connections_received(server);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(read_result(cmd, 31) == "rc=0 [100000] " ? 0 : 1);
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(connections_received(server) - before, 2) << "the child did not connect on its own";
    before = connections_received(server);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(read_result(cmd, 31), "rc=0 [100000] ");
    EXPECT_EQ(connections_received(server) - before, 1);
}

// A server that accepts connections and never answers: the first access gives up after about
// a second and fails as an empty pipe does, instead of holding the caller for ever; Redis then
// counts as stalled and the next access fails at once without waiting again.
TEST(NativeRedisFaults, ServerThatNeverAnswers) {
    TempDir dir;
    const std::string path = dir / "mute.sock";
    // Connections wait in the backlog, never accepted.
    const int fd = listen_on_unix_socket(path, 16);
    ASSERT_GE(fd, 0);
    modes::select(modes::Mode::native, path);
    const char *cmd = "redis-cli -n 6 hget \"TRANSCEIVER_STATUS|Ethernet0\" \"status\"";
    for (int i = 0; i < 2; ++i) {
        LogCapture log;
        char buf[8] = {};
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(pltfm_redis_read(cmd, buf, 7), PLTFM_NOTFOUND);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(log.contains(std::string("Failed to get ") + cmd + "\n")) << log.text();
        if (i == 0) {
            EXPECT_LT(took, std::chrono::seconds(5));
            EXPECT_TRUE(log.contains("no answer within 1 s")) << log.text();
            EXPECT_TRUE(log.contains("Redis does not answer")) << log.text();
        } else {
            EXPECT_LT(took, std::chrono::milliseconds(500));
            EXPECT_FALSE(log.contains("no answer within")) << log.text();
        }
    }
    ::close(fd);
}

// The SDK's thread and the insertion thread share the connection: every answer is the right
// one (the ThreadSanitizer build watches the sharing).
TEST(NativeRedisFaults, TwoThreadsShareTheConnection) {
    RedisServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    for (int p = 0; p < 8; ++p)
        server.hset(0, "PORT_TABLE:Ethernet" + std::to_string(p), "speed", std::to_string(p));
    modes::select(modes::Mode::native, server.socket_path());
    auto reader = [](int first, int &wrong) {
        for (int i = 0; i < 200; ++i) {
            const int p = (first + i) % 8;
            const std::string cmd =
                "redis-cli -n 0 hget \"PORT_TABLE:Ethernet" + std::to_string(p) + "\" \"speed\"";
            char buf[32] = {};
            if (pltfm_redis_read(cmd.c_str(), buf, 31) != PLTFM_SUCCESS || std::to_string(p) != buf)
                ++wrong;
        }
    };
    int wrong_a = 0, wrong_b = 0;
    LogCapture quiet;
    std::thread a(reader, 0, std::ref(wrong_a));
    std::thread b(reader, 3, std::ref(wrong_b));
    a.join();
    b.join();
    EXPECT_EQ(wrong_a + wrong_b, 0);
}
