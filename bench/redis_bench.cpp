// What the Redis mode costs, each case through redis-cli (/cli) and over the native
// connection (/native) in the same run, against a real redis-server on a unix socket and a
// fake sysfs tree: one Redis read, the pre-initialisation of an 8-lane port, one insertion
// monitor pass over 48 named ports with modules, and the library's start-up. The "cpu"
// counters include the CPU time of the processes a case started (redis-cli, sh, grep, awk).
// The last cases compare the shared connection behind its lock with one connection per
// thread.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "background_threads.h"
#include "bench_board.h"
#include "cpu_time.h"
#include "fake_platform.h"
#include "ifcs_devport.h"
#include "platform_hw_internal.h"
#include "platform_hw_redis_command.h"
#include "platform_hw_redis_native.h"
#include "platform_hw_redis_transport.h"
#include "platform_serdes.h"
#include "quiet_log.h"
#include "redis_server.h"
#include "serdes_records.h"

namespace {

using pltfm::test::devport;

constexpr const char *kQsfpDd = "QSFP-DD Double Density 8X Pluggable Transceiver";
constexpr const char *kSpeedRead = "redis-cli -n 0 hget \"PORT_TABLE:Ethernet0\" \"speed\"";

using pltfm::bench::board_ports;
using pltfm::bench::Port;

// The switch around the library, made once: Redis seeded as the OS does, a platform tree
// with the sample tuning, port_config.ini and an EEPROM per cage; the library started with
// its background threads off (the benchmark drives the monitor pass itself).
class World {
  public:
    static World &get() {
        static World *w = new World;
        return *w;
    }
    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }
    const std::vector<Port> &ports() const { return ports_; }

    void use(bool native) {
        if (native)
            ::setenv("PLTFM_REDIS", ("unix:" + redis_.socket_path()).c_str(), 1);
        else
            ::unsetenv("PLTFM_REDIS");
        pltfm::redis::reload_for_test();
    }

  private:
    World() : ports_(board_ports()) {
        if (!redis_.ok() || !fake_.ok()) {
            error_ = redis_.ok() ? fake_.error() : redis_.error();
            return;
        }
        redis_.use_on_path();
        for (const auto &p : ports_) {
            const std::string n = p.name();
            fake_.port_config_line(n, p.speed, "0,1");
            redis_.hset(0, "PORT_TABLE:" + n, "speed", std::to_string(p.speed));
            redis_.hset(4, "PORT|" + n, "admin_status", "up");
            redis_.hset(6, "TRANSCEIVER_STATUS|" + n, "status", "1");
            const std::string info = "TRANSCEIVER_INFO|" + n;
            redis_.hset(6, info, "type", kQsfpDd);
            redis_.hset(6, info, "cable_length", "0");
            redis_.hset(6, info, "specification_compliance", "400GBASE-DR4 Optical");
            redis_.hset(6, info, "connector", "LC");
            fake_.cage(p.front_panel(), p.lanes == 8 ? pltfm::test::qsfp_dd_optic()
                                                     : pltfm::test::qsfp_dd_optic_breakout(4));
        }
        fake_.tuning_dir_from(PLTFM_EXAMPLES_DIR "/platform/CSV");
        if (!fake_.ok()) {
            error_ = fake_.error();
            return;
        }
        fake_.activate();
        pltfm::threads::disable_autostart_for_test();
    }

  public:
    // The library's start-up in this process, once: after it, a forked process would not
    // read port_config.ini again, so the start-up cases run first.
    void start_library() {
        if (started_ || !ok()) return;
        started_ = true;
        char platform[] = "SwitchSDK";
        if (pltfm_pre_init(platform) != 0) error_ = "start-up failed";
    }

  private:
    bool started_ = false;

    pltfm::test::RedisServer redis_;
    pltfm::test::FakePlatform fake_;
    std::vector<Port> ports_;
    std::string error_;
};

using pltfm::bench::Quiet;

// Sets up the world in the case's mode; false (and the case skipped) when it is not there.
bool prepare(benchmark::State &state, bool native, bool start = true) {
    World &w = World::get();
    if (start) w.start_library();
    if (!w.ok()) {
        state.SkipWithError(w.error().c_str());
        return false;
    }
    w.use(native);
    return true;
}

void report_cpu(benchmark::State &state, double cpu_before_ms) {
    const double spent = pltfm::test::process_cpu_ms() - cpu_before_ms;
    state.counters["cpu_ms"] = benchmark::Counter(spent / static_cast<double>(state.iterations()));
}

