// The library in a daemon: a host process whose standard input, output and error are closed
// before it loads libpltfm.so. Left closed, they would be the first descriptors the library's
// own files, pipes and connection get, and its log, written to descriptor 2, could land in
// one of them; the library opens the closed ones on /dev/null when it is loaded. Across
// start-up, bring-up, a tuning rescan and port-down no descriptor may leak, and nothing may be
// written where the steps do not write: the EEPROM files, the tuning files, the port
// configuration and Redis stay exactly as the steps leave them. With all three closed, once
// with redis-cli and once over the native connection; and over the native connection with
// only standard error closed, where the connection itself would be descriptor 2.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "pi_database_internal.h"
#include "platform_hw_internal.h"
#include "redis_server.h"
#include "test_util.h"

namespace {

using namespace pltfm::test;
namespace fs = std::filesystem;

struct HostPort {
    int32_t sg, sl, nl, speed;
    uint32_t slot() const { return *pltfm::hw::port_slot(sg - 1, sl); }
    std::string name() const { return "Ethernet" + std::to_string(slot() - 1); }
    std::string port_line() const {
        return name() + "," + std::to_string(sg) + "," + std::to_string(sl) + "," +
               std::to_string(nl) + "," + std::to_string(speed) + "," +
               std::to_string(pltfm::hw::front_port_key(sg - 1));
    }
};
// A 400G QSFP-DD optic (CMIS: read only) and a 100G QSFP28 optic (its TX disable register is
// written at bring-up and at port-down).
const HostPort kCmis{1, 0, 8, 400000}, kQsfp28{2, 0, 4, 100000};

std::vector<std::string> cells(const std::string &line) {
    std::vector<std::string> out;
    std::stringstream s(line + ",");
    for (std::string c; std::getline(s, c, ',');) out.push_back(c);
    return out;
}

std::string joined(const std::vector<std::string> &cells) {
    std::string s;
    for (std::size_t i = 0; i < cells.size(); ++i) s += (i ? "," : "") + cells[i];
    return s;
}

// The tuning file with the first 50G/400G value of front port `port`, lane 0, changed.
std::string retuned(const std::string &text, int port) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string l; std::getline(s, l);) lines.push_back(l);
    const std::vector<std::string> speeds = cells(lines.at(3));
    std::size_t column = 0;
    while (column < speeds.size() && speeds[column] != "50G/400G") ++column;
    for (std::size_t i = 5; i < lines.size(); ++i) {
        std::vector<std::string> c = cells(lines[i]);
        if (c.size() <= column || c[1] != std::to_string(port) || c[2] != "0") continue;
        c[column] = c[column] == "7" ? "8" : "7";
        lines[i] = joined(c);
        std::string out;
        for (const auto &l : lines) out += l + "\n";
        return out;
    }
    ADD_FAILURE() << "no row of port " << port << " lane 0 at 50G/400G";
    return text;
}

// Every regular file under the directory with its contents.
std::map<std::string, std::string> files_under(const std::string &dir) {
    std::map<std::string, std::string> out;
    for (const auto &e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            out[fs::relative(e.path(), dir).string()] = read_file(e.path().string());
    return out;
}

// Report lines by their first word and name: "descriptors up" -> the rest of the line.
std::map<std::string, std::string> parse_report(const std::string &text) {
    std::map<std::string, std::string> out;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) {
        std::stringstream words(line);
        std::string first, second;
        words >> first >> second;
        const bool named = first == "descriptors" || first == "port_pre_init" ||
                           first == "port_init" || first == "link_up" || first == "port_down";
        std::string rest;
        std::getline(words, rest);
        if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
        out[named ? first + " " + second : first] = named ? rest : second;
    }
    return out;
}

// "0:inherit:/dev/null 1:inherit:/dev/null ..." for descriptors 0 to count - 1.
std::string on_dev_null(int count) {
    std::string out;
    for (int fd = 0; fd < count; ++fd)
        out += (fd > 0 ? " " : "") + std::to_string(fd) + ":inherit:/dev/null";
    return out;
}

