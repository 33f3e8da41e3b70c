// Redis outages as a switch meets them, through redis-cli and (as the .native cases) over the
// native connection: a server frozen (SIGSTOP) before or during a bring-up of 48 ports, a
// server killed and started again, a server that accepts and never answers, a redis-cli that
// hangs. Every SDK call returns within the bounds, ports get the fallbacks (port_config.ini's
// speed, the EEPROM's module), the log says when Redis went and came back, everything reads
// again afterwards, and the "up" a module exchange owes is written once Redis is back.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include "background_threads.h"
#include "hw_test_util.h"
#include "ifcs_devport.h"
#include "platform_hw_internal.h"
#include "platform_hw_redis_stall.h"
#include "platform_hw_redis_transport.h"
#include "platform_serdes.h"
#include "serdes_records.h"
#include "test_util.h"
#include "tuning_reference.h"

using namespace pltfm::test;
using namespace std::chrono_literals;
namespace redis = pltfm::redis;
using Clock = std::chrono::steady_clock;

namespace {

// Short bounds keep a silent server from costing the suite seconds per access.
constexpr auto kNativeBound = 500ms, kCliBound = 1000ms;

bool native() {
    return modes::mode() == modes::Mode::native;
}

std::chrono::milliseconds bound() {
    return native() ? kNativeBound : kCliBound;
}

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

int count(const std::string &text, const std::string &needle) {
    int n = 0;
    for (auto p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

// Gone, or a zombie waiting for a reaper that is not this process.
bool gone(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const auto paren = line.rfind(')');
    return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'Z';
}

int open_descriptors() {
    int n = 0;
    if (DIR *d = ::opendir("/proc/self/fd")) {
        while (::readdir(d) != nullptr) ++n;
        ::closedir(d);
    }
    return n;
}

// Child processes of every thread of this process.
std::vector<long> children() {
    std::vector<long> pids;
    DIR *tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) return pids;
    while (const dirent *t = ::readdir(tasks)) {
        if (t->d_name[0] == '.') continue;
        std::ifstream in(std::string("/proc/self/task/") + t->d_name + "/children");
        for (long pid; in >> pid;) pids.push_back(pid);
    }
    ::closedir(tasks);
    return pids;
}

// One port of the bring-up: 4 lanes of a QSFP-DD optic broken out in two.
struct SdkPort {
    int32_t sg, sl;
    uint32_t slot() const { return *pltfm::hw::port_slot(sg - 1, sl); }
    std::string name() const { return "Ethernet" + std::to_string(slot() - 1); }
    int front_port() const { return pltfm::hw::front_port_key(sg - 1); }
    std::vector<ifcs_attr_t> attrs() const {
        return {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, sg),
                devport(IFCS_DEVPORT_ATTR_START_LANE, sl), devport(IFCS_DEVPORT_ATTR_NUM_LANES, 4),
                devport(IFCS_DEVPORT_ATTR_SPEED, 200000),
                devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
    }
};

std::vector<SdkPort> ports48() {
    std::vector<SdkPort> ports;
    for (int32_t sg = 1; sg <= 24; ++sg)
        for (int32_t sl : {0, 4}) ports.push_back({sg, sl});
    return ports;
}

// What a port's tuning comes from: the OS's view (its record says a 1 m DAC, database 0 a
// speed of 100G, so 25G lanes) or the fallbacks (the EEPROM holds an optic, port_config.ini
// says 200G, so 50G lanes).
enum class Source { redis, fallbacks };

class Outage : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(redis_.ok()) << redis_.error();
        redis::set_bounds_for_test(kNativeBound, kCliBound);
        if (!native()) redis_.use_on_path();
        modes::select(modes::mode(), redis_.socket_path());
        fake_.tuning_dir_from(PLTFM_EXAMPLES_DIR "/platform/CSV");
        for (const auto &p : ports48()) {
            fake_.port_config_line(p.name(), 200000);
            fake_.cage(FakePlatform::front_panel_of(p.sg - 1, 0), qsfp_dd_optic_breakout(2));
        }
        ASSERT_TRUE(fake_.ok()) << fake_.error();
        fake_.activate();
        seed_redis();
        reference_ = read_reference(fake_.tuning_dir());
    }