// pltfm_pre_init in a fresh process, as the SDK starts: the default speed of 258 slots from
// port_config.ini and the tuning load (the background threads are off here). Timed from
// fork to exit.
void BM_StartUp(benchmark::State &state, bool native) {
    Quiet quiet;
    if (!prepare(state, native, false)) return;
    const double cpu = pltfm::test::process_cpu_ms();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            char platform[] = "SwitchSDK";
            ::_exit(pltfm_pre_init(platform) == 0 ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("start-up failed");
            break;
        }
    }
    report_cpu(state, cpu);
}
BENCHMARK_CAPTURE(BM_StartUp, cli, false)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_StartUp, native, true)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_RedisRead(benchmark::State &state, bool native) {
    Quiet quiet;
    if (!prepare(state, native)) return;
    char buf[32];
    const double cpu = pltfm::test::process_cpu_ms();
    for (auto _ : state) {
        if (pltfm_redis_read(kSpeedRead, buf, 31) != PLTFM_SUCCESS) {
            state.SkipWithError("read failed");
            break;
        }
    }
    report_cpu(state, cpu);
}
BENCHMARK_CAPTURE(BM_RedisRead, cli, false)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RedisRead, native, true)->Unit(benchmark::kMicrosecond)->UseRealTime();

// pltfm_port_pre_init of a 400G 8-lane port with a QSFP-DD optic (speed, module record,
// laser set-up, lookup, translation), then its port-down, which frees the list.
void BM_PortPreInit8Lanes(benchmark::State &state, bool native) {
    Quiet quiet;
    if (!prepare(state, native)) return;
    const Port p = World::get().ports().front();
    std::string name = p.name();
    const double cpu = pltfm::test::process_cpu_ms();
    for (auto _ : state) {
        ifcs_attr_t attrs[] = {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, p.group),
                               devport(IFCS_DEVPORT_ATTR_START_LANE, p.start),
                               devport(IFCS_DEVPORT_ATTR_NUM_LANES, p.lanes),
                               devport(IFCS_DEVPORT_ATTR_SPEED, p.speed),
                               devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
        uint32_t count = 5;
        if (pltfm_port_pre_init(name.data(), attrs, &count) == nullptr) {
            state.SkipWithError("pre-initialisation failed");
            break;
        }
        pltfm_port_down(name.data());
    }
    report_cpu(state, cpu);
}
BENCHMARK_CAPTURE(BM_PortPreInit8Lanes, cli, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_PortPreInit8Lanes, native, true)->Unit(benchmark::kMillisecond)->UseRealTime();

// One insertion-monitor pass over the 258 slots with 48 named ports whose modules are known
// (each costs its status read and its speed read).
void BM_MonitorPass48Ports(benchmark::State &state, bool native) {
    Quiet quiet;
    if (!prepare(state, native)) return;
    for (const auto &p : World::get().ports()) {
        pltfm_port_t port{};
        std::snprintf(port.intf_name, sizeof port.intf_name, "%s", p.name().c_str());
        port.fp_port_id = p.group - 1;
        port.fp_start_lane = port.cur_start_lane = p.start;
        port.fp_num_lanes = port.cur_num_lanes = p.lanes;
        pltfm_transceiver_configure(port, PLTFM_PORT_INIT);
    }
    pltfm::hw::oir_monitor_pass();  // every module is seen once and stored
    const double cpu = pltfm::test::process_cpu_ms();
    for (auto _ : state) pltfm::hw::oir_monitor_pass();
    report_cpu(state, cpu);
}
BENCHMARK_CAPTURE(BM_MonitorPass48Ports, cli, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_MonitorPass48Ports, native, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Two threads reading at once: through the library's one connection behind its lock, and
// (for comparison) each over a connection of its own without a lock.
// The threads do not switch the mode: the native cases before these left it native.
bool native_ready(benchmark::State &state) {
    if (World::get().ok() && pltfm::redis::native()) return true;
    state.SkipWithError("run after the native cases");
    return false;
}

void BM_NativeReadSharedConnection(benchmark::State &state) {
    if (!native_ready(state)) return;
    char buf[32];
    for (auto _ : state) benchmark::DoNotOptimize(pltfm_redis_read(kSpeedRead, buf, 31));
}
BENCHMARK(BM_NativeReadSharedConnection)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_NativeReadConnectionPerThread(benchmark::State &state) {
    if (!native_ready(state)) return;
    std::string why;
    const auto endpoint = pltfm::redis::parse_endpoint(std::getenv("PLTFM_REDIS"), why);
    pltfm::redis::Connection connection(*endpoint);
    const auto command = pltfm::redis::parse_command(kSpeedRead);
    for (auto _ : state) benchmark::DoNotOptimize(connection.run(*command));
}
BENCHMARK(BM_NativeReadConnectionPerThread)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