// Runs the daemon host with no descriptor open but, if `open_below` is given, /dev/null on
// the descriptors below it; its exit status.
int run_host(const std::vector<std::string> &args, int open_below = 0) {
    std::vector<char *> argv;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close_range(0, ~0U, 0);
        for (int fd = 0; fd < open_below; ++fd)
            if (::open("/dev/null", O_RDWR) != fd) ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct Daemon {
    const char *name;
    bool native;            // Redis over the native connection, else through redis-cli
    int standard_open = 0;  // standard descriptors the host has open (/dev/null), from 0
};
void PrintTo(const Daemon &daemon, std::ostream *os) { *os << daemon.name; }

class DaemonDescriptors : public ::testing::TestWithParam<Daemon> {};

TEST_P(DaemonDescriptors, StandardDescriptorsClosedBeforeTheLibraryIsLoaded) {
    const bool native = GetParam().native;
    const int standard_open = GetParam().standard_open;
    RedisServer redis;
    ASSERT_TRUE(redis.ok()) << redis.error();
    if (native)
        ::setenv("PLTFM_REDIS", ("unix:" + redis.socket_path()).c_str(), 1);
    else
        redis.use_on_path();
    FakePlatform fake;
    fake.tuning_dir_from(PLTFM_EXAMPLES_DIR "/platform/CSV");
    for (const HostPort &p : {kCmis, kQsfp28}) {
        fake.port_config_line(p.name(), p.speed);
        redis.hset(0, "PORT_TABLE:" + p.name(), "speed", std::to_string(p.speed));
        redis.hset(4, "PORT|" + p.name(), "admin_status", "up");
        const std::string info = "TRANSCEIVER_INFO|" + p.name();
        redis.hset(6, info, "type",
                   p.nl == 8 ? "QSFP-DD Double Density 8X Pluggable Transceiver" : "QSFP28");
        redis.hset(6, info, "specification_compliance",
                   p.nl == 8 ? "400GBASE-DR4 Optical" : "100GBASE-SR4 Fibre");
        redis.hset(6, info, "connector", "MPO 1x12");
        redis.hset(6, info, "cable_length", "0");
        redis.hset(6, "TRANSCEIVER_STATUS|" + p.name(), "status", "1");
    }
    fake.cage(FakePlatform::front_panel_of(kCmis.sg - 1, kCmis.sl), qsfp_dd_optic());
    fake.cage(FakePlatform::front_panel_of(kQsfp28.sg - 1, kQsfp28.sl), qsfp28_optic());
    ASSERT_TRUE(fake.ok()) << fake.error();
    fake.activate();

    const std::string tuning = fake.tuning_dir() + "/generic_optics.csv";
    const std::string next = fake.root() + "/generic_optics.next";
    write_file(next, retuned(read_file(tuning), pltfm::hw::front_port_key(kCmis.sg - 1)));
    std::map<std::string, std::string> want = files_under(fake.root());
    want["usr/share/nos/platform/CSV/generic_optics.csv"] = want["generic_optics.next"];
    want.erase("generic_optics.next");
    want["usr/share/nos/platform/CSV/csv_rescan"] = "";
    ASSERT_TRUE(want.contains(fs::relative(tuning, fake.root()).string())) << fake.root();

    TempDir dir;
    const int status = run_host({PLTFM_DAEMON_HOST, PLTFM_LIBRARY, dir / "report", next, tuning,
                                 fake.tuning_dir() + "/csv_rescan", kCmis.port_line(),
                                 kQsfp28.port_line()},
                                standard_open);
    // 141: ended by SIGPIPE, as a log line written into a connection the server dropped ends it.
    ASSERT_EQ(status, 0) << "the host's exit status";
    const std::string text = read_file(dir / "report");
    auto report = parse_report(text);
    ASSERT_TRUE(report.contains("done")) << text;

    // Each step did its work.
    EXPECT_EQ(report["descriptors start"], on_dev_null(standard_open))
        << "the host began with other descriptors";
    EXPECT_EQ(report["pre_init"], "0") << text;
    for (const HostPort &p : {kCmis, kQsfp28}) {
        EXPECT_NE(report["port_pre_init " + p.name()], "0") << "no tuning for " << p.name() << "\n"
                                                            << text;
        EXPECT_EQ(report["port_init " + p.name()], "0") << text;
        EXPECT_EQ(report["link_up " + p.name()], "0") << text;
        EXPECT_EQ(report["port_down " + p.name()], "0") << text;
        EXPECT_EQ(redis.hget(4, "PORT|" + p.name(), "admin_status"), "up");
    }
    EXPECT_EQ(report["rescan"], "reloaded") << text;

    // What the library holds once it runs it keeps, the same descriptors, through the rescan
    // and port-down; that is nothing through redis-cli, and the one connection, closed on
    // exec, over the native one.
    // Loading the library put /dev/null where the standard descriptors were: its log goes
    // there, and none of its own descriptors can be 0, 1 or 2.
    const std::string loaded = report["descriptors loaded"], up = report["descriptors up"];
    EXPECT_EQ(loaded, on_dev_null(3)) << text;
    EXPECT_EQ(report["descriptors rescan"], up) << text;
    EXPECT_EQ(report["descriptors down"], up) << text;
    ASSERT_EQ(up.rfind(loaded, 0), 0u) << "descriptors of the host were closed\n" << text;
    const std::string held = up.substr(loaded.size());
    if (native)
        EXPECT_TRUE(held.find(":cloexec:socket:[") != std::string::npos &&
                    held.find(' ', 1) == std::string::npos)
            << "held by the library: " << held;
    else
        EXPECT_EQ(held, "") << "held by the library";

    // Nothing else was written: the module EEPROMs are as before (the QSFP28 optic's lasers
    // enabled at bring-up were disabled again at port-down, as they were), the tuning and
    // port configuration files as the steps left them, and Redis answered no command with an
    // error (a log line in the connection would be one).
    const auto got = files_under(fake.root());
    for (const auto &[name, contents] : want) {
        const auto it = got.find(name);
        ASSERT_NE(it, got.end()) << name << " is gone";
        EXPECT_TRUE(it->second == contents) << name << " was changed";
    }
    EXPECT_EQ(got.size(), want.size());
    const RedisReply info = redis.command(0, {"INFO", "errorstats"});
    EXPECT_EQ(info.text.find("errorstat_"), std::string::npos) << info.text;
}

// A host may also close standard input once the library is loaded: the library's next file
// then gets descriptor 0, and must be closed like any other. Tuning files and directories,
// EEPROM reads and writes, each with descriptor 0 free.
TEST(DescriptorZero, FilesTheLibraryOpensOnDescriptor0AreClosedToo) {
    FakePlatform fake;
    fake.cage(1, qsfp28_optic());
    ASSERT_TRUE(fake.ok()) << fake.error();
    fake.activate();
    LogCapture quiet;
    const int saved = ::dup(STDIN_FILENO);
    ASSERT_GE(saved, 0);
    ASSERT_EQ(::close(STDIN_FILENO), 0);
    // Whether descriptor 0 is free again; one left open is closed, so each step starts alike.
    auto free_again = [] {
        if (::fcntl(STDIN_FILENO, F_GETFD) == -1) return true;
        ::close(STDIN_FILENO);
        return false;
    };
    {
        pltfm::database::Tree tree;
        EXPECT_EQ(pltfm::database::pi_database_init(tree, PLTFM_EXAMPLES_DIR "/platform/CSV"),
                  PLTFM_SUCCESS);
        EXPECT_TRUE(free_again()) << "after a tuning load";
        pltfm::database::discard(tree);
    }
    pltfm_port_t port{};
    port.fp_port_id = 30;  // cage 1
    port.fp_num_lanes = 4;
    uint8_t byte = 0;
    EXPECT_EQ(pltfm_eeprom_get_from_i2c(port, 0, 86, &byte, 1), PLTFM_SUCCESS);
    EXPECT_TRUE(free_again()) << "after an EEPROM read";
    EXPECT_EQ(pltfm_eeprom_set_to_i2c(port, 0, 86, byte), PLTFM_SUCCESS);
    EXPECT_TRUE(free_again()) << "after an EEPROM write";
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
}

INSTANTIATE_TEST_SUITE_P(RedisModes, DaemonDescriptors,
                         ::testing::Values(Daemon{"cli", false}, Daemon{"native", true},
                                           Daemon{"native_only_error_closed", true, 2}),
                         [](const auto &daemon) { return std::string(daemon.param.name); });

}  // namespace