    void seed_redis() {
        redis_.hset(0, "PORT_TABLE:Ethernet0", "speed", "100000");  // what read_speed() reads
        for (const auto &p : ports48()) {
            redis_.hset(0, "PORT_TABLE:" + p.name(), "speed", "100000");
            redis_.hset(4, "PORT|" + p.name(), "admin_status", "up");
            const std::string info = "TRANSCEIVER_INFO|" + p.name();
            redis_.hset(6, info, "type", "QSFP-DD Double Density 8X Pluggable Transceiver");
            redis_.hset(6, info, "cable_length", "1");
            redis_.hset(6, info, "specification_compliance", "passive_copper_media_interface");
            redis_.hset(6, "TRANSCEIVER_STATUS|" + p.name(), "status", "1");
        }
    }

    void start_library() {
        pltfm::threads::disable_autostart_for_test();
        char platform[] = "SwitchSDK";
        LogCapture quiet;
        ASSERT_EQ(pltfm_pre_init(platform), PLTFM_SUCCESS) << quiet.text();
    }

    std::vector<Rec> expected_records(const SdkPort &p, Source source) const {
        const std::string key = source == Source::redis ? "DAC_1M|GENERIC|25G/100G|NRZ|"
                                                        : "OPTICS|GENERIC|50G/400G|PAM4|";
        return expected(reference_.at(key + std::to_string(p.front_port())),
                        static_cast<std::size_t>(p.sl), 4);
    }

    // Pre-initialises and initialises the port (a port-down first when it exists); empty
    // when its records are those of `source`, else what went wrong.
    std::string bring_up(const SdkPort &p, Source source) {
        std::string name = p.name();
        if (up_.count(name) != 0) pltfm_port_down(name.data());
        auto attrs = p.attrs();
        uint32_t n = static_cast<uint32_t>(attrs.size());
        const ifcs_attr_t *list = pltfm_port_pre_init(name.data(), attrs.data(), &n);
        if (list == nullptr) return name + ": no records";
        up_.insert(name);
        if (recs_of(list, n) != expected_records(p, source))
            return name + ": not the records of the " +
                   (source == Source::redis ? "OS's view" : "fallbacks");
        n = static_cast<uint32_t>(attrs.size());
        if (pltfm_port_init(name.data(), attrs.data(), &n) != PLTFM_SUCCESS)
            return name + ": init failed";
        return "";
    }

    // The slowest SDK call of bringing `ports` up, and the first wrong port.
    struct BringUp {
        std::chrono::milliseconds slowest{0};
        std::string error;
    };
    BringUp bring_up_all(const std::vector<SdkPort> &ports, Source source) {
        BringUp b;
        for (const auto &p : ports) {
            const auto start = Clock::now();
            std::string err = bring_up(p, source);
            b.slowest = std::max(b.slowest, since(start));
            if (b.error.empty() && !err.empty()) b.error = err;
        }
        return b;
    }

    RedisServer redis_;
    FakePlatform fake_;
    Reference reference_;
    std::set<std::string> up_;
};

const char *kSpeedCmd = "redis-cli -n 0 hget \"PORT_TABLE:Ethernet0\" \"speed\"";

struct Read {
    pltfm_status_t rc;
    std::string value;
    std::chrono::milliseconds took;
    std::string log;
};

Read read_speed() {
    Read r{};
    char buf[32] = {};
    LogCapture log;
    const auto start = Clock::now();
    r.rc = pltfm_redis_read(kSpeedCmd, buf, 31);
    r.took = since(start);
    r.value = buf;
    r.log = log.text();
    return r;
}

}  // namespace

