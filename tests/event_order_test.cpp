// Event orders: seeded random sequences of SDK, OS, operator and module events run against the
// real library (a real redis-server, a fake sysfs tree, the exported entry points; the
// insertion monitor's pass and the rescan poll driven step by step) and checked after every
// event against a small reference model. Each sequence runs in a child process forked after
// the library's first start-up, so every sequence starts from the same fresh library.
// The fixed seeds run over the native Redis connection; a share of them runs in both Redis
// modes, and a trace of everything observable after each event must be the same in both.
//
// Replay one sequence:      make test-sequences SEED=<seed> [CONCURRENT=1] [REDIS=cli]
// Run N more random seeds:  make test-sequences SEEDS=<N> [CONCURRENT=1] [REDIS=cli]
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "background_threads.h"
#include "both_modes.h"
#include "event_model.h"
#include "fake_platform.h"
#include "ifcs_devport.h"
#include "platform_hw_internal.h"
#include "platform_hw_redis_stall.h"
#include "platform_hw_redis_transport.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "port_state.h"
#include "redis_server.h"
#include "serdes_records.h"
#include "test_util.h"
#include "tuning_reference.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using namespace pltfm::test;
using namespace pltfm::test::events;
namespace fs = std::filesystem;

constexpr int kEventsPerSequence = 30;
constexpr int kShards = 12;
constexpr unsigned kSeedsPerShard = 25;
constexpr unsigned kConcurrentSeeds = 10;
// Seeds of the fixed set that also run through redis-cli, their traces compared.
constexpr int kBothModesShards = 4;
constexpr unsigned kBothModesSeedsPerShard = 6;
// Bounds on a silent Redis for the sequences' stalls: short, so that a stall costs little,
// yet far above what a loaded machine takes to answer.
constexpr auto kNativeBound = std::chrono::milliseconds(150);
constexpr auto kCliBound = std::chrono::milliseconds(1000);

using modes::Mode;

// ---- What the sequences share: Redis, the platform tree, the tuning versions, and the ----
// ---- library after its first start-up. -----------------------------------------------------

// Version 1 is the sample with every integer value cell plus one; version 2 adds a broken file.
void write_tuning_versions(const std::string &sample,
                           const std::array<std::string, kTuningVersions> &dirs) {
    for (const auto &entry : fs::directory_iterator(sample)) {
        const std::string name = entry.path().filename();
        fs::copy_file(entry.path(), dirs[0] + "/" + name);
        std::ifstream in(entry.path());
        std::string changed;
        int line_no = 0;
        for (std::string line; std::getline(in, line); ++line_no) {
            std::stringstream cells(line);
            std::string out, cell;
            for (int col = 0; std::getline(cells, cell, ','); ++col) {
                char *end = nullptr;
                const long v = std::strtol(cell.c_str(), &end, 10);
                if (line_no >= 5 && col >= 3 && !cell.empty() && *end == '\0')
                    cell = std::to_string(v + 1);
                out += (col ? "," : "") + cell;
            }
            if (!line.empty() && line.back() == ',') out += ",";
            changed += out + "\n";
        }
        write_file(dirs[1] + "/" + name, changed);
        write_file(dirs[2] + "/" + name, changed);
    }
    write_file(dirs[2] + "/broken.csv", "VERSION,CABLE TYPE\n");
}

struct Bench {
    RedisServer redis{"AKE"};  // keyspace notifications on, as the OS's Redis runs
    FakePlatform fake;
    TempDir scratch;
    std::array<std::string, kTuningVersions> dirs;
    std::array<Reference, kTuningVersions> refs;
    std::string error;

    Bench() {
        if (!redis.ok()) {
            error = redis.error();
            return;
        }
        redis.use_on_path();
        modes::select(Mode::native, redis.socket_path());
        for (int v = 0; v < kTuningVersions; ++v) {
            dirs[static_cast<std::size_t>(v)] = scratch / ("tuning" + std::to_string(v));
            make_dirs(dirs[static_cast<std::size_t>(v)]);
        }
        write_tuning_versions(PLTFM_EXAMPLES_DIR "/platform/CSV", dirs);
        for (int v = 0; v < kTuningVersions; ++v)
            refs[static_cast<std::size_t>(v)] = read_reference(dirs[static_cast<std::size_t>(v)]);
        for (const auto &[name, speed] : default_speeds()) fake.port_config_line(name, speed);
        fake.tuning_dir_from(dirs[0]);
        if (!fake.ok()) {
            error = fake.error();
            return;
        }
        fake.activate();
        pltfm::threads::disable_autostart_for_test();
        char platform[] = "SwitchSDK";
        LogCapture quiet;
        if (pltfm_pre_init(platform) != PLTFM_SUCCESS)
            error = "the first start-up failed:\n" + quiet.text();
    }
};

// ---- One sequence, run in a child process. -------------------------------------------------

std::vector<ifcs_attr_t> devport_attrs(const PortDef &p, long speed) {
    return {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, serdes_group(p.cage)),
            devport(IFCS_DEVPORT_ATTR_START_LANE, p.start),
            devport(IFCS_DEVPORT_ATTR_NUM_LANES, p.lanes),
            devport(IFCS_DEVPORT_ATTR_SPEED, static_cast<int32_t>(speed)),
            devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
}

std::string describe(const std::vector<Rec> &recs) {
    std::ostringstream o;
    for (const auto &r : recs) o << r << ' ';
    return o.str();
}

class Sequence {
  public:
    // `concurrent`: the insertion monitor's passes run on a thread of their own while each
    // event is applied, as the real thread does; the checks run once it has stopped.
    Sequence(Bench &bench, unsigned seed, bool concurrent, Mode mode, bool table_on)
        : b_(bench),
          rng_(seed),
          seed_(seed),
          concurrent_(concurrent),
          mode_(mode),
          table_on_(table_on) {}

