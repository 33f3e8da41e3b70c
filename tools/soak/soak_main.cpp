// Soak run of the whole library through its exported functions, with its real threads, against
// a private redis-server (keyspace notifications on, as the OS runs it) and a fake sysfs tree,
// reached through redis-cli (--redis cli) or over the native connection (--redis native).
//
// Every cycle brings 48 ports up and takes them down; a round of six cycles adds, in turn:
// a module exchanged in a port that is up (the library sets admin_status down, the soak as the
// OS takes the port down, the library sets it up again, the soak creates the port again and
// checks it gets the new module's tuning); the server frozen (SIGSTOP) for a few seconds while
// ports come and go; a module exchanged in a port that is down (stored, and used when the port
// is created again); the server stopped and started again (and seeded again as the OS would);
// and the server frozen between the "down" of an exchange and the port-down that must set the
// port up again (the library owes that "up" and writes it once Redis answers). Tuning
// rescans alternate a valid and a broken directory every few seconds.
//
// It fails when an SDK call takes longer than the Redis bound of its mode plus some slack, when
// a port's tuning is not that of the module the model says is in its cage (the EEPROM and
// port_config.ini agree with Redis, so the fallbacks during an outage give the same tuning),
// when an exchange is not noticed, when a port's admin_status is not what the model expects
// once a fault has ended, and on any leak: resident memory growing after warm-up, or open
// descriptors, threads, child processes or the library's connections to the server (CLIENT
// LIST) not coming back to what they should be.
// Usage: pltfm-soak [--seconds N] [--redis cli|native] [--csv FILE] [--log FILE]
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fake_platform.h"
#include "ifcs_devport.h"
#include "platform_hw.h"
#include "platform_hw_internal.h"
#include "platform_hw_redis_events.h"
#include "platform_hw_redis_stall.h"
#include "platform_hw_redis_transport.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "redis_server.h"
#include "serdes_records.h"
#include "tuning_reference.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

enum class Mode { cli, native };

// A leak shows in the heap the allocator hands out; the resident size also moves with the
// allocator's fragmentation (the tuning database is built again at every valid rescan).
constexpr long kHeapGrowthLimitKb = 32;
constexpr long kRssGrowthLimitKb = 1024;
// Warm-up: three cycles, and 30 s (half the run when it is shorter).
constexpr auto kWarmUpMax = 30s;
constexpr int kWarmUpCycles = 3;
constexpr auto kRescanEvery = 4s;
// How long a fault lasts while ports keep coming and going.
constexpr auto kFaultHold = 3s;
// What an SDK call may take beyond its mode's Redis bound: the work of the call itself on a
// loaded machine, and a wait for `mutex` behind the insertion thread's own bounded read.
constexpr milliseconds kCallSlack = 1000ms;
// How long the insertion thread may take to notice an exchange or write an owed "up": a pass
// over 48 ports through redis-cli takes seconds on a busy machine.
constexpr auto kNoticeLimit = 60s;

// What a cycle does besides bringing every port up and down.
enum class Step { plain, swap_in_up_port, pause, swap_in_down_port, restart, pause_in_exchange };
constexpr Step kRound[] = {Step::plain,   Step::swap_in_up_port,
                           Step::pause,   Step::swap_in_down_port,
                           Step::restart, Step::pause_in_exchange};
constexpr int kRoundCycles = static_cast<int>(std::size(kRound));

const char *step_name(Step s) {
    switch (s) {
        case Step::plain:
            return "";
        case Step::swap_in_up_port:
            return "swap, port up";
        case Step::pause:
            return "server frozen";
        case Step::swap_in_down_port:
            return "swap, port down";
        case Step::restart:
            return "server restarted";
        case Step::pause_in_exchange:
            return "frozen in exchange";
    }
    return "";
}

// ---- what is sampled ----

struct Sample {
    double t = 0;  // seconds since start
    int cycle = 0;
    long rss_kb = 0;
    long heap_kb = 0;  // allocated from the heap and not freed
    int fds = 0, threads = 0, children = 0;
    int clients = 0;      // the library's connections to the server
    long slowest_ms = 0;  // slowest SDK call of the cycle
    Step step = Step::plain;
};

long heap_kb() {
    const struct mallinfo2 m = ::mallinfo2();
    return static_cast<long>((m.uordblks + m.hblkhd) / 1024);
}

long rss_kb() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