// A frozen server: the first access waits out the bound, Redis counts as stalled, and every
// later access fails at once as an empty read, without waiting, until a retry made after the
// interval gets an answer. Nothing of the pipe's processes is left behind.
TEST_F(Outage, StalledRedisFailsAtOnceUntilARetryAnswers) {
    redis::stall_policy().set_retry_interval_for_test(400ms);
    ASSERT_EQ(read_speed().value, "100000");
    const int fds = open_descriptors();

    redis_.pause();
    const Read first = read_speed();
    EXPECT_EQ(first.rc, PLTFM_NOTFOUND);
    EXPECT_GE(first.took, bound() - 50ms);
    EXPECT_LT(first.took, 4 * bound());
    EXPECT_EQ(count(first.log, "Redis does not answer"), 1) << first.log;
    EXPECT_EQ(count(first.log, std::string("Failed to get ") + kSpeedCmd + "\n"), 1) << first.log;
    for (int i = 0; i < 3; ++i) {
        const Read r = read_speed();
        EXPECT_EQ(r.rc, PLTFM_NOTFOUND);
        EXPECT_LT(r.took, bound() / 2) << "an access while stalled must not wait";
        // Only the read's own message: the stall is not announced again.
        EXPECT_EQ(count(r.log, "\n"), 1) << r.log;
        EXPECT_EQ(count(r.log, std::string("pltfm_redis_read: Failed to get ") + kSpeedCmd), 1)
            << r.log;
    }
    if (!native()) {
        EXPECT_EQ(open_descriptors(), fds) << "no pipe of an ended redis-cli is left";
    }
    EXPECT_EQ(children(), std::vector<long>{redis_.pid()}) << "only the server: no zombie";

    // Still frozen when the interval has passed: the retry waits out the bound once more.
    std::this_thread::sleep_for(450ms);
    EXPECT_GE(read_speed().took, bound() - 50ms);
    EXPECT_LT(read_speed().took, bound() / 2);

    redis_.resume();
    std::this_thread::sleep_for(450ms);
    const Read back = read_speed();
    EXPECT_EQ(back.rc, PLTFM_SUCCESS);
    EXPECT_EQ(back.value, "100000");
    EXPECT_EQ(count(back.log, "Redis answers again after"), 1) << back.log;
    EXPECT_EQ(read_speed().log, "");
    EXPECT_EQ(open_descriptors(), fds);
}

// Two accesses meet a server that has just frozen: the second, let go before the first's
// time-out, waits behind it (the native connection) or beside it (its own redis-cli). When the
// first times out and Redis counts as stalled, the second gives up at once instead of waiting
// out a bound of its own; so a caller waiting for `mutex` behind the insertion thread's read
// never waits more than one bound for it.
TEST_F(Outage, AccessUnderWayGivesUpWhenAnotherFindsRedisStalled) {
    ASSERT_EQ(read_speed().value, "100000");
    redis_.pause();
    LogCapture log;
    const auto read = [](pltfm_status_t &rc, Clock::time_point &end) {
        char buf[32] = {};
        rc = pltfm_redis_read(kSpeedCmd, buf, 31);
        end = Clock::now();
    };
    pltfm_status_t first_rc = PLTFM_SUCCESS, second_rc = PLTFM_SUCCESS;
    Clock::time_point first_end, second_end;
    const auto start = Clock::now();
    std::thread first([&] { read(first_rc, first_end); });
    std::this_thread::sleep_for(bound() * 6 / 10);
    read(second_rc, second_end);
    first.join();
    EXPECT_EQ(first_rc, PLTFM_NOTFOUND);
    EXPECT_EQ(second_rc, PLTFM_NOTFOUND);
    EXPECT_GE(first_end - start, bound() - 50ms);
    EXPECT_LT(second_end - first_end, bound() * 3 / 10)
        << "the second access waited "
        << std::chrono::duration_cast<std::chrono::milliseconds>(second_end - first_end).count()
        << " ms after the first had timed out";
    EXPECT_EQ(count(log.text(), "Redis does not answer"), 1) << log.text();
    EXPECT_EQ(count(log.text(), std::string("Failed to get ") + kSpeedCmd + "\n"), 2) << log.text();
    EXPECT_EQ(children(), std::vector<long>{redis_.pid()}) << "the second redis-cli is ended too";
}

