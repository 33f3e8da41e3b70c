// What the port-state table costs (PLTFM_PORT_STATE), against a real redis-server on a unix
// socket and a fake sysfs tree: the pre-initialisation of an 8-lane port with the table off
// and on, through redis-cli (/cli) and over the native connection (/native); and the stale
// check after a rescan with 256 pre-initialised ports (32 cages broken out into one-lane
// ports), when the reload changed nothing, and when it changed every port's rows (table off:
// the check, its log line and the marks; table on: also one HSET per port whose mark turns).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "background_threads.h"
#include "bench_board.h"
#include "database_reload.h"
#include "fake_platform.h"
#include "ifcs_devport.h"
#include "platform_hw_internal.h"
#include "platform_hw_redis_transport.h"
#include "platform_serdes.h"
#include "port_state.h"
#include "quiet_log.h"
#include "redis_server.h"
#include "scratch_dir.h"
#include "serdes_records.h"

namespace {

using pltfm::test::devport;

constexpr const char *kQsfpDd = "QSFP-DD Double Density 8X Pluggable Transceiver";
const std::string kSampleDir = PLTFM_EXAMPLES_DIR "/platform/CSV";

// A port the SDK creates (the benchmarks' board port), with the records that describe it.
struct Port : pltfm::bench::Port {
    std::vector<ifcs_attr_t> attrs() const {
        return {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, group),
                devport(IFCS_DEVPORT_ATTR_START_LANE, start),
                devport(IFCS_DEVPORT_ATTR_NUM_LANES, lanes),
                devport(IFCS_DEVPORT_ATTR_SPEED, speed),
                devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
    }
};

// The 400G optic of the first cage.
const Port kEightLanes{1, 0, 8, 400000};

using pltfm::bench::Quiet;

// A copy of the sample tuning where every port's 50G/400G OPTICS rows differ: TX_EQ_PRE1 of
// that group (column 31 of generic_optics.csv) is -9 on every data line.
std::string changed_tuning(const std::string &dir) {
    namespace fs = std::filesystem;
    fs::create_directories(dir);
    for (const auto &e : fs::directory_iterator(kSampleDir))
        fs::copy_file(e.path(), fs::path(dir) / e.path().filename(),
                      fs::copy_options::overwrite_existing);
    const std::string path = dir + "/generic_optics.csv";
    std::ifstream in(path);
    std::string out, line;
    for (int n = 1; std::getline(in, line); ++n) {
        std::vector<std::string> cells;
        std::stringstream split(line);
        for (std::string c; std::getline(split, c, ',');) cells.push_back(c);
        if (n > 5 && cells.size() > 30 && !cells[1].empty()) {
            cells[30] = "-9";
            line.clear();
            for (std::size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + cells[i];
        }
        out += line + "\n";
    }
    std::ofstream(path) << out;
    return dir;
}

// The switch around the library, made once: Redis seeded as the OS does, a platform tree with
// the sample tuning and an optic in every cage; the library started with its background
// threads off.
class World {
  public:
    static World &get() {
        static World *w = new World;
        return *w;
    }
    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }

    void use(bool native, bool table) {
        if (native)
            ::setenv("PLTFM_REDIS", ("unix:" + redis_.socket_path()).c_str(), 1);
        else
            ::unsetenv("PLTFM_REDIS");
        pltfm::redis::reload_for_test();
        ::setenv("PLTFM_PORT_STATE", table ? "1" : "0", 1);
        pltfm::port_state::reload_for_test();
    }

    // The 256 one-lane ports, pre-initialised once over the native connection with the
    // tuning of the fake tree.
    bool ports_256() {
        if (!ok()) return false;
        if (!broken_out_) {
            broken_out_ = true;
            use(true, false);
            for (int32_t g = 1; g <= 32; ++g) {
                for (int32_t s = 0; s < 8; ++s) {
                    const Port p{g, s, 1, 50000};
                    seed(p);
                    auto a = p.attrs();
                    uint32_t n = static_cast<uint32_t>(a.size());
                    std::string name = p.name();
                    if (pltfm_port_pre_init(name.data(), a.data(), &n) == nullptr) {
                        error_ = "pre-initialisation of " + name + " failed";
                        return false;
                    }
                }
            }
        }
        return ok();
    }

    // Loads the tuning of `dir` as a rescan does (aside, then swapped in).
    bool load(const std::string &dir) {
        if (dir == loaded_) return true;
        if (pltfm::database::reload(dir.c_str()) != PLTFM_SUCCESS) {
            error_ = "cannot load " + dir;
            return false;
        }
        loaded_ = dir;
        return true;
    }

    std::string fake_tuning_dir() const { return fake_.tuning_dir(); }
    std::string changed_dir() { return changed_tuning(scratch_.path() + "/changed"); }

  private:
    World() {
        if (!redis_.ok() || !fake_.ok() || !scratch_.ok()) {
            error_ = !redis_.ok() ? redis_.error() : !fake_.ok() ? fake_.error() : "scratch";
            return;
        }
        redis_.use_on_path();
        fake_.port_config_line(kEightLanes.name(), kEightLanes.speed, "0,1,2,3,4,5,6,7");
        for (int32_t g = 1; g <= 32; ++g)
            fake_.cage(Port{g, 0, 8, 0}.front_panel(), pltfm::test::qsfp_dd_optic());
        seed(kEightLanes);
        fake_.tuning_dir_from(kSampleDir);
        if (!fake_.ok()) {
            error_ = fake_.error();
            return;
        }
        fake_.activate();
        loaded_ = fake_.tuning_dir();
        pltfm::threads::disable_autostart_for_test();
        Quiet quiet;
        char platform[] = "SwitchSDK";
        if (pltfm_pre_init(platform) != 0) error_ = "start-up failed";
    }

  public:
    // The OS's records of a port: its speed, admin status and module.
    void seed(const Port &p) {
        const std::string n = p.name();
        redis_.hset(0, "PORT_TABLE:" + n, "speed", std::to_string(p.speed));
        redis_.hset(4, "PORT|" + n, "admin_status", "up");
        redis_.hset(6, "TRANSCEIVER_STATUS|" + n, "status", "1");
        redis_.command(6, {"HSET", "TRANSCEIVER_INFO|" + n, "type", kQsfpDd, "cable_length", "0",
                           "specification_compliance", "400GBASE-DR4 Optical", "connector", "LC"});
    }

  private:
    pltfm::test::RedisServer redis_;
    pltfm::test::FakePlatform fake_;
    pltfm::test::ScratchDir scratch_{"pltfm-bench-"};
    std::string error_;
    std::string loaded_;
    bool broken_out_ = false;
};

// pltfm_port_pre_init of the 400G 8-lane optic (speed, module record, laser set-up, lookup,
// translation and, with the table on, the tuning rows' text and the HSET of its hash). Only
// the pre-initialisation is timed; the port-down that frees the list is not.
void BM_PortPreInit8Lanes(benchmark::State &state, bool native, bool table) {
    Quiet quiet;
    World &w = World::get();
    if (!w.ok()) {
        state.SkipWithError(w.error().c_str());
        return;
    }
    w.seed(kEightLanes);  // its slot is one of the one-lane ports' of the stale cases
    w.use(native, table);
    std::string name = kEightLanes.name();
    for (auto _ : state) {
        auto attrs = kEightLanes.attrs();
        uint32_t count = static_cast<uint32_t>(attrs.size());
        const auto start = std::chrono::steady_clock::now();
        const ifcs_attr_t *list = pltfm_port_pre_init(name.data(), attrs.data(), &count);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (list == nullptr) {
            state.SkipWithError("pre-initialisation failed");
            break;
        }
        pltfm_port_down(name.data());
    }
}
BENCHMARK_CAPTURE(BM_PortPreInit8Lanes, off_cli, false, false)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_PortPreInit8Lanes, on_cli, false, true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_PortPreInit8Lanes, off_native, true, false)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_PortPreInit8Lanes, on_native, true, true)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime();