    // Writes, after each event, what can be observed of the library to `trace`, with the
    // lines the event added to the library's log `log` (its standard error).
    void trace_to(const std::string &trace, const std::string &log) {
        trace_path_ = trace;
        log_path_ = log;
    }

    // Runs the sequence; false when a step did not hold. report() then tells which and why.
    bool run() {
        std::string err = start();
        trace(err);
        int step = 0;
        for (; err.empty() && step < kEventsPerSequence; ++step) {
            Event e = draw();
            history_.push_back(e.text);
            err = apply(e);
            if (err.empty()) err = settle();
            if (err.empty()) err = check();
            trace(err);
        }
        std::ostringstream o;
        if (!err.empty())
            o << "sequence " << seed_ << " failed "
              << (step == 0 ? "at its start" : "at event " + std::to_string(step)) << ": " << err
              << "\n";
        o << "events of sequence " << seed_ << ":\n";
        for (std::size_t i = 0; i < history_.size(); ++i)
            o << "  " << i << ". " << history_[i] << "\n";
        o << side_by_side(m_, observe());
        if (!err.empty() && concurrent_)
            o << "(the monitor ran concurrently: a replay may take another interleaving)\n";
        if (!err.empty())
            o << "replay: make test-sequences SEED=" << seed_
              << (concurrent_ ? " CONCURRENT=1" : "") << "\n";
        report_ = o.str();
        return err.empty();
    }
    const std::string &report() const { return report_; }

  private:
    struct Event {
        std::string text;
        std::function<std::string()> apply;
    };