int entries(const char *dir) {
    int n = 0;
    if (DIR *d = ::opendir(dir)) {
        while (const dirent *e = ::readdir(d)) n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

// Processes whose parent is this one.
int children() {
    const pid_t self = ::getpid();
    int n = 0;
    DIR *d = ::opendir("/proc");
    if (d == nullptr) return -1;
    while (const dirent *e = ::readdir(d)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
        std::string stat;
        std::getline(in, stat);
        const auto close = stat.rfind(')');  // the command name may hold spaces
        if (close == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == self)
            ++n;
    }
    ::closedir(d);
    return n;
}

// Connections the server has, less the one asking.
int clients(const pltfm::test::RedisServer &redis) {
    const pltfm::test::RedisReply r = redis.command(0, {"CLIENT", "LIST"});
    if (r.kind != pltfm::test::RedisReply::Kind::bulk) return -1;
    return static_cast<int>(std::count(r.text.begin(), r.text.end(), '\n')) - 1;
}

// ---- the switch around the library ----

// A port as the SDK describes it: SerDes group (1 to 33), start lane, lane count, speed.
struct Port {
    int32_t sg, sl, nl, speed;
    uint32_t slot() const { return *pltfm::hw::port_slot(sg - 1, sl); }
    std::string name() const { return "Ethernet" + std::to_string(slot() - 1); }
    int cage() const { return pltfm::test::FakePlatform::front_panel_of(sg - 1, sl); }
    std::vector<ifcs_attr_t> attrs() const {
        using pltfm::test::devport;
        return {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, sg),
                devport(IFCS_DEVPORT_ATTR_START_LANE, sl), devport(IFCS_DEVPORT_ATTR_NUM_LANES, nl),
                devport(IFCS_DEVPORT_ATTR_SPEED, speed),
                devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
    }
};

// 16 cages of one 400G port each (their modules are exchanged) and 8 cages broken out
// 4 x 100G: 48 ports, all with 50G PAM4 lanes.
constexpr std::size_t kSwappable = 16;
std::vector<Port> ports() {
    std::vector<Port> out;
    for (int sg = 1; sg <= 16; ++sg) out.push_back({sg, 0, 8, 400000});
    for (int sg = 17; sg <= 24; ++sg)
        for (int sl = 0; sl < 8; sl += 2) out.push_back({sg, sl, 2, 100000});
    return out;
}

const char *cable_of(bool dac) {
    return dac ? "DAC_1M" : "OPTICS";
}

struct Failure {
    std::string what;
};

[[noreturn]] void fail(const std::string &what) {
    throw Failure{what};
}

std::string ms_text(milliseconds d) {
    return std::to_string(d.count()) + " ms";
}

class Soak {
  public:
    Soak(int seconds, Mode mode, std::string csv)
        : seconds_(seconds),
          mode_(mode),
          csv_(std::move(csv)),
          call_limit_((mode == Mode::native ? pltfm::redis::kNativeAnswerBound
                                            : pltfm::redis::kRedisCliBound) +
                      kCallSlack),
          library_clients_(mode == Mode::native ? 2 : 0) {}

    // The samples are written (CSV and plot) whether the run passes or fails.
    int run() {
        try {
            return run_cycles();
        } catch (const Failure &) {
            write_results();
            throw;
        }
    }

  private:
    // ---- set-up: Redis seeded as the OS does, the platform tree agreeing with it ----

    void write_record(const Port &p, bool dac) const {
        const bool ok =
            redis_.command(6, {"HSET", "TRANSCEIVER_INFO|" + p.name(), "type",
                               "QSFP-DD Double Density 8X Pluggable Transceiver", "cable_length",
                               dac ? "1" : "0", "specification_compliance",
                               dac ? "passive_copper_media_interface" : "400GBASE-DR4 Optical",
                               "connector", dac ? "No separable connector" : "LC"})
                    .kind == pltfm::test::RedisReply::Kind::integer &&
            redis_.hset(6, "TRANSCEIVER_STATUS|" + p.name(), "status", "1");
        if (!ok) fail("cannot write the transceiver record of " + p.name());
    }

    bool dac_in(const Port &p) const { return p.nl == 8 && dac_[p.sg]; }

    // What the OS publishes: speeds, admin_status (every port up: the soak seeds only while no
    // exchange cycle is open) and the record of the module in each cage.
    void seed_redis() const {
        for (const Port &p : ports_) {
            if (!redis_.hset(0, "PORT_TABLE:" + p.name(), "speed", std::to_string(p.speed)) ||
                !redis_.hset(4, "PORT|" + p.name(), "admin_status", "up"))
                fail("cannot seed Redis");
            write_record(p, dac_in(p));
        }
    }

    void set_up() {
        if (!redis_.ok()) fail("redis-server: " + redis_.error());
        redis_.use_on_path();
        if (mode_ == Mode::native)
            ::setenv("PLTFM_REDIS", ("unix:" + redis_.socket_path()).c_str(), 1);
        else
            ::unsetenv("PLTFM_REDIS");
        if (!fake_.ok()) fail("fake platform: " + fake_.error());
        fake_.tuning_dir_from(PLTFM_SOAK_SAMPLE_CSV);
        for (const Port &p : ports_) {
            fake_.port_config_line(p.name(), p.speed);
            if (p.sl == 0)
                fake_.cage(p.cage(), p.nl == 8 ? pltfm::test::qsfp_dd_optic()
                                               : pltfm::test::qsfp_dd_optic_breakout(4));
        }
        if (!fake_.ok()) fail("fake platform: " + fake_.error());
        fake_.activate();
        seed_redis();

        const pltfm::test::Reference reference = pltfm::test::read_reference(fake_.tuning_dir());
        for (std::size_t i = 0; i < ports_.size(); ++i) {
            const Port &p = ports_[i];
            for (bool dac : {false, true}) {
                if (dac && p.nl != 8) continue;
                const std::string key = std::string(cable_of(dac)) + "|GENERIC|50G/400G|PAM4|" +
                                        std::to_string(pltfm::hw::front_port_key(p.sg - 1));
                const auto lanes = reference.find(key);
                if (lanes == reference.end()) fail("the sample tuning has no rows for " + key);
                tuning_[{i, dac}] = pltfm::test::expected(
                    lanes->second, static_cast<std::size_t>(p.sl), static_cast<std::size_t>(p.nl));
            }
        }

        char platform[] = "SwitchSDK";
        if (pltfm_pre_init(platform) != PLTFM_SUCCESS) fail("pltfm_pre_init failed");
        if (pltfm_init(platform) != PLTFM_SUCCESS) fail("pltfm_init failed");
    }

    // ---- the cycles ----

    int run_cycles() {
        set_up();
        samples_.reserve(1 << 14);  // its growth would count as heap in use
        const auto start = Clock::now();
        const auto warm_up =
            std::min<Clock::duration>(kWarmUpMax, std::chrono::seconds(seconds_) / 2);
        auto next_rescan = start + kRescanEvery;
        Sample baseline;
        double printed_at = 0;
        bool warm = false;
        std::printf("%8s %6s %9s %8s %5s %8s %9s %8s %8s  %s\n", "time s", "cycle", "RSS kB",
                    "heap kB", "fds", "threads", "children", "clients", "call ms", "fault or swap");
        int cycle = 1;
        // At least one round: every fault and exchange is met once.
        for (; Clock::now() - start < std::chrono::seconds(seconds_) || cycle <= kRoundCycles;
             ++cycle) {
            const Step step = kRound[(cycle - 1) % kRoundCycles];
            cycle_slowest_ = 0ms;
            run_step(step, cycle);
            if (Clock::now() >= next_rescan) {
                rescan();
                next_rescan = Clock::now() + kRescanEvery;
            }
            Sample s = settled_sample(start, cycle, warm ? &baseline : nullptr);
            s.step = step;
            samples_.push_back(s);
            if (!warm && Clock::now() - start >= warm_up && cycle >= kWarmUpCycles) {
                warm = true;
                baseline = baseline_sample(start, cycle);
                baseline.step = step;
                baseline.slowest_ms = s.slowest_ms;
                s = samples_.back() = baseline;
                print(s, "  <- baseline after warm-up");
                printed_at = s.t;
            } else if (!warm || cycle % 10 == 0 || s.t - printed_at >= 30) {
                // Every tenth cycle, and at least every 30 s.
                print(s, "");
                printed_at = s.t;
            }
            std::fflush(stdout);
            if (warm) check(baseline, s);
        }
        const Sample &last = samples_.back();
        print(last, "  <- last");
        write_results();
        const auto exchanges = [](int n, double longest) {
            char text[64];
            std::snprintf(text, sizeof text, n > 0 ? "%d (noticed within %.3f s)" : "none", n,
                          longest);
            return std::string(text);
        };
        std::printf(
            "PASS (%s): %d cycles in %.0f s: %d port bring-ups (and %d while the server was "
            "frozen or stopped); module exchanges: fast %s, slow %s; %d freezes and %d restarts "
            "of the server, %d owed admin ups written within %.3f s of the server's return; %d "
            "rescans. Slowest SDK call %ld ms (limit %ld ms). After warm-up: heap in use %+ld kB "
            "(limit %ld kB), RSS %+ld kB (limit %ld kB); fds, threads, children and server "
            "connections back to baseline\n",
            mode_ == Mode::native ? "native connection, keyspace events" : "redis-cli", last.cycle,
            last.t, bring_ups_, fault_bring_ups_,
            exchanges(fast_swaps_, longest_fast_notice_).c_str(),
            exchanges(slow_swaps_, longest_slow_notice_).c_str(), pauses_, restarts_, owed_written_,
            longest_owed_, rescans_, static_cast<long>(slowest_.count()),
            static_cast<long>(call_limit_.count()), last.heap_kb - baseline.heap_kb,
            kHeapGrowthLimitKb, last.rss_kb - baseline.rss_kb, kRssGrowthLimitKb);
        return 0;
    }

    void print(const Sample &s, const char *note) const {
        std::printf("%8.1f %6d %9ld %8ld %5d %8d %9d %8d %8ld  %s%s\n", s.t, s.cycle, s.rss_kb,
                    s.heap_kb, s.fds, s.threads, s.children, s.clients, s.slowest_ms,
                    step_name(s.step), note);
    }

    void run_step(Step step, int cycle) {
        const std::string at = "cycle " + std::to_string(cycle) + ": ";
        switch (step) {
            case Step::plain:
                bring_up(at);
                bring_down(at);
                break;
            case Step::swap_in_up_port:
                bring_up(at);
                exchange_in_up_port(at, next_swap_port());
                bring_down(at);
                break;
            case Step::pause:
                redis_.pause();
                ++pauses_;
                hold_fault(at + "server frozen: ", kNone);
                redis_.resume();
                after_fault(at + "after the server was frozen: ");
                break;
            case Step::swap_in_down_port:
                bring_up(at);
                bring_down(at);
                exchange_in_down_port(at, next_swap_port());
                break;
            case Step::restart:
                redis_.stop();
                ++restarts_;
                hold_fault(at + "server stopped: ", kNone);
                redis_.start();
                if (!redis_.ok()) fail(at + "redis-server did not start again: " + redis_.error());
                seed_redis();
                after_fault(at + "after the server's restart: ");
                break;
            case Step::pause_in_exchange:
                bring_up(at);
                exchange_across_a_freeze(at, next_swap_port());
                bring_down(at);
                break;
        }
        // No exchange cycle is open between cycles: the library has left every port up.
        check_admin_all_up(at + "at the end: ");
    }

    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

    std::size_t next_swap_port() {
        swap_port_ = (swap_port_ + 1) % kSwappable;
        return swap_port_;
    }

    // An SDK call, timed against the limit.
    template <class Call>
    auto timed(const std::string &what, Call call) {
        const auto start = Clock::now();
        auto result = call();
        const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        cycle_slowest_ = std::max(cycle_slowest_, took);
        slowest_ = std::max(slowest_, took);
        if (took > call_limit_)
            fail(what + " took " + ms_text(took) + " (limit " + ms_text(call_limit_) + ")");
        return result;
    }

    int event(const std::string &at, const Port &p, const char *what,
              int (*fn)(char *, ifcs_attr_t *, uint32_t *)) {
        auto list = p.attrs();
        uint32_t count = static_cast<uint32_t>(list.size());
        std::string n = p.name();
        return timed(at + what + " of " + n, [&] { return fn(n.data(), list.data(), &count); });
    }

    // Pre-initialisation (its tuning checked against the model), init and link up.
    void create(const std::string &at, std::size_t i) {
        const Port &p = ports_[i];
        std::vector<ifcs_attr_t> attrs = p.attrs();
        uint32_t count = static_cast<uint32_t>(attrs.size());
        std::string name = p.name();
        const ifcs_attr_t *list = timed(at + "pre-initialisation of " + name, [&] {
            return pltfm_port_pre_init(name.data(), attrs.data(), &count);
        });
        if (list == nullptr) fail(at + "pre-initialisation of " + name + " failed");
        const bool dac = dac_in(p);
        if (pltfm::test::recs_of(list, count) != tuning_.at({i, dac}))
            fail(at + name + " did not get the tuning of its " + cable_of(dac));
        if (event(at, p, "init", pltfm_port_init) != PLTFM_SUCCESS ||
            event(at, p, "link-up", pltfm_port_link_up) != PLTFM_SUCCESS)
            fail(at + "init or link-up of " + name + " failed");
        ++(in_fault_ ? fault_bring_ups_ : bring_ups_);
    }

    void take_down(const std::string &at, std::size_t i) {
        const Port &p = ports_[i];
        std::string name = p.name();
        event(at, p, "link-down", pltfm_port_link_down);
        if (timed(at + "port-down of " + name, [&] { return pltfm_port_down(name.data()); }) !=
            PLTFM_SUCCESS)
            fail(at + "port-down of " + name + " failed");
    }

    void bring_up(const std::string &at, std::size_t except = kNone) {
        for (std::size_t i = 0; i < ports_.size(); ++i)
            if (i != except) create(at, i);
    }

    void bring_down(const std::string &at, std::size_t except = kNone) {
        for (std::size_t i = 0; i < ports_.size(); ++i)
            if (i != except) take_down(at, i);
    }

    // The ports come and go twice while a fault lasts: at once (the first access meets the
    // fault) and half-way (the accesses fail at once, or are refused one by one).
    void hold_fault(const std::string &at, std::size_t except) {
        const auto start = Clock::now();
        in_fault_ = true;
        for (const auto when : {start, start + kFaultHold / 2}) {
            std::this_thread::sleep_until(when);
            bring_up(at, except);
            bring_down(at, except);
        }
        in_fault_ = false;
        std::this_thread::sleep_until(start + kFaultHold);
    }

    // Once the server is back: the library reaches it again (the stall is over, and in native
    // mode the module events are subscribed again), and every port's admin_status reads up.
    void after_fault(const std::string &at) {
        wait_for(at + "the library did not reach Redis again", [&] {
            if (pltfm::redis::stall_policy().stalled()) return false;
            if (mode_ == Mode::cli) return true;
            auto *events = pltfm::redis::keyspace_events();
            return events != nullptr && events->subscribed();
        });
        check_admin_all_up(at);
    }

    void check_admin_all_up(const std::string &at) const {
        for (const Port &p : ports_)
            if (admin(p) != "up")
                fail(at + p.name() + " has admin_status \"" + admin(p) + "\", not \"up\"");
    }

    std::string admin(const Port &p) const {
        return redis_.hget(4, "PORT|" + p.name(), "admin_status").value_or("(none)");
    }

    // ---- module exchanges ----

    // Exchanges the module of swappable port i for the other kind. Fast: the OS's daemon writes
    // status 0, the new record and status 1 within milliseconds (only module events can see
    // it: native mode). Slow: pulled, and the other kind put in once the insertion thread has
    // seen the cage empty. Native mode alternates the two; redis-cli is always slow. Returns
    // the moment the new module was reported.
    Clock::time_point exchange(const std::string &at, std::size_t i, bool &fast) {
        const Port &p = ports_[i];
        fast = mode_ == Mode::native && (fast_swaps_ + slow_swaps_) % 2 == 0;
        if (!redis_.hset(6, "TRANSCEIVER_STATUS|" + p.name(), "status", "0"))
            fail(at + "cannot write the status of " + p.name());
        if (!fast) {
            fake_.empty_cage(p.cage());
            wait_for(at + "the insertion thread did not notice the empty cage of " + p.name(),
                     [&] { return !inserted(p.slot()); });
        }
        const bool dac = !dac_[p.sg];
        dac_[p.sg] = dac;
        fake_.cage(p.cage(), dac ? pltfm::test::qsfp_dd_dac(1.0) : pltfm::test::qsfp_dd_optic());
        write_record(p, dac);
        return Clock::now();
    }

    void noticed(bool fast, Clock::time_point since) {
        const double took = std::chrono::duration<double>(Clock::now() - since).count();
        if (fast) {
            ++fast_swaps_;
            longest_fast_notice_ = std::max(longest_fast_notice_, took);
        } else {
            ++slow_swaps_;
            longest_slow_notice_ = std::max(longest_slow_notice_, took);
        }
    }

    // The library must set the port's admin_status down and store the new module.
    void wait_for_exchange_cycle(const std::string &at, std::size_t i, bool fast,
                                 Clock::time_point since) {
        const Port &p = ports_[i];
        wait_for(at + "the insertion thread did not set admin_status down for the new module of " +
                     p.name(),
                 [&] { return admin(p) == "down"; });
        noticed(fast, since);
        if (stored_cable(p.slot()) != cable_of(dac_in(p)))
            fail(at + p.name() + " stored " + stored_cable(p.slot()) + " for its new " +
                 cable_of(dac_in(p)));
    }

    // In an up port: the exchange cycle, then the port created again with the new tuning.
    void exchange_in_up_port(const std::string &at, std::size_t i) {
        const Port &p = ports_[i];
        bool fast = false;
        const auto since = exchange(at, i, fast);
        wait_for_exchange_cycle(at, i, fast, since);
        take_down(at, i);  // the OS answers admin_status down; the library sets it up again
        if (admin(p) != "up")
            fail(at + "port-down of " + p.name() + " left admin_status \"" + admin(p) + "\"");
        create(at, i);
    }

    // In a down port: the module is stored, admin_status is left alone, and the next bring-up
    // checks the new tuning.
    void exchange_in_down_port(const std::string &at, std::size_t i) {
        const Port &p = ports_[i];
        bool fast = false;
        const auto since = exchange(at, i, fast);
        wait_for(
            at + "the insertion thread did not store the new module of down port " + p.name(),
            [&] { return inserted(p.slot()) && stored_cable(p.slot()) == cable_of(dac_in(p)); });
        noticed(fast, since);
        if (admin(p) != "up")
            fail(at + "an exchange in down port " + p.name() + " set admin_status \"" + admin(p) +
                 "\"");
    }

    // The server freezes between the exchange's "down" and the port-down: the "up" is owed,
    // the other ports come and go meanwhile, and once the server is back the insertion thread
    // writes the "up"; then the OS creates the port again.
    void exchange_across_a_freeze(const std::string &at, std::size_t i) {
        const Port &p = ports_[i];
        bool fast = false;
        const auto since = exchange(at, i, fast);
        wait_for_exchange_cycle(at, i, fast, since);
        redis_.pause();
        ++pauses_;
        const std::string during = at + "server frozen in an exchange cycle: ";
        take_down(during, i);
        bring_down(during, i);
        hold_fault(during, i);
        redis_.resume();
        const auto back = Clock::now();
        wait_for(at + "the owed admin up of " + p.name() + " was not written after the freeze",
                 [&] { return admin(p) == "up"; });
        ++owed_written_;
        longest_owed_ =
            std::max(longest_owed_, std::chrono::duration<double>(Clock::now() - back).count());
        after_fault(at + "after a freeze in an exchange cycle: ");
        for (std::size_t k = 0; k < ports_.size(); ++k)
            if (k != i) create(at, k);
        create(at, i);
    }

    static bool inserted(uint32_t slot) {
        pthread_mutex_lock(&mutex);
        const bool bit = (port_state_ar[slot] & (1u << PLTFM_PORT_INSERTED)) != 0;
        pthread_mutex_unlock(&mutex);
        return bit;
    }

    static std::string stored_cable(uint32_t slot) {
        pthread_mutex_lock(&mutex);
        const std::string cable = port_attr_list[slot][1].value;
        pthread_mutex_unlock(&mutex);
        return cable;
    }

    template <class Pred>
    static void wait_for(const std::string &failure, Pred done) {
        const auto limit = Clock::now() + kNoticeLimit;
        while (!done()) {
            if (Clock::now() > limit) fail(failure + " within 60 s");
            std::this_thread::sleep_for(10ms);
        }
    }

    // One poll of the rescan with the trigger present, then one without: a valid directory
    // reloads, a broken one (an extra file failing its check) keeps the tuning in use.
    void rescan() {
        const std::string dir = fake_.tuning_dir();
        const bool broken = rescans_ % 2 == 1;
        if (broken) {
            pltfm::test::write_bytes(dir + "/zz_broken.csv", "VERSION,CABLE TYPE\n");
        } else {
            std::remove((dir + "/zz_broken.csv").c_str());
        }
        pltfm::test::write_bytes(dir + "/csv_rescan", "");
        pltfm::serdes::RescanState state;
        pltfm::serdes::rescan_poll(state);
        std::remove((dir + "/csv_rescan").c_str());
        ++rescans_;
    }

    // ---- samples and checks ----

    Sample sample(Clock::time_point start, int cycle) const {
        Sample s;
        s.t = std::chrono::duration<double>(Clock::now() - start).count();
        s.cycle = cycle;
        s.rss_kb = rss_kb();
        s.heap_kb = heap_kb();
        s.fds = entries("/proc/self/fd") - 1;  // less the listing's own descriptor
        s.threads = entries("/proc/self/task");
        s.children = children();
        s.clients = clients(redis_);
        s.slowest_ms = static_cast<long>(cycle_slowest_.count());
        return s;
    }

    // A sample once descriptors, threads, children and connections are back where they
    // belong: through redis-cli the insertion thread runs a shell and redis-cli for every
    // Redis read, so a child, a pipe and a connection come and go all the time, and after a
    // restart the native connections are made again at the thread's next pass. Gives up
    // (and returns the last sample) after 15 s.
    Sample settled_sample(Clock::time_point start, int cycle, const Sample *baseline) const {
        const auto limit = Clock::now() + 15s;
        for (;;) {
            Sample s = sample(start, cycle);
            if (baseline == nullptr ||
                (s.fds == baseline->fds && s.threads == baseline->threads &&
                 s.children == baseline->children && s.clients == library_clients_) ||
                Clock::now() > limit)
                return s;
            std::this_thread::sleep_for(20ms);
        }
    }

    // The baseline: the fewest descriptors, threads and children seen over three seconds
    // (the quiet moments between the insertion thread's Redis reads).
    Sample baseline_sample(Clock::time_point start, int cycle) const {
        Sample low = sample(start, cycle);
        for (const auto limit = Clock::now() + 3s; Clock::now() < limit;) {
            std::this_thread::sleep_for(20ms);
            const Sample s = sample(start, cycle);
            low.fds = std::min(low.fds, s.fds);
            low.threads = std::min(low.threads, s.threads);
            low.children = std::min(low.children, s.children);
            low.clients = std::min(low.clients, s.clients);
            low.rss_kb = s.rss_kb;
            low.heap_kb = s.heap_kb;
            low.t = s.t;
        }
        return low;
    }

    void check(const Sample &baseline, const Sample &s) const {
        if (s.heap_kb - baseline.heap_kb > kHeapGrowthLimitKb)
            fail("the heap in use grew by " + std::to_string(s.heap_kb - baseline.heap_kb) +
                 " kB after warm-up");
        if (s.rss_kb - baseline.rss_kb > kRssGrowthLimitKb)
            fail("RSS grew by " + std::to_string(s.rss_kb - baseline.rss_kb) + " kB after warm-up");
        if (s.fds != baseline.fds)
            fail("open descriptors " + std::to_string(s.fds) + ", baseline " +
                 std::to_string(baseline.fds));
        if (s.threads != baseline.threads)
            fail("threads " + std::to_string(s.threads) + ", baseline " +
                 std::to_string(baseline.threads));
        if (s.children != baseline.children)
            fail("children " + std::to_string(s.children) + ", baseline " +
                 std::to_string(baseline.children));
        if (s.clients != library_clients_)
            fail("the library has " + std::to_string(s.clients) +
                 " connections to the server, not " + std::to_string(library_clients_));
    }

    // The CSV file, and beside it an SVG plot of the resident memory over time.
    void write_results() const {
        std::ofstream out(csv_);
        out << "seconds,cycle,rss_kb,heap_kb,fds,threads,children,clients,slowest_call_ms,step\n";
        for (const Sample &s : samples_)
            out << s.t << ',' << s.cycle << ',' << s.rss_kb << ',' << s.heap_kb << ',' << s.fds
                << ',' << s.threads << ',' << s.children << ',' << s.clients << ',' << s.slowest_ms
                << ',' << step_name(s.step) << '\n';
        if (samples_.empty()) return;
        long lo = samples_[0].rss_kb, hi = lo;
        for (const Sample &s : samples_) lo = std::min(lo, s.rss_kb), hi = std::max(hi, s.rss_kb);
        hi = std::max(hi, lo + 1);
        const double span = std::max(samples_.back().t, 1.0);
        std::ofstream svg(csv_.substr(0, csv_.rfind('.')) + ".svg");
        svg << "<svg xmlns='http://www.w3.org/2000/svg' width='640' height='240' "
               "font-family='sans-serif' font-size='12'>\n<rect width='640' height='240' "
               "fill='white'/>\n<text x='10' y='16'>RSS over the soak run: "
            << lo << " to " << hi << " kB in " << static_cast<int>(span) << " s</text>\n"
            << "<polyline fill='none' stroke='steelblue' stroke-width='1.5' points='";
        for (const Sample &s : samples_)
            svg << 40 + 580 * s.t / span << ',' << 220 - 180.0 * (s.rss_kb - lo) / (hi - lo) << ' ';
        svg << "'/>\n<text x='40' y='236'>0 s</text><text x='580' y='236'>"
            << static_cast<int>(span) << " s</text>\n</svg>\n";
    }

    const int seconds_;
    const Mode mode_;
    const std::string csv_;
    const milliseconds call_limit_;
    const int library_clients_;  // connections the library keeps: command and events, or none
    pltfm::test::RedisServer redis_{"AKE"};
    pltfm::test::FakePlatform fake_;
    const std::vector<Port> ports_ = ports();
    // The expected records of each port with an optic (false) or a 1 m DAC (true).
    std::map<std::pair<std::size_t, bool>, std::vector<pltfm::test::Rec>> tuning_;
    std::vector<Sample> samples_;
    bool dac_[34] = {};  // by SerDes group: the 400G cage holds a 1 m DAC, not an optic
    std::size_t swap_port_ = 0;
    milliseconds cycle_slowest_{0}, slowest_{0};
    bool in_fault_ = false;  // the server is frozen or stopped
    int bring_ups_ = 0, fault_bring_ups_ = 0, fast_swaps_ = 0, slow_swaps_ = 0;
    int pauses_ = 0, restarts_ = 0, owed_written_ = 0, rescans_ = 0;
    double longest_fast_notice_ = 0, longest_slow_notice_ = 0, longest_owed_ = 0;
};

int usage_error(const std::string &why) {
    std::fprintf(stderr,
                 "pltfm-soak: %s\nusage: pltfm-soak [--seconds N] [--redis cli|native] [--csv "
                 "FILE] [--log FILE]\n",
                 why.c_str());
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    // The heap in use is measured with the allocator's per-thread caches off: they keep freed
    // blocks that would count as in use. The setting is read at start-up, so the soak starts
    // itself again with it.
    if (std::getenv("PLTFM_SOAK_STARTED") == nullptr) {
        const char *tunables = std::getenv("GLIBC_TUNABLES");
        const std::string no_cache = "glibc.malloc.tcache_count=0";
        ::setenv("GLIBC_TUNABLES",
                 (tunables != nullptr && *tunables != '\0' ? std::string(tunables) + ":" : "")
                     .append(no_cache)
                     .c_str(),
                 1);
        ::setenv("PLTFM_SOAK_STARTED", "1", 1);
        ::execv("/proc/self/exe", argv);
        std::perror("pltfm-soak: cannot start itself again");
        return 2;
    }
    int seconds = 300;
    Mode mode = Mode::cli;
    std::string csv = "soak.csv";
    std::string log = "pltfm-soak.log";
    for (int i = 1; i < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt != "--seconds" && opt != "--csv" && opt != "--log" && opt != "--redis")
            return usage_error("unknown option " + opt);
        if (i + 1 == argc) return usage_error(opt + " needs a value");
        const std::string value = argv[i + 1];
        if (opt == "--seconds") {
            char *end = nullptr;
            errno = 0;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || value[0] < '0' || value[0] > '9' || *end != '\0' ||
                errno == ERANGE || n > std::numeric_limits<int>::max())
                return usage_error("--seconds takes a whole number of seconds, not " + value);
            seconds = static_cast<int>(n);
        } else if (opt == "--redis") {
            if (value != "cli" && value != "native")
                return usage_error("--redis takes cli or native, not " + value);
            mode = value == "native" ? Mode::native : Mode::cli;
        } else if (opt == "--csv") {
            csv = value;
        } else {
            log = value;
        }
    }
    // The library logs every call on standard error: keep it in a file.
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0) {
        std::perror(log.c_str());
        return 2;
    }
    ::close(fd);
    std::printf("soak: %d s, 48 ports, Redis %s, library log in %s, samples in %s\n", seconds,
                mode == Mode::native ? "over the native connection with keyspace events"
                                     : "through redis-cli",
                log.c_str(), csv.c_str());
    try {
        Soak soak(seconds, mode, csv);
        return soak.run();
    } catch (const Failure &f) {
        std::printf("FAIL: %s\n", f.what.c_str());
        return 1;
    }
}