// While the insertion thread passes, it makes the retries: the SDK's accesses never wait,
// even after the interval, and the pass that finds Redis back ends the stall.
TEST_F(Outage, InsertionPassMakesTheRetry) {
    redis::stall_policy().set_retry_interval_for_test(200ms);
    start_library();
    redis_.pause();
    EXPECT_EQ(read_speed().rc, PLTFM_NOTFOUND);
    std::this_thread::sleep_for(250ms);
    {
        LogCapture quiet;
        const auto start = Clock::now();
        pltfm::hw::oir_monitor_pass();  // its retry meets the frozen server
        EXPECT_GE(since(start), bound() - 50ms);
    }
    EXPECT_LT(read_speed().took, bound() / 2);
    std::this_thread::sleep_for(250ms);
    EXPECT_LT(read_speed().took, bound() / 2) << "the retry is the pass's, not the SDK's";
    redis_.resume();
    std::this_thread::sleep_for(250ms);
    LogCapture log;
    pltfm::hw::oir_monitor_pass();
    EXPECT_TRUE(log.contains("Redis answers again after")) << log.text();
    EXPECT_EQ(read_speed().value, "100000");
}

// Accesses that fail at once (a killed server refuses) are no stall: each is tried, the log
// says nothing of a stall, and the first access after a restart reads again.
TEST_F(Outage, RefusedAccessesAreTriedOneByOne) {
    redis_.stop();
    for (int i = 0; i < 3; ++i) {
        const Read r = read_speed();
        EXPECT_EQ(r.rc, PLTFM_NOTFOUND);
        EXPECT_LT(r.took, bound());
        EXPECT_FALSE(r.log.find("Redis does not answer") != std::string::npos) << r.log;
    }
    redis_.start();
    ASSERT_TRUE(redis_.ok()) << redis_.error();
    redis_.hset(0, "PORT_TABLE:Ethernet0", "speed", "40000");
    EXPECT_EQ(read_speed().value, "40000");
}