// pltfm::port_state::check_stale_after_reload with 256 running ports: what each would get
// from the tuning now loaded (lookup, translation, digest) compared with what it got. Only the
// check is timed. When every port's rows changed, each iteration first loads (untimed) the
// other of the two tunings, so that every check turns all 256 marks (stale, then current
// again) and, with the table on, writes 256 hashes, as the first check after a rescan does.
void BM_StaleCheck256Ports(benchmark::State &state, bool changed, bool table) {
    Quiet quiet;
    World &w = World::get();
    const std::string sample = w.fake_tuning_dir();
    const std::string other = changed ? w.changed_dir() : sample;
    if (!w.ports_256() || !w.load(sample)) {
        state.SkipWithError(w.error().c_str());
        return;
    }
    w.use(true, table);
    pltfm::port_state::check_stale_after_reload("bench", "A reload");  // every mark current
    bool on_other = false;
    for (auto _ : state) {
        on_other = !on_other;
        if (!w.load(on_other ? other : sample)) {
            state.SkipWithError(w.error().c_str());
            break;
        }
        const auto start = std::chrono::steady_clock::now();
        pltfm::port_state::check_stale_after_reload("bench", "A reload");
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    w.load(sample);
    pltfm::port_state::check_stale_after_reload("bench", "A reload");
    state.counters["ports"] = 256;
}
BENCHMARK_CAPTURE(BM_StaleCheck256Ports, unchanged, false, true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_StaleCheck256Ports, all_changed_table_off, true, false)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_StaleCheck256Ports, all_changed_table_on_native, true, true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace
