// A live switch's Redis figures, each case in a process of its own with the library's real
// threads (the threads live until the process ends, so every case forks a fresh one), a real
// redis-server on a unix socket and a fake platform tree with 48 ports:
// - BM_ExchangeToAdminDown: from the status write of a module of another kind to the library's
//   "down" write in database 4, both as the server's MONITOR stamps them, over 100 exchanges
//   (PLTFM_BENCH_EXCHANGES to change): through redis-cli, over the native connection with the
//   once-a-second poll only (the server sends no keyspace events), and with keyspace events.
//   Each exchange is one a person makes: the module pulled (seen by the library), then the
//   other kind put in. The manual time is the mean; p50, p99 and max are counters.
// - BM_BringUpFrozenServer: pltfm_port_pre_init, init and link-up of the 48 ports with the
//   server frozen (SIGSTOP) just before, with the real bounds; slowest call as a counter.
// - BM_InsertionThreadIdleCpu: CPU time of the insertion thread per second of a switch where
//   nothing changes (48 ports up, every module known).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <hiredis/hiredis.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_board.h"
#include "fake_platform.h"
#include "ifcs_devport.h"
#include "platform_hw.h"
#include "platform_hw_internal.h"
#include "platform_hw_redis_events.h"
#include "platform_serdes.h"
#include "redis_server.h"
#include "serdes_records.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using pltfm::test::devport;

enum class Redis { cli, native_poll, native_events };

constexpr const char *kQsfpDd = "QSFP-DD Double Density 8X Pluggable Transceiver";

using pltfm::bench::board_ports;
using pltfm::bench::kWholeCagePorts;
using pltfm::bench::Port;

bool inserted(uint32_t slot) {
    pthread_mutex_lock(&mutex);
    const bool bit = (port_state_ar[slot] & (1u << PLTFM_PORT_INSERTED)) != 0;
    pthread_mutex_unlock(&mutex);
    return bit;
}

template <class Pred>
bool wait_until(Pred done, Clock::duration limit = 60s) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct Error {
    std::string what;
};

// The switch around the library, made in the case's own process: Redis seeded as the OS does,
// the platform tree with the sample tuning, port_config.ini and a module in every cage; the
// library started with its threads in the given Redis mode.
class LiveSwitch {
  public:
    explicit LiveSwitch(Redis mode)
        : mode_(mode), redis_(mode == Redis::native_events ? "AKE" : "") {
        if (!redis_.ok()) throw Error{"redis-server: " + redis_.error()};
        if (!fake_.ok()) throw Error{"platform tree: " + fake_.error()};
        redis_.use_on_path();
        if (mode == Redis::cli)
            ::unsetenv("PLTFM_REDIS");
        else
            ::setenv("PLTFM_REDIS", ("unix:" + redis_.socket_path()).c_str(), 1);
        for (const auto &p : ports_) {
            fake_.port_config_line(p.name(), p.speed, "0,1");
            hset(0, "PORT_TABLE:" + p.name(), "speed", std::to_string(p.speed));
            hset(4, "PORT|" + p.name(), "admin_status", "up");
            if (p.start == 0)
                fake_.cage(p.front_panel(), p.lanes == 8 ? pltfm::test::qsfp_dd_optic()
                                                         : pltfm::test::qsfp_dd_optic_breakout(4));
            record(p, false);
        }
        fake_.tuning_dir_from(PLTFM_EXAMPLES_DIR "/platform/CSV");
        if (!fake_.ok()) throw Error{"platform tree: " + fake_.error()};
        fake_.activate();
    }

    // Starts the library; the insertion thread is the task its monitor start adds.
    void start_library() {
        const std::set<std::string> before = tasks();
        if (pltfm_transceiver_monitor() != PLTFM_SUCCESS) throw Error{"monitor start failed"};
        for (const auto &t : tasks())
            if (before.count(t) == 0) insertion_thread_ = t;
        char platform[] = "SwitchSDK";
        if (pltfm_pre_init(platform) != PLTFM_SUCCESS) throw Error{"pltfm_pre_init failed"};
    }

