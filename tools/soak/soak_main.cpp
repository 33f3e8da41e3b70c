// Soak run of the whole library through its exported functions, against a private
// redis-server and a fake sysfs tree: bring-up and port-down of 48 ports over and over, module
// swaps that the insertion thread must notice, and tuning rescans alternating a valid and a
// broken directory. After every cycle it samples the process's resident memory, open
// descriptors, threads and child processes; it fails when memory grows more than the allowed
// amount after warm-up, or when descriptors, threads or children do not return to baseline.
// Usage: pltfm-soak [--seconds N] [--csv FILE] [--log FILE]
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "fake_platform.h"
#include "ifcs_devport.h"
#include "platform_hw.h"
#include "platform_hw_internal.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "redis_server.h"
#include "serdes_records.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr long kRssGrowthLimitKb = 256;
// Warm-up: the first 30 s and at least three cycles (caches, the allocator's arenas).
constexpr auto kWarmUp = 30s;
constexpr int kWarmUpCycles = 3;
constexpr auto kRescanEvery = 4s;
constexpr int kSwapEvery = 3;  // cycles

// ---- what is sampled ----

struct Sample {
    double t = 0;  // seconds since start
    int cycle = 0;
    long rss_kb = 0;
    int fds = 0, threads = 0, children = 0;
};

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

Sample sample(Clock::time_point start, int cycle) {
    Sample s;
    s.t = std::chrono::duration<double>(Clock::now() - start).count();
    s.cycle = cycle;
    s.rss_kb = rss_kb();
    s.fds = entries("/proc/self/fd") - 1;  // less the listing's own descriptor
    s.threads = entries("/proc/self/task");
    s.children = children();
    return s;
}

// ---- the switch around the library ----

// A port as the SDK describes it: SerDes group (1 to 33), start lane, lane count, speed.
struct Port {
    int32_t sg, sl, nl, speed;
    std::string name() const {
        return "Ethernet" + std::to_string(*pltfm::hw::port_slot(sg - 1, sl) - 1);
    }
    std::vector<ifcs_attr_t> attrs() const {
        using pltfm::test::devport;
        return {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, sg),
                devport(IFCS_DEVPORT_ATTR_START_LANE, sl), devport(IFCS_DEVPORT_ATTR_NUM_LANES, nl),
                devport(IFCS_DEVPORT_ATTR_SPEED, speed),
                devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
    }
    int event(int (*fn)(char *, ifcs_attr_t *, uint32_t *)) const {
        auto list = attrs();
        uint32_t count = static_cast<uint32_t>(list.size());
        std::string n = name();
        return fn(n.data(), list.data(), &count);
    }
};

// 16 cages of one 400G port each and 8 cages broken out 4 x 100G: 48 ports.
std::vector<Port> ports() {
    std::vector<Port> out;
    for (int sg = 1; sg <= 16; ++sg) out.push_back({sg, 0, 8, 400000});
    for (int sg = 17; sg <= 24; ++sg)
        for (int sl = 0; sl < 8; sl += 2) out.push_back({sg, sl, 2, 100000});
    return out;
}

void record_module(const pltfm::test::RedisServer &redis, const std::string &name, bool dac) {
    const std::string info = "TRANSCEIVER_INFO|" + name;
    redis.hset(6, info, "type", "QSFP-DD Double Density 8X Pluggable Transceiver");
    redis.hset(6, info, "cable_length", dac ? "1" : "0");
    redis.hset(6, info, "specification_compliance",
               dac ? "passive_copper_media_interface" : "400GBASE-DR4 Optical");
    redis.hset(6, info, "connector", dac ? "No separable connector" : "LC");
    redis.hset(6, "TRANSCEIVER_STATUS|" + name, "status", "1");
}

struct Failure {
    std::string what;
};

[[noreturn]] void fail(const std::string &what) {
    throw Failure{what};
}

class Soak {
  public:
    Soak(int seconds, std::string csv) : seconds_(seconds), csv_(std::move(csv)) {}

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
    int run_cycles() {
        if (!redis_.ok()) fail("redis-server: " + redis_.error());
        redis_.use_on_path();
        if (!fake_.ok()) fail("fake platform: " + fake_.error());
        fake_.tuning_dir_from(PLTFM_SOAK_SAMPLE_CSV);
        for (const Port &p : ports_) {
            fake_.port_config_line(p.name(), p.speed);
            redis_.hset(0, "PORT_TABLE:" + p.name(), "speed", std::to_string(p.speed));
            redis_.hset(4, "PORT|" + p.name(), "admin_status", "up");
            const int cage = pltfm::test::FakePlatform::front_panel_of(p.sg - 1, p.sl);
            if (p.sl == 0) {
                fake_.cage(cage, p.nl == 8 ? pltfm::test::qsfp_dd_optic()
                                           : pltfm::test::qsfp_dd_optic_breakout(4));
            }
            record_module(redis_, p.name(), false);
        }
        if (!fake_.ok()) fail("fake platform: " + fake_.error());
        fake_.activate();

        char platform[] = "SwitchSDK";
        if (pltfm_pre_init(platform) != PLTFM_SUCCESS) fail("pltfm_pre_init failed");
        if (pltfm_init(platform) != PLTFM_SUCCESS) fail("pltfm_init failed");

        const auto start = Clock::now();
        auto next_rescan = start + kRescanEvery;
        Sample baseline;
        bool warm = false;
        std::printf("%8s %6s %9s %5s %8s %9s\n", "time s", "cycle", "RSS kB", "fds", "threads",
                    "children");
        for (int cycle = 1; Clock::now() - start < std::chrono::seconds(seconds_); ++cycle) {
            bring_up_and_down(cycle);
            if (cycle % kSwapEvery == 0) swap_module(cycle / kSwapEvery);
            if (Clock::now() >= next_rescan) {
                rescan();
                next_rescan = Clock::now() + kRescanEvery;
            }
            Sample s = settled_sample(start, cycle, warm ? &baseline : nullptr);
            samples_.push_back(s);
            if (!warm && Clock::now() - start >= kWarmUp && cycle >= kWarmUpCycles) {
                warm = true;
                baseline = s = samples_.back() = baseline_sample(start, cycle);
                std::printf("%8.1f %6d %9ld %5d %8d %9d  <- baseline after warm-up\n", s.t, s.cycle,
                            s.rss_kb, s.fds, s.threads, s.children);
            } else if (!warm || cycle % 10 == 0) {
                std::printf("%8.1f %6d %9ld %5d %8d %9d\n", s.t, s.cycle, s.rss_kb, s.fds,
                            s.threads, s.children);
            }
            std::fflush(stdout);
            if (warm) check(baseline, s);
        }
        const Sample &last = samples_.back();
        std::printf("%8.1f %6d %9ld %5d %8d %9d  <- last\n", last.t, last.cycle, last.rss_kb,
                    last.fds, last.threads, last.children);
        if (!warm) fail("the run ended before the warm-up did (30 s and three cycles)");
        write_results();
        std::printf(
            "PASS: %d cycles (%d port bring-ups, %d module swaps noticed within %.1f s, %d "
            "rescans) in %.0f s; RSS %+ld kB after warm-up (limit %ld kB); fds, threads and "
            "children back to baseline\n",
            last.cycle, last.cycle * static_cast<int>(ports_.size()), swaps_, longest_notice_,
            rescans_, last.t, last.rss_kb - baseline.rss_kb, kRssGrowthLimitKb);
        return 0;
    }