    template <class T>
    const T &pick(const std::vector<T> &from) {
        return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng_)];
    }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
    Cage &cage(int c) { return m_.cages[static_cast<std::size_t>(c)]; }
    const Cage &cage(int c) const { return m_.cages[static_cast<std::size_t>(c)]; }
    const RedisServer &redis() const { return b_.redis; }

    // ---- The world: modules, records, speeds. ----

    static EepromImage image_of(Kind k, uint8_t tx_disable) {
        switch (k) {
            case Kind::dd_optic:
                return qsfp_dd_optic();
            case Kind::dd_dac_1m:
                return qsfp_dd_dac(1);
            case Kind::dd_dac_3m:
                return qsfp_dd_dac(3);
            case Kind::q28_optic:
                return qsfp28_optic().set(0, 86, tx_disable);
            case Kind::q28_dac_1m:
                return qsfp28_dac(1);
            case Kind::q28_dac_3m:
                return qsfp28_dac(3);
            case Kind::none:
                break;
        }
        return EepromImage(0);
    }

    // The state database as the OS keeps it for the cage's current ports.
    void publish(int c) {
        const Cage &cg = cage(c);
        const bool dd =
            cg.kind == Kind::dd_optic || cg.kind == Kind::dd_dac_1m || cg.kind == Kind::dd_dac_3m;
        const bool dac = cg.kind != Kind::dd_optic && cg.kind != Kind::q28_optic;
        const bool three = cg.kind == Kind::dd_dac_3m || cg.kind == Kind::q28_dac_3m;
        for (const auto &p : layout_ports(c, cg.layout)) {
            const std::string info = "TRANSCEIVER_INFO|" + p.name;
            touched_.insert(p.name);
            redis().del(6, info);
            if (cg.kind == Kind::none) {
                redis().hset(6, "TRANSCEIVER_STATUS|" + p.name, "status", "0");
                continue;
            }
            // Like the OS, the record is written in one command before the status says the
            // module is there (a monitor pass running meanwhile never sees half a record);
            // an incomplete one lacks everything but the length.
            std::vector<std::string> record = {"HSET", info, "cable_length",
                                               dac ? (three ? "3" : "1") : "0"};
            if (cg.record_complete) {
                record.insert(
                    record.end(),
                    {"type",
                     dd ? "QSFP-DD Double Density 8X Pluggable Transceiver" : "QSFP28 or later",
                     "specification_compliance",
                     dd ? (dac ? "passive_copper_media_interface" : "400GBASE-DR4 Optical")
                        : (dac ? "100GBASE-CR4" : "100GBASE-SR4 Fibre"),
                     "connector", dac ? "No separable connector" : "MPO 1x12"});
            }
            redis().command(6, record);
            redis().hset(6, "TRANSCEIVER_STATUS|" + p.name, "status", "1");
        }
    }

    void put_module(int c, Kind k, bool complete, uint8_t tx_disable) {
        cage(c).kind = k;
        cage(c).record_complete = complete;
        b_.fake.cage(front_panel(c), image_of(k, tx_disable));
        publish(c);
    }

    void pull_module(int c) {
        cage(c).kind = Kind::none;
        b_.fake.empty_cage(front_panel(c));
        publish(c);
    }

    void set_speed(const std::string &name, std::optional<std::string> field) {
        m_.ports[name].speed_field = field;
        if (field)
            redis().hset(0, "PORT_TABLE:" + name, "speed", *field);
        else
            redis().command(0, {"HDEL", "PORT_TABLE:" + name, "speed"});
    }

    void set_admin(const std::string &name, const std::string &value) {
        m_.ports[name].operator_admin = value;
        redis().hset(4, "PORT|" + name, "admin_status", value);
    }

    std::string admin_of(const std::string &name) const {
        return redis().hget(4, "PORT|" + name, "admin_status").value_or("");
    }

    void write_tuning_dir(int version) {
        for (const auto &entry : fs::directory_iterator(b_.fake.tuning_dir()))
            fs::remove(entry.path());
        for (const auto &entry : fs::directory_iterator(b_.dirs[static_cast<std::size_t>(version)]))
            fs::copy_file(entry.path(),
                          b_.fake.tuning_dir() + "/" + entry.path().filename().string());
        m_.tuning_in_dir = version;
    }

    // ---- The SDK and the OS. ----

    // The SDK creates the port: pre-initialisation, checked against the model, then init.
    std::string create(const std::string &name) {
        const PortDef p = *port_def(m_, name);
        Port &mp = m_.ports[name];
        const auto want = expected_tuning(m_, p);
        auto attrs = devport_attrs(p, effective_speed(m_, name));
        uint32_t count = static_cast<uint32_t>(attrs.size());
        std::string n = name;
        ifcs_attr_t *list = pltfm_port_pre_init(n.data(), attrs.data(), &count);
        mp.last_pre_init_ok = list != nullptr;
        if (!want) {
            if (list != nullptr)
                return "pre-initialisation of " + name +
                       " gave a list; it must fail (no module or no lane-speed class)";
            return "";
        }
        if (list == nullptr)
            return "pre-initialisation of " + name + " failed; the tuning of " + want->key +
                   " was expected";
        const auto got = recs_of(list, count);
        const auto exp = expected(b_.refs[static_cast<std::size_t>(m_.tuning_in_use)].at(want->key),
                                  want->first, want->lanes);
        if (got != exp)
            return "pre-initialisation of " + name + " gave\n    " + describe(got) +
                   "\n  the tuning (version " + std::to_string(m_.tuning_in_use) + ") of " +
                   want->key + " gives\n    " + describe(exp);
        mp.created = true;
        mp.lib = Lib::up;
        mp.lanes_known = true;
        mp.records = got;
        mp.tuning = m_.tuning_in_use;
        mp.key = want->key;
        mp.speed = effective_speed(m_, name);
        lists_[name] = list;
        return sdk_event(name, pltfm_port_init, "init");
    }

    std::string sdk_event(const std::string &name, int (*fn)(char *, ifcs_attr_t *, uint32_t *),
                          const char *what) {
        const PortDef p = *port_def(m_, name);
        auto attrs = devport_attrs(p, effective_speed(m_, name));
        uint32_t count = static_cast<uint32_t>(attrs.size());
        std::string n = name;
        const int rc = fn(n.data(), attrs.data(), &count);
        return rc == PLTFM_SUCCESS
                   ? ""
                   : std::string(what) + " of " + name + " returned " + std::to_string(rc);
    }

    std::string port_down(const std::string &name) {
        std::string n = name;
        Port &mp = m_.ports[name];
        const int rc = pltfm_port_down(n.data());
        const int want = mp.lib == Lib::never ? PLTFM_NOTFOUND : PLTFM_SUCCESS;
        if (rc != want)
            return "port-down of " + name + " returned " + std::to_string(rc) + ", not " +
                   std::to_string(want);
        mp.created = false;
        if (mp.lib == Lib::up) mp.lib = Lib::down;
        return "";
    }

    // The OS answers every change of a port's administrative status: down takes an existing
    // port down, up creates a missing one. Repeats until nothing changes.
    std::string settle() {
        for (int round = 0; round < 8; ++round) {
            bool changed = false;
            for (const auto &p : current_ports(m_)) {
                const std::string admin = admin_of(p.name);
                std::string &seen = seen_admin_[p.name];
                if (admin == seen) continue;
                seen = admin;
                changed = true;
                const Port &mp = m_.ports[p.name];
                std::string err;
                if (admin == "down" && mp.created) err = port_down(p.name);
                if (admin == "up" && !mp.created) err = create(p.name);
                if (!err.empty()) return err;
            }
            if (!changed) return "";
        }
        return "the administrative status keeps changing";
    }

    // The library notices what changed: one pass, or in concurrent mode the end of a pass of
    // the monitor thread that started after this call.
    void monitor_pass() {
        if (!monitor_running_) {
            pltfm::hw::oir_monitor_pass();
            return;
        }
        const unsigned long target = passes_ + 2;
        while (passes_ < target) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    std::string apply(Event &e) {
        if (!concurrent_) return e.apply();
        stop_ = false;
        monitor_running_ = true;
        std::thread monitor([this] {
            while (!stop_) {
                pltfm::hw::oir_monitor_pass();
                ++passes_;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        std::string err = e.apply();
        stop_ = true;
        monitor.join();
        monitor_running_ = false;
        // Whatever the thread's last pass saw is followed through before the checks.
        pltfm::hw::oir_monitor_pass();
        return err;
    }

    // The library hears of the module records the test wrote since the last time: over the
    // native connection through keyspace events, which must name exactly those interfaces;
    // through redis-cli, which has no events, the same visits are made from the test's list.
    std::string module_events() {
        const std::set<std::string> touched = std::move(touched_);
        touched_.clear();
        if (mode_ == Mode::cli) {
            pltfm::hw::oir_visit_module_events({touched.begin(), touched.end()});
            return "";
        }
        std::vector<std::string> heard;
        pltfm::hw::oir_dispatch_pending_events(&heard);
        const std::set<std::string> got(heard.begin(), heard.end());
        if (got == touched) return "";
        std::string err = "the library heard module events for";
        for (const auto &h : got) err += " " + h;
        err += "; the test wrote the records of";
        for (const auto &t : touched) err += " " + t;
        return err;
    }

    // The library notices a module change: by its next pass, or at once through events.
    std::string notice() {
        if (chance(0.5)) return module_events();
        monitor_pass();
        return "";
    }

    // ---- What must hold after every event. ----

    void trace(const std::string &err) {
        if (trace_path_.empty()) return;
        std::ofstream out(trace_path_, std::ios::app);
        out << "event " << history_.size() - 1 << ": " << history_.back() << "\n"
            << (err.empty() ? "held" : "failed: " + err) << "\n"
            << side_by_side(m_, observe());
        for (const auto &[name, port] : m_.ports)
            if (port.created) out << "  " << name << " records " << describe(port.records) << "\n";
        for (int c = 0; c < kCages; ++c)
            out << "  cage " << c << " eeprom "
                << modes::digest(read_file(b_.fake.eeprom_path(front_panel(c)))) << "\n";
        if (table_on_)
            for (const auto &p : current_ports(m_)) {
                out << "  published " << p.name << ":";
                for (const auto &[field, value] : published(p.name))
                    if (field != "updated" && field != "exchange_since")
                        out << " " << field << "=" << value;
                out << "\n";
            }
        const std::string log = read_file(log_path_);
        out << "  log:\n" << modes::comparable_log(log.substr(std::min(log_offset_, log.size())));
        log_offset_ = log.size();
    }

    std::map<std::string, std::string> published(const std::string &name) const {
        std::map<std::string, std::string> h;
        const RedisReply r = redis().command(6, {"HGETALL", "PORT_SERDES_STATE|" + name});
        for (std::size_t i = 0; i + 1 < r.elements.size(); i += 2)
            h[r.elements[i].text] = r.elements[i + 1].text;
        return h;
    }

    // The port-state table against the model: a port the SDK never created has no hash; a port
    // that exists shows what it was created with, the records the SDK holds, the library's own
    // state bits and stored module, no open exchange cycle (the OS has answered every one), its
    // lasers, and stale exactly when the tuning in use gives it other records now.
    std::string check_published() const {
        for (const auto &p : current_ports(m_)) {
            const Port &mp = m_.ports.at(p.name);
            const auto h = published(p.name);
            if (mp.lib == Lib::never) {
                if (!h.empty()) return p.name + " was never created but has a published state";
                continue;
            }
            if (!mp.created) continue;
            if (!mp.last_pre_init_ok) {
                // It exists with the list of an earlier pre-initialisation; the last one failed.
                const auto it = h.find("pre_init");
                if (it == h.end() || it->second != "failed")
                    return "published pre_init of " + p.name + " is not \"failed\"";
                continue;
            }
            auto field = [&](const char *f) {
                const auto it = h.find(f);
                return it == h.end() ? std::string("(missing)") : it->second;
            };
            auto differs = [&](const char *f, const std::string &want) {
                return field(f) == want ? std::string()
                                        : "published " + std::string(f) + " of " + p.name +
                                              " is \"" + field(f) + "\", not \"" + want + "\"";
            };
            const ifcs_attr_t *list = lists_.at(p.name);
            char digest[24];
            std::snprintf(digest, sizeof digest, "%016llx",
                          static_cast<unsigned long long>(pltfm::serdes::records_digest(
                              list, static_cast<uint32_t>(mp.records.size()))));
            std::vector<std::string> key;  // cable|vendor|class|encoding|front port
            std::stringstream parts(mp.key);
            for (std::string part; std::getline(parts, part, '|');) key.push_back(part);
            const auto slot = *pltfm::hw::port_slot(serdes_group(p.cage) - 1, p.start);
            pthread_mutex_lock(&mutex);
            const uint32_t bits = port_state_ar[slot];
            const std::string stored = port_attr_list[slot][1].value;
            pthread_mutex_unlock(&mutex);
            const bool stale =
                expected(b_.refs[static_cast<std::size_t>(m_.tuning_in_use)].at(mp.key),
                         static_cast<std::size_t>(p.start),
                         static_cast<std::size_t>(p.lanes)) != mp.records;
            const char *lasers = key[0] != "OPTICS"     ? "not an optic"
                                 : key[2] == "50G/400G" ? "not written (CMIS)"
                                 : key[2] == "25G/100G" ? "enabled"
                                                        : "not managed";
            for (const std::string &err :
                 {differs("pre_init", "ok"), differs("records", std::to_string(mp.records.size())),
                  differs("digest", digest), differs("cable_type", key[0]),
                  differs("vendor", key[1]), differs("lane_speed", key[2]),
                  differs("encoding", key[3]), differs("front_port", key[4]),
                  differs("lanes", std::to_string(p.lanes)),
                  differs("start_lane", std::to_string(p.start)),
                  differs("speed", std::to_string(mp.speed)),
                  differs("state_bits", std::to_string(bits)), differs("module", stored),
                  differs("exchange", "none"), differs("lasers", lasers),
                  differs("stale", stale ? "yes" : "no")})
                if (!err.empty()) return err;
        }
        return "";
    }

    std::map<std::string, Observed> observe() const {
        std::map<std::string, Observed> seen;
        for (const auto &p : current_ports(m_)) {
            Observed o;
            o.admin = admin_of(p.name);
            const auto slot = *pltfm::hw::port_slot(serdes_group(p.cage) - 1, p.start);
            pthread_mutex_lock(&mutex);
            o.state_bits = port_state_ar[slot];
            for (const auto &a : port_attr_list[slot]) o.stored += std::string(a.value) + " ";
            pthread_mutex_unlock(&mutex);
            if (p.cage == 1 && m_.cages[1].kind == Kind::q28_optic)
                o.tx_disable = b_.fake.eeprom_byte(front_panel(1), 0, 86);
            seen[p.name] = o;
        }
        return seen;
    }

    static uint8_t lane_mask(const PortDef &p) {
        return static_cast<uint8_t>(((1u << p.lanes) - 1) << p.start);
    }

    std::string check() const {
        for (const auto &p : current_ports(m_)) {
            const Port &mp = m_.ports.at(p.name);
            const std::string admin = admin_of(p.name);
            if (admin != mp.operator_admin)
                return "admin_status of " + p.name + " is \"" + admin +
                       "\"; the operator's last value is \"" + mp.operator_admin + "\"";
            if (mp.created && cage(p.cage).kind != Kind::none) {
                const auto want = expected_tuning(m_, p);
                if (!want) return p.name + " exists, but its module and speed give no tuning";
                const auto exp =
                    expected(b_.refs[static_cast<std::size_t>(mp.tuning)].at(want->key),
                             want->first, want->lanes);
                if (exp != mp.records)
                    return p.name + " runs with\n    " + describe(mp.records) +
                           "\n  its module and speed now give " + want->key + " (tuning version " +
                           std::to_string(mp.tuning) + ")\n    " + describe(exp);
                if (std::string err = check_cached(p.name, mp); !err.empty()) return err;
            }
            if (p.cage == 1 && m_.cages[1].kind == Kind::q28_optic) {
                const uint8_t reg = b_.fake.eeprom_byte(front_panel(1), 0, 86), mask = lane_mask(p);
                const bool managed = effective_speed(m_, p.name) / p.lanes == 25000;
                if (mp.created && (reg & mask) != 0)
                    return "lasers of " + p.name + " are off (TX disable " + std::to_string(reg) +
                           ") on a port that is up";
                if (!mp.created && mp.lib == Lib::down && mp.lanes_known && managed &&
                    (reg & mask) != mask)
                    return "lasers of " + p.name + " are on (TX disable " + std::to_string(reg) +
                           ") on a port that is down";
            }
        }
        if (table_on_) return check_published();
        return "";
    }

    // The list handed to the SDK is still cached and unchanged while the port exists.
    std::string check_cached(const std::string &name, const Port &mp) const {
        const ifcs_attr_t *list = lists_.at(name);
        for (const auto &e : intf_db)
            if (e.attr_ptr == list) {
                if (recs_of(list, static_cast<uint32_t>(mp.records.size())) != mp.records)
                    return "the list handed out for " + name + " has changed";
                return "";
            }
        return "the list handed out for " + name + " is no longer cached while the port exists";
    }

    // ---- Events. ----

    std::string start() {
        redis().command(0, {"FLUSHALL"});
        write_tuning_dir(0);
        for (int c = 0; c < kCages; ++c) {
            cage(c).layout = chance(0.5) ? 1 : 0;
            for (const auto &p : layout_ports(c, cage(c).layout)) {
                set_speed(p.name,
                          chance(0.1)
                              ? std::nullopt
                              : std::optional(std::to_string(pick(valid_speeds(c, p.lanes)))));
                set_admin(p.name, "up");
            }
            const std::vector<Kind> kinds =
                c == 0 ? std::vector{Kind::none, Kind::dd_optic, Kind::dd_dac_1m, Kind::dd_dac_3m}
                       : std::vector{Kind::none, Kind::q28_optic, Kind::q28_optic, Kind::q28_dac_1m,
                                     Kind::q28_dac_3m};
            put_module(c, pick(kinds), !chance(0.2), pick(std::vector<uint8_t>{0x00, 0x0F, 0x05}));
        }
        history_.push_back("start: " + std::string(kind_name(cage(0).kind)) +
                           " in cage A (layout " + std::to_string(cage(0).layout) + "), " +
                           kind_name(cage(1).kind) + " in cage B (layout " +
                           std::to_string(cage(1).layout) + ")");
        std::string err = settle();
        if (err.empty()) {
            monitor_pass();  // over the native connection, it subscribes to module events
            touched_.clear();
            err = settle();
        }
        return err.empty() ? check() : err;
    }

    Event draw() {
        const auto ports = current_ports(m_);
        const PortDef p = pick(ports);
        const std::string name = p.name;
        Port &mp = m_.ports[name];
        const int c = chance(0.5) ? 0 : 1;
        const char cage_letter = static_cast<char>('A' + c);
        switch (std::uniform_int_distribution<int>(0, 17)(rng_)) {
            case 0:
            case 1:
                return {"monitor pass", [this] {
                            monitor_pass();
                            return std::string();
                        }};
            case 2:
                if (mp.created)
                    return {"SDK: pre-initialisation of " + name + " again, without a port-down",
                            [this, name] { return create(name); }};
                if (mp.operator_admin == "up")
                    return {"SDK: creates " + name, [this, name] { return create(name); }};
                [[fallthrough]];
            case 3: {
                if (!mp.created) break;
                const int which = std::uniform_int_distribution<int>(0, 2)(rng_);
                auto fn = which == 0   ? pltfm_port_init
                          : which == 1 ? pltfm_port_link_up
                                       : pltfm_port_link_down;
                const char *what = which == 0 ? "init" : which == 1 ? "link up" : "link down";
                return {std::string("SDK: ") + what + " of " + name,
                        [this, name, fn, what] { return sdk_event(name, fn, what); }};
            }
            case 4: {
                const bool twice = chance(0.4);
                return {"SDK: port-down of " + name + (twice ? ", twice" : ""),
                        [this, name, twice] {
                            std::string err = port_down(name);
                            return err.empty() && twice ? port_down(name) : err;
                        }};
            }
            case 5:
            case 6: {
                const std::string value = mp.operator_admin == "up" ? "down" : "up";
                return {"operator: admin_status of " + name + " " + value, [this, name, value] {
                            set_admin(name, value);
                            return std::string();
                        }};
            }
            case 7: {
                std::optional<std::string> field;
                const int kind = std::uniform_int_distribution<int>(0, 5)(rng_);
                if (kind <= 2) field = std::to_string(pick(valid_speeds(p.cage, p.lanes)));
                if (kind == 3) field = "";
                if (kind == 4) field = "fast";
                const std::string shown = field ? "\"" + *field + "\"" : "removed";
                return {
                    "OS: speed of " + name + " " + shown + " (an existing port is created again)",
                    [this, name, field] {
                        set_speed(name, field);
                        if (m_.ports[name].created) {
                            std::string err = port_down(name);
                            if (err.empty()) err = create(name);
                            if (!err.empty()) return err;
                        }
                        monitor_pass();  // within a second the library has seen it too
                        return std::string();
                    }};
            }
            case 8:
            case 9:
            case 10: {
                const std::vector<Kind> kinds =
                    c == 0 ? std::vector{Kind::dd_optic, Kind::dd_dac_1m, Kind::dd_dac_3m}
                           : std::vector{Kind::q28_optic, Kind::q28_dac_1m, Kind::q28_dac_3m};
                const Kind k = pick(kinds);
                const bool complete = !chance(0.25);
                const uint8_t tx = pick(std::vector<uint8_t>{0x00, 0x0F, 0x05});
                const bool swap = cage(c).kind != Kind::none;
                char text[160];
                std::snprintf(text, sizeof text, "module: %s%s into cage %c%s, TX disable 0x%02X",
                              swap ? "swap, " : "", kind_name(k), cage_letter,
                              complete ? "" : " (record without type)", tx);
                return {text, [this, c, k, complete, tx, swap] {
                            if (swap) {
                                pull_module(c);
                                if (std::string err = notice(); !err.empty()) return err;
                                if (std::string err = settle(); !err.empty()) return err;
                            }
                            put_module(c, k, complete, tx);
                            return notice();
                        }};
            }
            case 11:
                if (cage(c).kind == Kind::none) break;
                if (!cage(c).record_complete && chance(0.5))
                    return {std::string("OS: completes the record of cage ") + cage_letter,
                            [this, c] {
                                cage(c).record_complete = true;
                                publish(c);
                                return notice();
                            }};
                return {std::string("module: pulled from cage ") + cage_letter, [this, c] {
                            pull_module(c);
                            return notice();
                        }};
            case 12:
                return {std::string("OS: cage ") + cage_letter + " re-split",
                        [this, c] { return resplit(c); }};
            case 13:
            case 14: {
                const int version =
                    std::uniform_int_distribution<int>(0, kTuningVersions - 1)(rng_);
                return {"operator: tuning rescan with version " + std::to_string(version),
                        [this, version] {
                            write_tuning_dir(version);
                            const std::string trigger = b_.fake.tuning_dir() + "/csv_rescan";
                            write_file(trigger, "");
                            pltfm::serdes::rescan_poll(rescan_);
                            fs::remove(trigger);
                            pltfm::serdes::rescan_poll(rescan_);
                            if (version != kBrokenTuning) m_.tuning_in_use = version;
                            return std::string();
                        }};
            }
            case 16:
                if (chance(0.75)) break;  // a stall costs a bound or two: keep them rare
                return stall_window(c);
            case 17: {
                if (cage(c).kind == Kind::none) break;
                const Kind k = other_kind(c);
                const bool complete = !chance(0.25);
                const uint8_t tx = pick(std::vector<uint8_t>{0x00, 0x0F, 0x05});
                return {std::string("module: fast swap to ") + kind_name(k) + " in cage " +
                            cage_letter + (complete ? "" : " (record without type)") +
                            ", pulled and put in between two passes",
                        [this, c, k, complete, tx] {
                            pull_module(c);
                            put_module(c, k, complete, tx);
                            return module_events();
                        }};
            }
            case 15:
                return {"SDK: start-up again", [this] {
                            char platform[] = "SwitchSDK";
                            const int rc = pltfm_pre_init(platform);
                            const int want =
                                m_.tuning_in_dir == kBrokenTuning ? PLTFM_UNINIT : PLTFM_SUCCESS;
                            if (m_.tuning_in_dir != kBrokenTuning)
                                m_.tuning_in_use = m_.tuning_in_dir;
                            return rc == want ? "" : "start-up returned " + std::to_string(rc);
                        }};
        }
        return {"monitor pass", [this] {
                    monitor_pass();
                    return std::string();
                }};
    }

    // A module of the cage's family of another kind than the one in it.
    Kind other_kind(int c) {
        std::vector<Kind> kinds =
            c == 0 ? std::vector{Kind::dd_optic, Kind::dd_dac_1m, Kind::dd_dac_3m}
                   : std::vector{Kind::q28_optic, Kind::q28_dac_1m, Kind::q28_dac_3m};
        kinds.erase(std::remove(kinds.begin(), kinds.end(), cage(c).kind), kinds.end());
        return pick(kinds);
    }

    // Redis freezes for a few SDK events and comes back. Everything the library reads from it
    // falls back meanwhile (port_config.ini's speed, the EEPROM's module). With `exchange`, the
    // cage's module was just exchanged, so the library has set the cage's up ports down; the
    // OS takes them down while Redis is frozen, and the "up" that closes each cycle is owed
    // until Redis answers again.
    Event stall_window(int c) {
        const bool exchange = cage(c).kind != Kind::none && chance(0.5);
        const Kind next = exchange ? other_kind(c) : Kind::none;
        const int inner = std::uniform_int_distribution<int>(1, 3)(rng_);
        std::string text = "Redis stalls";
        if (exchange)
            text += std::string(" after a swap to ") + kind_name(next) + " in cage " +
                    static_cast<char>('A' + c) + " the library noticed";
        return {text, [this, c, exchange, next, inner] {
                    std::vector<std::string> os_downs;
                    if (exchange) {
                        pull_module(c);
                        monitor_pass();
                        put_module(c, next, true, 0x00);
                        if (std::string err = notice(); !err.empty()) return err;
                        for (const auto &p : layout_ports(c, cage(c).layout))
                            if (m_.ports[p.name].created && admin_of(p.name) == "down")
                                os_downs.push_back(p.name);
                    }
                    b_.redis.pause();
                    m_.redis_stalled = true;
                    std::string err;
                    for (const auto &name : os_downs) {
                        history_.back() += "; OS: port-down of " + name;
                        seen_admin_[name] = "down";
                        if (err.empty()) err = port_down(name);
                    }
                    for (int i = 0; i < inner && err.empty(); ++i) err = stalled_event();
                    monitor_pass();
                    b_.redis.resume();
                    m_.redis_stalled = false;
                    history_.back() += "; Redis answers again";
                    monitor_pass();  // its retry finds Redis back; owed writes are made
                    return err;
                }};
    }

    // One SDK event while Redis is frozen, chosen now (the state depends on what the stall
    // window did before). Only ports whose speed the fallback gives as the OS would are
    // created: a port tuned for another speed is a consequence of the outage, not a fault.
    std::string stalled_event() {
        const PortDef p = pick(current_ports(m_));
        Port &mp = m_.ports[p.name];
        const long fallback = effective_speed(m_, p.name);
        m_.redis_stalled = false;
        const bool same_speed = effective_speed(m_, p.name) == fallback;
        m_.redis_stalled = true;
        if (mp.created && chance(0.5)) {
            history_.back() += "; SDK: port-down of " + p.name;
            return port_down(p.name);
        }
        if (!mp.created && mp.operator_admin == "up" && seen_admin_[p.name] != "down" &&
            same_speed) {
            history_.back() += "; SDK: creates " + p.name;
            return create(p.name);
        }
        history_.back() += "; monitor pass";
        monitor_pass();
        return "";
    }

    // The OS re-splits a cage: its ports go down, the other layout's ports are configured
    // (speed, admin status, state database records) and created where they are up.
    std::string resplit(int c) {
        for (const auto &p : layout_ports(c, cage(c).layout)) {
            if (m_.ports[p.name].created)
                if (std::string err = port_down(p.name); !err.empty()) return err;
            touched_.insert(p.name);
            redis().del(6, "TRANSCEIVER_INFO|" + p.name);
            redis().del(6, "TRANSCEIVER_STATUS|" + p.name);
        }
        cage(c).layout = 1 - cage(c).layout;
        publish(c);
        for (const auto &p : layout_ports(c, cage(c).layout)) {
            m_.ports[p.name].lanes_known = false;
            set_speed(p.name, std::to_string(pick(valid_speeds(c, p.lanes))));
            set_admin(p.name, m_.ports[p.name].operator_admin);
            seen_admin_[p.name] = m_.ports[p.name].operator_admin;
            if (m_.ports[p.name].operator_admin == "up")
                if (std::string err = create(p.name); !err.empty()) return err;
        }
        return "";
    }

    Bench &b_;
    std::mt19937 rng_;
    unsigned seed_;
    bool concurrent_;
    Mode mode_;
    bool table_on_;                  // the port-state table is on: check it against the model
    std::set<std::string> touched_;  // module records written since the library last heard
    std::atomic<bool> stop_{false};
    bool monitor_running_ = false;  // the monitor thread of apply() runs
    std::atomic<unsigned long> passes_{0};
    Model m_;
    std::map<std::string, std::string> seen_admin_;     // what the OS last acted on
    std::map<std::string, const ifcs_attr_t *> lists_;  // the list the SDK holds per port
    pltfm::serdes::RescanState rescan_;
    std::vector<std::string> history_;
    std::string report_;
    std::string trace_path_, log_path_;
    std::size_t log_offset_ = 0;
};

// Runs the sequence in a child process. Empty when it passed (unless `verbose`); otherwise
// its report with the library's last log lines (and a sanitizer's report, if one fired).
std::string run_in_child(Bench &bench, unsigned seed, bool concurrent, bool verbose,
                         Mode mode = Mode::native, const std::string &trace = "") {
    const std::string log_path = bench.scratch / ("sequence-" + std::to_string(seed) + ".log");
    const std::string replay = "replay: make test-sequences SEED=" + std::to_string(seed) +
                               (concurrent ? " CONCURRENT=1" : "") + "\n";
    int out[2];
    if (::pipe(out) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid < 0) return "fork failed";
    if (pid == 0) {
        ::close(out[0]);
        const int log = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(log, STDERR_FILENO);
        ::close(log);
        modes::select(mode, bench.redis.socket_path());
        pltfm::redis::set_bounds_for_test(kNativeBound, kCliBound);
        // Every pass retries a stalled Redis: the sequence decides when it is back.
        pltfm::redis::stall_policy().set_retry_interval_for_test(std::chrono::milliseconds(0));
        // A third of the sequences run with the port-state table on.
        const bool table_on = seed % 3 == 0;
        ::setenv("PLTFM_PORT_STATE", table_on ? "1" : "0", 1);
        pltfm::port_state::reload_for_test();
        Sequence sequence(bench, seed, concurrent, mode, table_on);
        if (!trace.empty()) sequence.trace_to(trace, log_path);
        int code = sequence.run() ? 0 : 1;
        std::string report = code != 0 || verbose ? sequence.report() : "";
#if defined(__SANITIZE_ADDRESS__)
        if (code == 0 && __lsan_do_recoverable_leak_check() != 0) {
            report = "sequence " + std::to_string(seed) + " leaked memory\n" + sequence.report() +
                     replay;
            code = 1;
        }
#endif
        if (!report.empty() && ::write(out[1], report.data(), report.size()) < 0) code = 2;
        // No destructors: the bench (Redis, the tree) belongs to the parent.
        ::_exit(code);
    }
    ::close(out[1]);
    std::string report;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        report.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    // A sequence that ended inside a stall window (a failed check, a crash) leaves the shared
    // server frozen; the next sequence would then wait on it until the test's timeout.
    if (bench.redis.pid() > 0) ::kill(bench.redis.pid(), SIGCONT);
    const bool passed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (passed) {
        fs::remove(log_path);
        return verbose ? report : "";
    }
    if (report.empty())
        report = "sequence " + std::to_string(seed) + " ended with status " +
                 std::to_string(status) + "\n" + replay;
    std::string log = read_file(log_path);
    std::size_t cut = log.size();
    for (int lines = 0; lines < 40 && cut > 0 && cut != std::string::npos; ++lines)
        cut = log.rfind('\n', cut - 1);
    return "FAILED: " + report + "last log lines:\n" +
           log.substr(cut == std::string::npos ? 0 : cut);
}

void run_seeds(const std::vector<unsigned> &seeds, bool concurrent, bool verbose = false,
               Mode mode = Mode::native) {
    Bench bench;
    ASSERT_TRUE(bench.error.empty()) << bench.error;
    int failed = 0;
    for (unsigned seed : seeds) {
        const std::string report = run_in_child(bench, seed, concurrent, verbose, mode);
        if (report.rfind("FAILED: ", 0) != 0) {
            std::fputs(report.c_str(), stdout);
            continue;
        }
        ADD_FAILURE() << report.substr(8);
        if (++failed == 3) break;  // enough to go on
    }
}

// Runs each seed through redis-cli and over the native connection and compares the traces.
void run_seeds_in_both_modes(const std::vector<unsigned> &seeds) {
    Bench bench;
    ASSERT_TRUE(bench.error.empty()) << bench.error;
    for (unsigned seed : seeds) {
        std::string traces[2];
        bool ran = true;
        for (Mode mode : {Mode::cli, Mode::native}) {
            const std::string path = bench.scratch / ("trace-" + std::to_string(seed) + "-" +
                                                      (mode == Mode::cli ? "cli" : "native"));
            const std::string report = run_in_child(bench, seed, false, false, mode, path);
            if (report.rfind("FAILED: ", 0) == 0) {
                ADD_FAILURE() << (mode == Mode::cli ? "through redis-cli: " : "native: ")
                              << report.substr(8);
                ran = false;
            }
            traces[mode == Mode::cli ? 0 : 1] = read_file(path);
        }
        if (!ran) continue;
        if (traces[0].empty() || traces[1].empty()) {
            ADD_FAILURE() << "sequence " << seed << " wrote no trace";
            continue;
        }
        const std::string diff = modes::first_difference(traces[0], traces[1], "event ");
        EXPECT_TRUE(diff.empty()) << "sequence " << seed << ": " << diff;
    }
}

class EventOrders : public ::testing::TestWithParam<int> {};
class EventOrdersBothModes : public ::testing::TestWithParam<int> {};

}  // namespace

// The fixed seeds CI runs: kShards x kSeedsPerShard sequences of kEventsPerSequence events.
TEST_P(EventOrders, FixedSeeds) {
    std::vector<unsigned> seeds;
    for (unsigned i = 1; i <= kSeedsPerShard; ++i)
        seeds.push_back(static_cast<unsigned>(GetParam()) * kSeedsPerShard + i);
    run_seeds(seeds, false);
}
INSTANTIATE_TEST_SUITE_P(Shards, EventOrders, ::testing::Range(0, kShards));

// A share of the fixed seeds, spread over the set, through redis-cli as well.
TEST_P(EventOrdersBothModes, SameTraceThroughRedisCli) {
    std::vector<unsigned> seeds;
    for (unsigned i = 0; i < kBothModesSeedsPerShard; ++i)
        seeds.push_back(1 + (static_cast<unsigned>(GetParam()) + i * kBothModesShards) *
                                (kShards * kSeedsPerShard) /
                                (kBothModesShards * kBothModesSeedsPerShard));
    run_seeds_in_both_modes(seeds);
}
INSTANTIATE_TEST_SUITE_P(Shards, EventOrdersBothModes, ::testing::Range(0, kBothModesShards));

// Sequences with the insertion monitor running on its own thread while the events are
// applied: what the checks find once it stopped must not depend on the interleaving, and
// the TSan build watches the sharing.
TEST(EventOrdersConcurrent, FixedSeeds) {
    std::vector<unsigned> seeds;
    for (unsigned i = 1; i <= kConcurrentSeeds; ++i) seeds.push_back(100000 + i);
    run_seeds(seeds, true);
}

// `make test-sequences`: PLTFM_SEQUENCE_SEED replays one seed, PLTFM_SEQUENCE_COUNT runs that
// many random ones (their seeds are printed); PLTFM_SEQUENCE_REDIS=cli runs them through
// redis-cli instead of the native connection.
TEST(EventOrdersChosen, Run) {
    const char *one = std::getenv("PLTFM_SEQUENCE_SEED");
    const char *count = std::getenv("PLTFM_SEQUENCE_COUNT");
    std::vector<unsigned> seeds;
    if (one != nullptr && *one != '\0') {
        seeds.push_back(static_cast<unsigned>(std::strtoul(one, nullptr, 10)));
    } else if (count != nullptr && *count != '\0') {
        std::random_device rd;
        for (unsigned long i = std::strtoul(count, nullptr, 10); i > 0; --i) seeds.push_back(rd());
        std::printf("random seeds:");
        for (unsigned s : seeds) std::printf(" %u", s);
        std::printf("\n");
    } else {
        GTEST_SKIP() << "set PLTFM_SEQUENCE_SEED or PLTFM_SEQUENCE_COUNT (make test-sequences "
                        "SEED=... or SEEDS=...)";
    }
    const char *concurrent = std::getenv("PLTFM_SEQUENCE_CONCURRENT");
    const char *redis = std::getenv("PLTFM_SEQUENCE_REDIS");
    run_seeds(seeds, concurrent != nullptr && *concurrent != '\0' && *concurrent != '0',
              one != nullptr && *one != '\0',
              redis != nullptr && std::string(redis) == "cli" ? Mode::cli : Mode::native);
}