// A redis-cli that does not finish is ended after the bound: killed with what it started
// (its process group), reaped, its pipe closed.
TEST_F(Outage, HangingRedisCliIsEndedWithItsChildren) {
    if (native()) GTEST_SKIP() << "the native connection starts no process";
    TempDir bin;
    const std::string pid_file = bin / "sleeper.pid";
    write_file(bin / "redis-cli", "#!/bin/sh\nsleep 30 &\necho $! > " + pid_file + "\nwait\n");
    ASSERT_EQ(::chmod((bin / "redis-cli").c_str(), 0755), 0);
    const std::string path = bin.path() + ":" + std::getenv("PATH");
    ::setenv("PATH", path.c_str(), 1);
    const int fds = open_descriptors();
    const Read r = read_speed();
    EXPECT_EQ(r.rc, PLTFM_NOTFOUND);
    EXPECT_LT(r.took, 4 * bound());
    EXPECT_TRUE(r.log.find("Redis does not answer") != std::string::npos) << r.log;
    const long sleeper = std::stol(read_file(pid_file));
    // The signal reaches it at once; the kernel may take a moment to finish it off.
    for (int i = 0; i < 200 && !gone(sleeper); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(gone(sleeper)) << "the command's own child is ended too";
    EXPECT_EQ(open_descriptors(), fds);
    EXPECT_EQ(children(), std::vector<long>{redis_.pid()});
}

// The server frozen before the bring-up: every SDK call returns within the bounds (one
// access waits, the others fail at once), every port gets the fallbacks' tuning, and once
// Redis answers again (the insertion pass's retry) a port created again reads the OS's view.
TEST_F(Outage, BringUpWithTheServerFrozenBeforeIt) {
    start_library();
    redis_.pause();
    LogCapture log;
    const auto start = Clock::now();
    const BringUp b = bring_up_all(ports48(), Source::fallbacks);
    const auto took = since(start);
    EXPECT_EQ(b.error, "");
    EXPECT_LT(b.slowest, 3 * bound());
    EXPECT_LT(took, 6 * bound()) << "48 ports, at most a few waits in all";
    EXPECT_EQ(count(log.text(), "Redis does not answer"), 1);

    redis_.resume();
    std::this_thread::sleep_for(1100ms);  // the retry interval; no pass runs, so a read retries
    const Read back = read_speed();
    EXPECT_EQ(back.value, "100000");
    EXPECT_EQ(count(back.log, "Redis answers again after"), 1) << back.log;
    EXPECT_EQ(bring_up(ports48()[5], Source::redis), "");
}

// Frozen in the middle of the bring-up: the port being created when it froze and the rest
// get the fallbacks; none waits more than a bound.
TEST_F(Outage, BringUpWithTheServerFrozenDuringIt) {
    start_library();
    const auto ports = ports48();
    const std::vector<SdkPort> first(ports.begin(), ports.begin() + 10);
    const std::vector<SdkPort> rest(ports.begin() + 10, ports.end());
    EXPECT_EQ(bring_up_all(first, Source::redis).error, "");
    redis_.pause();
    LogCapture log;
    const auto start = Clock::now();
    const BringUp b = bring_up_all(rest, Source::fallbacks);
    EXPECT_EQ(b.error, "");
    EXPECT_LT(b.slowest, 3 * bound());
    EXPECT_LT(since(start), 6 * bound());
    EXPECT_EQ(count(log.text(), "Redis does not answer"), 1);
}

// Killed and started again: accesses fail at once one by one (no stall), the ports get the
// fallbacks, and after the restart the next bring-up reads the OS's view at once.
TEST_F(Outage, BringUpWithTheServerKilledAndRestarted) {
    start_library();
    redis_.stop();
    LogCapture log;
    const BringUp b = bring_up_all(ports48(), Source::fallbacks);
    EXPECT_EQ(b.error, "");
    EXPECT_LT(b.slowest, bound());
    EXPECT_EQ(count(log.text(), "Redis does not answer"), 0);
    redis_.start();
    ASSERT_TRUE(redis_.ok()) << redis_.error();
    seed_redis();
    EXPECT_EQ(bring_up_all(ports48(), Source::redis).error, "");
}

// A server that takes connections and never answers: the same as a frozen one.
TEST_F(Outage, BringUpWithAServerThatNeverAnswers) {
    start_library();
    TempDir dir;
    const std::string path = dir / "mute.sock";
    // Connections wait in the backlog, never accepted.
    const int fd = listen_on_unix_socket(path, 64);
    ASSERT_GE(fd, 0);
    write_file(dir / "bin/redis-cli",
               "#!/bin/sh\nexec /usr/bin/redis-cli -s " + path + " \"$@\"\n");
    ASSERT_EQ(::chmod((dir / "bin/redis-cli").c_str(), 0755), 0);
    const std::string bin_path = dir / "bin:" + std::string(std::getenv("PATH"));
    ::setenv("PATH", bin_path.c_str(), 1);
    modes::select(modes::mode(), path);
    redis::set_bounds_for_test(kNativeBound, kCliBound);
    LogCapture log;
    const auto start = Clock::now();
    const BringUp b = bring_up_all(ports48(), Source::fallbacks);
    EXPECT_EQ(b.error, "");
    EXPECT_LT(b.slowest, 3 * bound());
    EXPECT_LT(since(start), 6 * bound());
    EXPECT_EQ(count(log.text(), "Redis does not answer"), 1) << log.text();
    ::close(fd);
}

namespace {

// Ethernet0 in cage 1 (4 lanes at 100G): the exchange cycle with an outage in between.
struct Exchange : HwEnv {
    Exchange() {
        redis::set_bounds_for_test(kNativeBound, kCliBound);
        redis::stall_policy().set_retry_interval_for_test(100ms);
        speed("Ethernet0", "100000");
        fake.port_config_line("Ethernet0", 100000);
        (void)pltfm_port_default_speed_get_from_config_file(1);
        redis.hset(4, "PORT|Ethernet0", "admin_status", "up");
        fake.cage(1, qsfp28_optic());
        record("Ethernet0", "QSFP28", "100GBASE-SR4 Fibre", "MPO 1x12", "0");
    }
    std::string admin() const {
        return redis.hget(4, "PORT|Ethernet0", "admin_status").value_or("(none)");
    }
    void pre_init() {
        pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
        key_list(list);
        ASSERT_EQ(pltfm_transceiver_info_get(port, list, 7, 1), PLTFM_SUCCESS);
        ASSERT_EQ(pltfm_transceiver_configure(port, PLTFM_PORT_PRE_INIT), PLTFM_SUCCESS);
        ASSERT_EQ(pltfm_transceiver_configure(port, PLTFM_PORT_INIT), PLTFM_SUCCESS);
    }
    // The module is exchanged for a DAC; the insertion pass sets the port down.
    void exchange() {
        pre_init();
        pltfm::hw::oir_monitor_pass();
        fake.cage(1, qsfp28_dac(3));
        redis.hset(6, "TRANSCEIVER_STATUS|Ethernet0", "status", "0");
        pltfm::hw::oir_monitor_pass();
        record("Ethernet0", "QSFP28", "100GBASE-CR4", "No separable connector", "3");
        pltfm::hw::oir_monitor_pass();
        ASSERT_EQ(admin(), "down");
    }
    // The OS takes the port down while Redis is frozen: the "up" cannot be written.
    void port_down_during_outage(std::string &log_text) {
        redis.pause();
        LogCapture log;
        ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0"), PLTFM_PORT_DOWN),
                  PLTFM_SUCCESS);
        log_text = log.text();
    }
    void redis_back() {
        redis.resume();
        std::this_thread::sleep_for(150ms);  // the retry interval
    }
    const pltfm_port_t port = make_port("Ethernet0", 30, 0, 4);
};

}  // namespace