    // Every port created (pre-initialised, initialised, link up); the slowest call.
    std::chrono::duration<double> bring_up() {
        std::chrono::duration<double> slowest{0};
        for (const auto &p : ports_) {
            const auto start = Clock::now();
            create(p);
            slowest = std::max<std::chrono::duration<double>>(slowest, Clock::now() - start);
        }
        return slowest;
    }

    void create(const Port &p) {
        std::string name = p.name();
        ifcs_attr_t attrs[] = {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, p.group),
                               devport(IFCS_DEVPORT_ATTR_START_LANE, p.start),
                               devport(IFCS_DEVPORT_ATTR_NUM_LANES, p.lanes),
                               devport(IFCS_DEVPORT_ATTR_SPEED, p.speed),
                               devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
        uint32_t n = 5;
        if (pltfm_port_pre_init(name.data(), attrs, &n) == nullptr)
            throw Error{"pre-initialisation of " + name + " failed"};
        n = 5;
        pltfm_port_init(name.data(), attrs, &n);
        n = 5;
        pltfm_port_link_up(name.data(), attrs, &n);
    }

    // Until the insertion thread has seen every module (and, with events, subscribed).
    void settle() {
        const bool ok = wait_until([&] {
            for (const auto &p : ports_)
                if (!inserted(p.slot())) return false;
            if (mode_ != Redis::native_events) return true;
            auto *events = pltfm::redis::keyspace_events();
            return events != nullptr && events->subscribed();
        });
        if (!ok) throw Error{"the insertion thread did not see every module in 60 s"};
    }

    void record(const Port &p, bool dac) {
        const auto r =
            redis_.command(6, {"HSET", "TRANSCEIVER_INFO|" + p.name(), "type", kQsfpDd,
                               "cable_length", dac ? "1" : "0", "specification_compliance",
                               dac ? "passive_copper_media_interface" : "400GBASE-DR4 Optical",
                               "connector", dac ? "No separable connector" : "LC"});
        if (r.kind != pltfm::test::RedisReply::Kind::integer)
            throw Error{"cannot write the record of " + p.name()};
        hset(6, "TRANSCEIVER_STATUS|" + p.name(), "status", "1");
    }

    void hset(int db, const std::string &key, const std::string &field, const std::string &value) {
        if (!redis_.hset(db, key, field, value)) throw Error{"cannot write " + key};
    }

    // CPU time the insertion thread has used so far.
    std::chrono::nanoseconds insertion_thread_cpu() const {
        std::ifstream in("/proc/self/task/" + insertion_thread_ + "/schedstat");
        long long ns = -1;
        if (!(in >> ns)) throw Error{"no schedstat of the insertion thread"};
        return std::chrono::nanoseconds(ns);
    }

    const std::vector<Port> &ports() const { return ports_; }
    pltfm::test::RedisServer &redis() { return redis_; }
    pltfm::test::FakePlatform &fake() { return fake_; }

  private:
    static std::set<std::string> tasks() {
        std::set<std::string> out;
        if (DIR *d = ::opendir("/proc/self/task")) {
            while (const dirent *e = ::readdir(d))
                if (e->d_name[0] != '.') out.insert(e->d_name);
            ::closedir(d);
        }
        return out;
    }

    Redis mode_;
    pltfm::test::RedisServer redis_;
    pltfm::test::FakePlatform fake_;
    std::vector<Port> ports_ = board_ports();
    std::string insertion_thread_;
};

// The commands the server runs, as MONITOR reports them with the server's time stamps.
class Monitor {
  public:
    explicit Monitor(const std::string &socket) : c_(redisConnectUnix(socket.c_str())) {
        if (c_ == nullptr || c_->err != 0) throw Error{"MONITOR: cannot connect"};
        auto *ok = static_cast<redisReply *>(redisCommand(c_, "MONITOR"));
        if (ok == nullptr) throw Error{"MONITOR refused"};
        freeReplyObject(ok);
        const timeval limit{60, 0};
        redisSetTimeout(c_, limit);
    }
    ~Monitor() { redisFree(c_); }
    Monitor(const Monitor &) = delete;
    Monitor &operator=(const Monitor &) = delete;