    // soak.csv, and beside it an SVG plot of the resident memory over time.
    void write_results() const {
        std::ofstream out(csv_);
        out << "seconds,cycle,rss_kb,fds,threads,children\n";
        for (const Sample &s : samples_)
            out << s.t << ',' << s.cycle << ',' << s.rss_kb << ',' << s.fds << ',' << s.threads
                << ',' << s.children << '\n';
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

    // Every port pre-initialised, initialised and up, then taken down (its list released).
    void bring_up_and_down(int cycle) {
        for (const Port &p : ports_) {
            std::vector<ifcs_attr_t> attrs = p.attrs();
            uint32_t count = static_cast<uint32_t>(attrs.size());
            std::string name = p.name();
            if (pltfm_port_pre_init(name.data(), attrs.data(), &count) == nullptr)
                fail("cycle " + std::to_string(cycle) + ": pre-initialisation of " + name +
                     " failed");
            if (p.event(pltfm_port_init) != PLTFM_SUCCESS ||
                p.event(pltfm_port_link_up) != PLTFM_SUCCESS)
                fail("cycle " + std::to_string(cycle) + ": init or link-up of " + name + " failed");
        }
        for (const Port &p : ports_) {
            std::string name = p.name();
            p.event(pltfm_port_link_down);
            if (pltfm_port_down(name.data()) != PLTFM_SUCCESS)
                fail("cycle " + std::to_string(cycle) + ": port-down of " + name + " failed");
        }
    }

    // Alternates the module of one 400G cage between an optic and a 1 m DAC as a person
    // would: pulled (the OS records the cage empty), then the other module inserted. Waits
    // until the insertion thread has seen the empty cage and then the new module (it asks
    // the OS to take the port down: admin_status down in database 4).
    void swap_module(int n) {
        const Port &p = ports_[static_cast<std::size_t>(n) % 16];
        const uint32_t slot = *pltfm::hw::port_slot(p.sg - 1, p.sl);
        const int cage = pltfm::test::FakePlatform::front_panel_of(p.sg - 1, p.sl);
        const auto swapped = Clock::now();
        redis_.hset(6, "TRANSCEIVER_STATUS|" + p.name(), "status", "0");
        fake_.empty_cage(cage);
        wait_for("the empty cage of " + p.name(), [&] { return !inserted(slot); });
        const bool dac = !dac_[p.sg];
        dac_[p.sg] = dac;
        fake_.cage(cage, dac ? pltfm::test::qsfp_dd_dac(1.0) : pltfm::test::qsfp_dd_optic());
        record_module(redis_, p.name(), dac);
        wait_for("the new module of " + p.name(),
                 [&] { return redis_.hget(4, "PORT|" + p.name(), "admin_status") == "down"; });
        longest_notice_ = std::max(longest_notice_,
                                   std::chrono::duration<double>(Clock::now() - swapped).count());
        ++swaps_;  // the next port-down sets admin_status up again
    }

    static bool inserted(uint32_t slot) {
        pthread_mutex_lock(&mutex);
        const bool bit = (port_state_ar[slot] & (1u << PLTFM_PORT_INSERTED)) != 0;
        pthread_mutex_unlock(&mutex);
        return bit;
    }

    // Waits up to a minute: the thread visits every configured port once a pass, and with a
    // process per Redis read a pass over 48 ports takes seconds.
    template <class Pred>
    static void wait_for(const std::string &what, Pred done) {
        const auto limit = Clock::now() + 60s;
        while (!done()) {
            if (Clock::now() > limit)
                fail("the insertion thread did not notice " + what + " in 60 s");
            std::this_thread::sleep_for(50ms);
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

    // A sample once descriptors, threads and children are back at the baseline: the
    // insertion thread runs a shell and redis-cli for every Redis read, so a child and a pipe
    // come and go all the time. Gives up (and returns the last sample) after 15 s.
    Sample settled_sample(Clock::time_point start, int cycle, const Sample *baseline) {
        const auto limit = Clock::now() + 15s;
        for (;;) {
            Sample s = sample(start, cycle);
            if (baseline == nullptr ||
                (s.fds == baseline->fds && s.threads == baseline->threads &&
                 s.children == baseline->children) ||
                Clock::now() > limit)
                return s;
            std::this_thread::sleep_for(5ms);
        }
    }

    // The baseline: the fewest descriptors, threads and children seen over three seconds
    // (the quiet moments between the insertion thread's Redis reads).
    Sample baseline_sample(Clock::time_point start, int cycle) {
        Sample low = sample(start, cycle);
        for (const auto limit = Clock::now() + 3s; Clock::now() < limit;) {
            std::this_thread::sleep_for(5ms);
            const Sample s = sample(start, cycle);
            low.fds = std::min(low.fds, s.fds);
            low.threads = std::min(low.threads, s.threads);
            low.children = std::min(low.children, s.children);
            low.rss_kb = s.rss_kb;
            low.t = s.t;
        }
        return low;
    }

    void check(const Sample &baseline, const Sample &s) {
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
    }

    int seconds_;
    std::string csv_;
    pltfm::test::RedisServer redis_;
    pltfm::test::FakePlatform fake_;
    std::vector<Port> ports_ = ports();
    std::vector<Sample> samples_;
    bool dac_[34] = {};
    int swaps_ = 0;
    double longest_notice_ = 0;  // seconds from a swap to the thread's reaction
    int rescans_ = 0;
};

int usage_error(const std::string &why) {
    std::fprintf(stderr,
                 "pltfm-soak: %s\nusage: pltfm-soak [--seconds N] [--csv FILE] [--log FILE]\n",
                 why.c_str());
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    int seconds = 300;
    std::string csv = "soak.csv";
    std::string log = "pltfm-soak.log";
    for (int i = 1; i < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt != "--seconds" && opt != "--csv" && opt != "--log")
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
    std::printf("soak: %d s, 48 ports, library log in %s, samples in %s\n", seconds, log.c_str(),
                csv.c_str());
    try {
        Soak soak(seconds, csv);
        return soak.run();
    } catch (const Failure &f) {
        std::printf("FAIL: %s\n", f.what.c_str());
        return 1;
    }
}