// The "up" that closes the exchange cycle is owed across the outage and written once Redis
// answers again: the operator's "up" is not lost.
TEST(OwedAdminUp, WrittenOnceRedisAnswersAgain) {
    Exchange x;
    ASSERT_TRUE(x.redis.ok()) << x.redis.error();
    x.exchange();
    std::string during;
    x.port_down_during_outage(during);
    EXPECT_TRUE(during.find("Port 0 admin up could not be written") != std::string::npos) << during;
    x.redis_back();
    EXPECT_EQ(x.admin(), "down");
    LogCapture log;
    pltfm::hw::oir_monitor_pass();
    EXPECT_EQ(x.admin(), "up");
    EXPECT_EQ(count(log.text(), "Port 0 admin up written now that Redis answers"), 1) << log.text();
    LogCapture later;
    pltfm::hw::oir_monitor_pass();
    EXPECT_FALSE(later.contains("admin up written")) << "written once";
}

// The operator (or the OS) changed the status first: the debt is dropped, nothing written.
TEST(OwedAdminUp, DroppedWhenTheStatusNoLongerReadsDown) {
    Exchange x;
    ASSERT_TRUE(x.redis.ok()) << x.redis.error();
    x.exchange();
    std::string during;
    x.port_down_during_outage(during);
    x.redis_back();
    x.redis.hset(4, "PORT|Ethernet0", "admin_status", "testing");
    LogCapture log;
    pltfm::hw::oir_monitor_pass();
    EXPECT_EQ(x.admin(), "testing");
    EXPECT_FALSE(log.contains("admin up written")) << log.text();
    x.redis.hset(4, "PORT|Ethernet0", "admin_status", "down");  // shut by the operator later
    pltfm::hw::oir_monitor_pass();
    EXPECT_EQ(x.admin(), "down");
}

// The port was pre-initialised before Redis came back (with port_config.ini's speed and the
// EEPROM's module): it is being created, nothing is owed.
TEST(OwedAdminUp, DroppedWhenThePortIsPreInitialisedFirst) {
    Exchange x;
    ASSERT_TRUE(x.redis.ok()) << x.redis.error();
    x.exchange();
    std::string during;
    x.port_down_during_outage(during);
    x.pre_init();
    x.redis_back();
    LogCapture log;
    pltfm::hw::oir_monitor_pass();
    EXPECT_EQ(x.admin(), "down");
    EXPECT_FALSE(log.contains("admin up written")) << log.text();
}