    // Server time (seconds) of the next command whose arguments contain `args`.
    double next(const std::string &args) {
        for (;;) {
            void *raw = nullptr;
            if (redisGetReply(c_, &raw) != REDIS_OK || raw == nullptr)
                throw Error{"MONITOR: no " + args + " within 60 s"};
            auto *r = static_cast<redisReply *>(raw);
            const std::string line(r->str != nullptr ? r->str : "", r->str != nullptr ? r->len : 0);
            freeReplyObject(r);
            if (line.find(args) != std::string::npos) return std::strtod(line.c_str(), nullptr);
        }
    }

    // The median time between five successive commands that contain `args`.
    double median_gap(const std::string &args) {
        std::vector<double> gaps;
        for (double last = next(args); gaps.size() < 5;) {
            const double t = next(args);
            gaps.push_back(t - last);
            last = t;
        }
        std::sort(gaps.begin(), gaps.end());
        return gaps[2];
    }

  private:
    redisContext *c_;
};

// Runs `body` in a child process (the library's standard error to /dev/null) and returns
// what it printed; an Error in the child skips the case with its text.
std::optional<std::string> in_child(benchmark::State &state,
                                    const std::function<std::string()> &body) {
    int fds[2];
    if (::pipe(fds) != 0) {
        state.SkipWithError("pipe failed");
        return std::nullopt;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        std::string out;
        int rc = 0;
        try {
            out = body();
        } catch (const Error &e) {
            out = e.what;
            rc = 1;
        }
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::_exit(rc);  // the objects above are gone; the library's threads end with the process
    }
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        state.SkipWithError(out.empty() ? "the case's process failed" : out.c_str());
        return std::nullopt;
    }
    return out;
}

std::vector<double> numbers(const std::string &text) {
    std::vector<double> out;
    std::istringstream in(text);
    for (double v; in >> v;) out.push_back(v);
    return out;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

int exchanges() {
    const char *env = std::getenv("PLTFM_BENCH_EXCHANGES");
    const int n = env != nullptr ? std::atoi(env) : 0;
    return n > 0 ? n : 100;
}

// The exchanges, each in the next 400G cage, as a person goes down a row: a cage is pulled
// (status 0, cage empty) and, once the insertion thread has seen it empty and a random part of
// its poll period has passed (a person does not keep time with the poll), the other kind is
// put in (its EEPROM and record, then status 1) and the next cage is pulled. The latency runs
// from that status write to the "down" write; the OS then takes the port down (the library
// writes "up") and creates it again. Prints the latencies in seconds.
std::string exchange_latencies(Redis mode, int count) {
    LiveSwitch sw(mode);
    sw.start_library();
    sw.bring_up();
    sw.settle();
    Monitor monitor(sw.redis().socket_path());
    // Every pass reads the status of a port whose module stays.
    const double period =
        monitor.median_gap("\"TRANSCEIVER_STATUS|" + sw.ports().back().name() + "\" \"status\"");
    std::mt19937 random(19);
    std::uniform_real_distribution<double> phase(0, period);
    bool dac[kWholeCagePorts] = {};
    const auto pull = [&](const Port &p) {
        sw.hset(6, "TRANSCEIVER_STATUS|" + p.name(), "status", "0");
        sw.fake().empty_cage(p.front_panel());
    };
    pull(sw.ports()[0]);
    std::ostringstream out;
    for (int k = 0; k < count; ++k) {
        const std::size_t i = static_cast<std::size_t>(k) % kWholeCagePorts;
        const Port &p = sw.ports()[i];
        if (!wait_until([&] { return !inserted(p.slot()); }))
            throw Error{"the pull from " + p.name() + " was not seen in 60 s"};
        std::this_thread::sleep_for(std::chrono::duration<double>(phase(random)));
        dac[i] = !dac[i];
        sw.fake().cage(p.front_panel(),
                       dac[i] ? pltfm::test::qsfp_dd_dac(1.0) : pltfm::test::qsfp_dd_optic());
        sw.record(p, dac[i]);
        // Seen empty while this exchange is measured: a pass reads every status anyway.
        if (k + 1 < count) pull(sw.ports()[static_cast<std::size_t>(k + 1) % kWholeCagePorts]);
        const double put_in =
            monitor.next("\"TRANSCEIVER_STATUS|" + p.name() + "\" \"status\" \"1\"");
        const double down = monitor.next("\"PORT|" + p.name() + "\" \"admin_status\" \"down\"");
        out << down - put_in << '\n';
        std::string name = p.name();
        pltfm_port_down(name.data());
        sw.create(p);
    }
    return out.str();
}

void BM_ExchangeToAdminDown(benchmark::State &state, Redis mode) {
    const int count = exchanges();
    for (auto _ : state) {
        const auto out = in_child(state, [&] { return exchange_latencies(mode, count); });
        if (!out) return;
        const std::vector<double> v = numbers(*out);
        if (v.size() != static_cast<std::size_t>(count)) {
            state.SkipWithError("not every exchange was measured");
            return;
        }
        double sum = 0;
        for (double x : v) sum += x;
        state.SetIterationTime(sum / static_cast<double>(v.size()));
        state.counters["exchanges"] = static_cast<double>(v.size());
        state.counters["p50_ms"] = 1e3 * percentile(v, 0.50);
        state.counters["p99_ms"] = 1e3 * percentile(v, 0.99);
        state.counters["max_ms"] = 1e3 * *std::max_element(v.begin(), v.end());
    }
}
BENCHMARK_CAPTURE(BM_ExchangeToAdminDown, cli, Redis::cli)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ExchangeToAdminDown, native_poll, Redis::native_poll)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ExchangeToAdminDown, native_events, Redis::native_events)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The 48 ports created one after another with the server frozen since just before. Prints
// the whole bring-up's seconds and the slowest call's.
std::string frozen_bring_up(Redis mode) {
    LiveSwitch sw(mode);
    sw.start_library();
    sw.redis().pause();
    const auto start = Clock::now();
    const auto slowest = sw.bring_up();
    const std::chrono::duration<double> took = Clock::now() - start;
    sw.redis().resume();
    return std::to_string(took.count()) + " " + std::to_string(slowest.count()) + "\n";
}

void BM_BringUpFrozenServer(benchmark::State &state, Redis mode) {
    double slowest = 0;
    for (auto _ : state) {
        const auto out = in_child(state, [&] { return frozen_bring_up(mode); });
        if (!out) return;
        const std::vector<double> v = numbers(*out);
        if (v.size() != 2) {
            state.SkipWithError("no figures from the bring-up");
            return;
        }
        state.SetIterationTime(v[0]);
        slowest = std::max(slowest, v[1]);
    }
    state.counters["slowest_call_ms"] = 1e3 * slowest;
}
BENCHMARK_CAPTURE(BM_BringUpFrozenServer, cli, Redis::cli)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BringUpFrozenServer, native, Redis::native_events)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The insertion thread's CPU time over 10 s of a switch where nothing changes, per second.
constexpr auto kIdleWindow = 10s;
std::string idle_cpu(Redis mode) {
    LiveSwitch sw(mode);
    sw.start_library();
    sw.bring_up();
    sw.settle();
    std::this_thread::sleep_for(2s);  // past the pass that saw the last module
    const auto cpu = sw.insertion_thread_cpu();
    const auto start = Clock::now();
    std::this_thread::sleep_for(kIdleWindow);
    const std::chrono::duration<double> wall = Clock::now() - start;
    const std::chrono::duration<double, std::milli> used = sw.insertion_thread_cpu() - cpu;
    return std::to_string(used.count() / wall.count()) + "\n";
}

void BM_InsertionThreadIdleCpu(benchmark::State &state, Redis mode) {
    for (auto _ : state) {
        const auto out = in_child(state, [&] { return idle_cpu(mode); });
        if (!out) return;
        const std::vector<double> v = numbers(*out);
        if (v.size() != 1) {
            state.SkipWithError("no CPU figure");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(kIdleWindow).count());
        state.counters["cpu_ms_per_s"] = v[0];
    }
}
BENCHMARK_CAPTURE(BM_InsertionThreadIdleCpu, native_events, Redis::native_events)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_InsertionThreadIdleCpu, native_poll, Redis::native_poll)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
