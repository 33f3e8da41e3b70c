// pltfm-sim: a simulated switch around libpltfm. It lays out a platform tree (tuning files,
// port configuration, module EEPROMs), starts a private Redis seeded as the OS would, loads
// libpltfm.so with dlopen as the chip SDK does, brings every port up and shows the result; then
// plays a module swap and a tuning rescan. The library's log goes to a file.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "board.h"
#include "build_config.h"
#include "cpu_time.h"
#include "html_page.h"
#include "json_text.h"
#include "log_file.h"
#include "modules.h"
#include "port_status_view.h"
#include "redis_server.h"
#include "report.h"
#include "scratch_dir.h"
#include "sdk_host.h"
#include "status_probe.h"
#include "timeline.h"
#include "world.h"

namespace fs = std::filesystem;
using namespace pltfm::sim;

namespace {

constexpr const char *kPlatform = "SwitchSDK";
constexpr int kInsertedBit = 1 << 5;
// How long the simulation waits for the library's threads. The insertion thread's pass over
// 48 ports runs a redis-cli process per read and takes well over its 1 s period on a loaded
// machine or under the sanitizers, and the rescan thread polls every 10 s; the waits end as
// soon as the library has acted, so they only bound a run that went wrong.
constexpr int kMonitorWaitMs = 60000;
constexpr int kPromptWaitMs = 15000;  // what the library does at once: port-down, a log line
constexpr int kRescanWaitMs = 60000;

std::atomic<bool> g_interrupted{false};
void on_signal(int) { g_interrupted = true; }

struct Options {
    std::string scenario = "full";
    std::string platform_root;
    std::string tuning_dir;
    std::string library;
    std::string log_path;
    std::string html_path;
    std::vector<std::string> ports;
    int swap_cage = 0;
    bool post_init = false;
    bool json = false;
    bool keep = false;
    std::string redis_mode = "native";
    int monitor_seconds = 0;
    bool compare = true;
};

std::string exe_dir() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

bool in_build_tree() {
    std::error_code ec;
    return fs::equivalent(exe_dir(), PLTFM_SIM_BUILD_DIR, ec);
}

std::string default_library() {
    return in_build_tree() ? std::string(PLTFM_SIM_BUILD_LIBRARY) : std::string("libpltfm.so.1");
}

std::string pltfmctl_path() {
    return (fs::path(exe_dir()) / "pltfmctl").string();
}

std::string default_tuning_dir() {
    if (in_build_tree()) return PLTFM_SIM_SOURCE_EXAMPLES;
    return (fs::path(exe_dir()) / PLTFM_SIM_DATADIR_FROM_BINDIR).lexically_normal().string();
}

// Human output (suppressed with --json) with the time since start; every step and what is
// said during it also go to the run's timeline, with the library's log position.
class Console {
public:
    explicit Console(bool quiet) : quiet_(quiet), start_(std::chrono::steady_clock::now()) {}
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
    // The library's log, once it is redirected; steps before that begin at offset 0.
    void follow(const LogFile &log) { log_ = &log; }
    void step(const std::string &text) {
        timeline_.begin(seconds(), text, log_ != nullptr ? log_->size() : 0);
        heading(text);
    }
    // A picture or table under a heading printed as a step's: neither is part of the timeline.
    void section(const std::string &title, const std::string &body) const {
        heading(title);
        print(body);
    }
    void say(const std::string &text) {
        timeline_.note(text);
        print(text);
    }
    const Timeline &timeline() const { return timeline_; }

private:
    void heading(const std::string &text) const {
        if (quiet_) return;
        std::printf("\n[%5.1f s] %s\n", seconds(), text.c_str());
        std::fflush(stdout);
    }
    void print(const std::string &text) const {
        if (quiet_) return;
        std::printf("%s%s", text.c_str(), !text.empty() && text.back() == '\n' ? "" : "\n");
        std::fflush(stdout);
    }
    bool quiet_;
    std::chrono::steady_clock::time_point start_;
    const LogFile *log_ = nullptr;
    Timeline timeline_;
};

// Polls `ready` every 50 ms; elapsed milliseconds, or -1 on timeout or interruption.
long wait_for(int timeout_ms, const std::function<bool()> &ready) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const long elapsed = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::chrono::steady_clock::now() - start)
                                                   .count());
        if (ready()) return elapsed;
        if (elapsed >= timeout_ms || g_interrupted) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

double elapsed_ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

class Simulation {
public:
    Simulation(const Options &opt, Console &out, LogFile &log, World &world, SdkHost &sdk)
        : opt_(opt), out_(out), log_(log), world_(world), sdk_(sdk) {
        json["port_state"] = nlohmann::json::array();
    }

    bool bring_up(const std::vector<Port> &ports, const std::map<int, ModuleKind> &modules);
    bool swap(const std::map<int, ModuleKind> &modules, std::vector<Port> &all_ports);
    bool rescan();

    nlohmann::json json;
    std::vector<PortView> views;

private:
    PortView *view_of_cage(int cage);
    void bring_port_up(PortView &view);
    // Runs pltfmctl status, keeps its document for the run's JSON and page, and prints the
    // view `filter` picks, as `pltfmctl status` with the matching options prints it.
    void show_status(const std::string &after, const pltfm::tools::StatusFilter &filter);
    // Waits until the port's published hash holds `value` in `field`.
    bool published(const Port &port, const std::string &field, const std::string &value);
    const Options &opt_;
    Console &out_;
    LogFile &log_;
    World &world_;
    SdkHost &sdk_;
    int changed_port_ = -1;  // index into views of the port the swap changed
};

void Simulation::show_status(const std::string &after, const pltfm::tools::StatusFilter &filter) {
    std::string command = "pltfmctl status";
    if (filter.stale_only) command += " --stale";
    if (!filter.intf.empty()) command += " --intf " + filter.intf;
    const StatusSnapshot snap = take_status(pltfmctl_path(), after);
    nlohmann::json j = snapshot_json(snap);
    j["view"] = {{"command", command}, {"stale_only", filter.stale_only}, {"intf", filter.intf}};
    json["port_state"].push_back(j);
    if (!snap.error.empty()) {
        out_.section(command + " (after " + after + ")", "  " + snap.error);
        return;
    }
    const nlohmann::json view = pltfm::tools::filter_status(snap.doc, filter);
    const nlohmann::json &counts = view["counts"];
    const int found = filter.stale_only ? counts.value("stale", 0) : counts.value("flagged", 0);
    out_.section(command + " (after " + after + ")",
                 pltfm::tools::status_text(view) + "  exit status " + (found ? "1" : "0"));
}

bool Simulation::published(const Port &port, const std::string &field, const std::string &value) {
    return wait_for(kPromptWaitMs, [&] { return world_.published(port, field) == value; }) >= 0;
}

PortView *Simulation::view_of_cage(int cage_number) {
    for (PortView &v : views) {
        if (v.port.cage == cage_number) return &v;
    }
    return nullptr;
}

void Simulation::bring_port_up(PortView &view) {
    const SdkHost::PreInit result = sdk_.port_pre_init(view.port);
    view.tuned = result.ok;
    view.records = result.records;
    // What the library stored for the port (its table of key attributes).
    const std::vector<std::string> keys = sdk_.key_attributes(view.port.number + 1);
    view.cable_type = keys[1];
    view.lane_class = keys[2];
    view.encoding = keys[3];
    sdk_.port_init(view.port);
    if (result.ok && view.module != ModuleKind::empty) {
        sdk_.link_up(view.port);
        view.state = "link up";
    } else if (view.module == ModuleKind::empty) {
        view.state = "no module";
    } else {
        view.state = "no tuning";
    }
}

bool Simulation::bring_up(const std::vector<Port> &ports, const std::map<int, ModuleKind> &modules) {
    out_.step("The SDK starts: pltfm_pre_init(\"SwitchSDK\") reads port_config.ini, starts the "
              "insertion-monitor thread, loads the tuning files and starts the rescan thread");
    const auto start_up = std::chrono::steady_clock::now();
    const int rc_pre = sdk_.pre_init(kPlatform);
    json["start_up_ms"] = elapsed_ms(start_up);
    if (rc_pre != 0) {
        out_.say("  pltfm_pre_init failed: rc=" + std::to_string(rc_pre) + " (see the log)");
        json["pre_init"] = rc_pre;
        return false;
    }
    const int rc_init = sdk_.init(kPlatform);
    out_.say("  pltfm_pre_init rc=0, pltfm_init rc=" + std::to_string(rc_init));
    if (opt_.post_init) {
        out_.say("  pltfm_post_init: the library holds the SDK's thread for 10 s ...");
        const int rc_post = sdk_.post_init(kPlatform);
        out_.say("  pltfm_post_init rc=" + std::to_string(rc_post));
    } else {
        out_.say("  pltfm_post_init is not called: it only holds the SDK's thread for 10 s "
                 "(use --post-init to include it)");
    }

    out_.step("Port bring-up: for each port pltfm_port_pre_init (identify module, enable lasers, "
              "look up tuning), then pltfm_port_init and pltfm_port_link_up");
    const auto bring_up_start = std::chrono::steady_clock::now();
    for (const Port &p : ports) {
        PortView view;
        view.port = p;
        const auto it = modules.find(p.cage);
        view.module = it == modules.end() ? ModuleKind::empty : it->second;
        bring_port_up(view);
        views.push_back(view);
        if (g_interrupted) return false;
    }
    json["bring_up_ms"] = elapsed_ms(bring_up_start);
    int tuned = 0;
    for (const PortView &v : views) tuned += v.tuned ? 1 : 0;
    out_.say("  " + std::to_string(views.size()) + " ports, " + std::to_string(tuned) +
             " with SerDes tuning from the library; ports of empty cages get none (the SDK keeps "
             "its defaults)");
    out_.section("Faceplate (front view), module per cage", faceplate(modules));
    out_.section("Ports as the library set them up", port_table(views));
    json["ports"] = nlohmann::json::array();
    for (const PortView &v : views) json["ports"].push_back(port_json(v));
    show_status("bring-up", {});
    return true;
}

bool Simulation::swap(const std::map<int, ModuleKind> &modules, std::vector<Port> &all_ports) {
    int cage_number = opt_.swap_cage;
    if (cage_number == 0) {
        for (const PortView &v : views) {
            if (v.module == ModuleKind::qsfp_dd_dac_1m || v.module == ModuleKind::qsfp_dd_dac_3m) {
                cage_number = v.port.cage;
                break;
            }
        }
    }
    PortView *view = cage_number != 0 ? view_of_cage(cage_number) : nullptr;
    if (view == nullptr) {
        out_.step("Module swap skipped: no QSFP-DD DAC among the ports brought up (see --swap-cage)");
        json["swap"] = {{"done", false}};
        return false;
    }
    changed_port_ = static_cast<int>(view - views.data());
    const int slot = view->port.number + 1;
    const auto old_kind = modules.count(cage_number) ? modules.at(cage_number) : ModuleKind::empty;
    nlohmann::json j = {{"cage", cage_number}, {"interface", view->port.intf},
                        {"from", module_info(old_kind).description},
                        {"to", module_info(ModuleKind::qsfp_dd_optic).description}};

    out_.step("Module swap in cage " + std::to_string(cage_number) + " (" + view->port.intf +
              "): the " + module_info(old_kind).description + " is pulled, a " +
              module_info(ModuleKind::qsfp_dd_optic).description + " goes in");
    // The monitor has to have seen the first module (inserted bit) before the swap means
    // anything: it visits every configured port once a second.
    const long seen = wait_for(kMonitorWaitMs, [&] { return (sdk_.state_bits(slot) & kInsertedBit) != 0; });
    if (seen < 0) {
        out_.say("  the insertion thread never recorded the module in " + view->port.intf);
        json["swap"] = j;
        return false;
    }
    if (const auto line = log_.find_last("Port " + std::to_string(view->port.number) + " insert the same transceiver")) {
        out_.say("  insertion thread, first pass:   " + *line);
    }

    world_.pull(cage_number, all_ports);
    out_.say("  pulled: EEPROM file removed, TRANSCEIVER_STATUS|" + view->port.intf +
             " status=0 and TRANSCEIVER_INFO deleted in db 6");
    const long gone = wait_for(kMonitorWaitMs, [&] { return (sdk_.state_bits(slot) & kInsertedBit) == 0; });
    out_.say(gone >= 0 ? "  insertion thread saw the empty cage after " + std::to_string(gone) +
                             " ms (inserted bit cleared; the stored attributes stay)"
                       : "  insertion thread did not see the empty cage within " +
                             std::to_string(kMonitorWaitMs / 1000) + " s");

    const std::size_t log_mark = log_.size();
    world_.plug(cage_number, ModuleKind::qsfp_dd_optic, all_ports);
    out_.say("  inserted: new CMIS EEPROM image, TRANSCEIVER_INFO fields, then status=1 in db 6");
    const long noticed = wait_for(kMonitorWaitMs, [&] { return world_.admin_status(view->port) == "down"; });
    j["noticed_ms"] = noticed;
    if (noticed < 0) {
        out_.say("  the library did not take the port down within " +
                 std::to_string(kMonitorWaitMs / 1000) + " s");
        json["swap"] = j;
        return false;
    }
    if (const auto line = log_.find_after(log_mark, "Port " + std::to_string(view->port.number) + " from ")) {
        out_.say("  insertion thread noticed after " + std::to_string(noticed) + " ms:  " + *line);
    }
    out_.say("  db 4 PORT|" + view->port.intf + " admin_status: up -> down (written by the library)");
    // The library publishes the open cycle right after the "down": the port runs on the old
    // module's tuning until the OS creates it again.
    published(view->port, "exchange", "open");
    show_status("the library set " + view->port.intf + " down", {false, view->port.intf});

    out_.step("The OS reacts to admin down: link down and port down; the library's port-down sees "
              "the exchanged module and sets admin_status up again");
    sdk_.link_down(view->port);
    sdk_.port_down(view->port);
    const long up = wait_for(kPromptWaitMs, [&] { return world_.admin_status(view->port) == "up"; });
    out_.say(up >= 0 ? "  db 4 PORT|" + view->port.intf + " admin_status: down -> up (port-down toggled it)"
                     : "  admin_status did not come back up");
    j["admin_back_up"] = up >= 0;

    out_.step("The OS creates the port again: pltfm_port_pre_init hands out the new module's tuning");
    const std::vector<pltfm::tools::SdkRecord> before = view->records;
    view->module = ModuleKind::qsfp_dd_optic;
    bring_port_up(*view);
    out_.say("  " + view->port.intf + " now " + (view->cable_type.empty() ? "?" : view->cable_type) + " " +
             view->lane_class + " " + view->encoding + ", " + view->state + "; tuning changes:");
    out_.say(tuning_diff(before, view->records));
    show_status("the swap", {false, view->port.intf});
    j["after"] = port_json(*view);
    j["done"] = up >= 0 && view->tuned;
    json["swap"] = j;
    return up >= 0 && view->tuned;
}

bool Simulation::rescan() {
    PortView *view = changed_port_ >= 0 ? &views[static_cast<std::size_t>(changed_port_)] : nullptr;
    if (view == nullptr) {
        for (PortView &v : views) {
            if (v.tuned) {
                view = &v;
                break;
            }
        }
    }
    if (view == nullptr || view->cable_type.empty()) {
        out_.step("Tuning rescan skipped: no tuned port");
        json["rescan"] = {{"done", false}};
        return false;
    }
    // A second port of the same cable type in another cage: the edit changes its rows too, and
    // the OS does not create it again here, so it stays on the tuning the rescan replaced.
    const PortView *other = nullptr;
    for (const PortView &v : views) {
        if (&v != view && v.tuned && v.cable_type == view->cable_type &&
            v.port.front_port != view->port.front_port) {
            other = &v;
            break;
        }
    }
    std::vector<int> front_ports = {view->port.front_port};
    if (other != nullptr) front_ports.push_back(other->port.front_port);
    out_.step("Tuning rescan: an operator edits a tuning file and creates the trigger file csv_rescan");
    const auto change = world_.bump_tuning(view->cable_type, front_ports);
    if (!change) {
        out_.say("  no " + view->cable_type + " rows with TX_EQ_PRE1 for front port " +
                 std::to_string(view->port.front_port) + " in the tuning files; rescan skipped");
        json["rescan"] = {{"done", false}};
        return false;
    }
    out_.say("  changed " + *change + ": the rows of " + view->port.intf +
             (other != nullptr ? " and " + other->port.intf : std::string()));
    const std::size_t log_mark = log_.size();
    pltfm::test::write_bytes(world_.rescan_trigger(), "");
    out_.say("  created " + world_.rescan_trigger() + "; the rescan thread polls every 10 s ...");
    std::string verdict;
    const long took = wait_for(kRescanWaitMs, [&] {
        if (log_.find_after(log_mark, "CSV rescan successful!")) verdict = "CSV rescan successful!";
        else if (log_.find_after(log_mark, "Error: CSV rescan failed")) verdict = "Error: CSV rescan failed";
        return !verdict.empty();
    });
    std::error_code ec;
    fs::remove(world_.rescan_trigger(), ec);
    nlohmann::json j = {{"change", *change}, {"waited_ms", took}, {"result", verdict}};
    if (took < 0 || verdict != "CSV rescan successful!") {
        out_.say("  rescan " + (took < 0 ? "did not happen within " + std::to_string(kRescanWaitMs / 1000) + " s" : verdict));
        j["done"] = false;
        json["rescan"] = j;
        return false;
    }
    out_.say("  library after " + std::to_string(took) + " ms: " + verdict);
    // The line the library logs right after it: what the reload changed.
    std::optional<std::string> changes;
    wait_for(kPromptWaitMs, [&] {
        return (changes = log_.find_after(log_mark, "CSV rescan changed tuning rows")).has_value();
    });
    if (changes) {
        const std::string text = changes->substr(changes->find("CSV rescan changed"));
        out_.say("  " + text);
        j["changes"] = text;
    }
    // Then the ports that run on rows it changed: named in one line, and marked stale in the
    // port-state table until each is created again.
    std::optional<std::string> stale;
    wait_for(kPromptWaitMs, [&] {
        return (stale = log_.find_after(log_mark, "re-create these ports")).has_value();
    });
    if (stale) {
        const std::string text = stale->substr(stale->find("CSV rescan changed"));
        out_.say("  " + text);
        j["stale_line"] = text;
        for (const PortView &v : views) {
            if (text.find(v.port.intf + ",") != std::string::npos ||
                text.find(v.port.intf + ")") != std::string::npos)
                published(v.port, "stale", "yes");
        }
    }
    show_status("the rescan", {true, ""});

    out_.step("New tuning applies when a port is created again: the OS flaps " + view->port.intf);
    const std::vector<pltfm::tools::SdkRecord> before = view->records;
    sdk_.link_down(view->port);
    sdk_.port_down(view->port);
    bring_port_up(*view);
    out_.say("  " + view->port.intf + " " + view->state + "; tuning changes:");
    out_.say(tuning_diff(before, view->records));
    out_.say("  " + view->port.intf + " runs on the tuning now in the files: no longer stale" +
             (other != nullptr
                  ? "; " + other->port.intf + " stays stale (flagged) until the OS creates it again"
                  : std::string()));
    show_status(view->port.intf + " was created again", {});
    j["after"] = port_json(*view);
    j["done"] = view->tuned;
    json["rescan"] = j;
    return view->tuned;
}

// The same switch brought up in fresh processes of this tool, once per Redis mode; what
// start-up, bring-up and the insertion thread cost in each.
void compare_modes(Console &out, const Options &opt) {
    out.step("Redis through redis-cli or over a persistent connection: the same bring-up in a "
             "fresh process for each (about 10 s)");
    nlohmann::json result[2];
    const char *modes[] = {"cli", "native"};
    for (int m = 0; m < 2; ++m) {
        std::string cmd = "'" + (fs::path(exe_dir()) / "pltfm-sim").string() + "' --scenario bringup --json --redis " +
                          modes[m] + " --monitor-seconds 3 --log /dev/null";
        if (!opt.library.empty()) cmd += " --library '" + opt.library + "'";
        if (!opt.tuning_dir.empty()) cmd += " --tuning-dir '" + opt.tuning_dir + "'";
        FILE *pipe = popen(cmd.c_str(), "r");
        std::string text;
        char buf[4096];
        for (std::size_t n; pipe != nullptr && (n = fread(buf, 1, sizeof buf, pipe)) > 0;) text.append(buf, n);
        if (pipe != nullptr) pclose(pipe);
        result[m] = nlohmann::json::parse(text, nullptr, false);
        if (result[m].is_discarded() || !result[m].value("ok", false)) {
            out.say(std::string("  the ") + modes[m] + " run failed; no comparison");
            return;
        }
    }
    char line[160];
    out.say("                                   redis-cli      native   ratio");
    const struct {
        const char *label, *key;
    } rows[] = {{"start-up (pltfm_pre_init)", "start_up_ms"},
                {"bring-up of the 48 ports", "bring_up_ms"},
                {"insertion thread CPU per pass", "monitor_cpu_ms_per_s"}};
    for (const auto &r : rows) {
        const double cli = result[0].value(r.key, 0.0), native = result[1].value(r.key, 0.0);
        std::snprintf(line, sizeof line, "  %-30s %9.1f ms %8.1f ms %6.0fx", r.label, cli, native,
                      native > 0 ? cli / native : 0.0);
        out.say(line);
    }
    out.say("  (CPU counted with the processes each run started; one pass a second)");
}

int run(const Options &opt) {
    Console out(opt.json);
    const bool generated = opt.platform_root.empty();
    if (!generated && opt.scenario != "bringup") {
        std::fprintf(stderr, "pltfm-sim: --platform-root works with --scenario bringup only (the "
                             "swap and the rescan would change the files)\n");
        return 2;
    }

    pltfm::test::ScratchDir scratch("pltfm-sim-");
    if (!scratch.ok()) {
        std::fprintf(stderr, "pltfm-sim: cannot create a temporary directory\n");
        return 1;
    }
    const std::string root = generated ? scratch.path() + "/root" : opt.platform_root;

    out.step("Starting a private redis-server on a unix socket (no TCP port)");
    pltfm::test::RedisServer redis;
    if (!redis.ok()) {
        std::fprintf(stderr, "pltfm-sim: redis-server: %s\n", redis.error().c_str());
        return 1;
    }
    redis.use_on_path();
    out.say("  socket " + redis.socket_path() + "; redis-cli on PATH is a wrapper bound to it");
    if (opt.redis_mode == "native") {
        setenv("PLTFM_REDIS", ("unix:" + redis.socket_path()).c_str(), 1);
        out.say("  the library reaches it over a persistent connection: PLTFM_REDIS=unix:" +
                redis.socket_path());
    } else {
        unsetenv("PLTFM_REDIS");
        out.say("  the library reaches it through redis-cli in a shell pipe (PLTFM_REDIS unset)");
    }

    World world(root, redis);
    BoardPlan plan;
    if (generated) {
        plan = demo_board();
        out.step("Laying out the platform tree under PLTFM_ROOT=" + root);
        const std::string tuning = opt.tuning_dir.empty() ? default_tuning_dir() : opt.tuning_dir;
        const std::string err = world.lay_out(tuning, plan);
        if (!err.empty()) {
            std::fprintf(stderr, "pltfm-sim: %s\n", err.c_str());
            return 1;
        }
        out.say("  tuning files from " + tuning + "\n  " + world.port_config_file() + " (" +
                std::to_string(plan.ports.size()) + " ports)\n  " +
                std::to_string(plan.modules.size()) + " module EEPROMs under " + root +
                PLTFM_SYSFS_ROOT);
    } else {
        out.step("Using the platform tree " + root);
        plan.ports = pltfm::tools::read_port_config(world.port_config_file()).ports;
        if (plan.ports.empty()) {
            std::fprintf(stderr, "pltfm-sim: no ports in %s\n", world.port_config_file().c_str());
            return 1;
        }
        for (const Port &p : plan.ports) {
            std::error_code ec;
            if (fs::exists(world.eeprom_file(p.cage), ec)) plan.modules[p.cage] = ModuleKind::unknown;
        }
    }

    std::vector<Port> selected;
    for (const Port &p : plan.ports) {
        if (opt.ports.empty() || std::find(opt.ports.begin(), opt.ports.end(), p.intf) != opt.ports.end()) {
            selected.push_back(p);
        }
    }
    if (selected.empty()) {
        std::fprintf(stderr, "pltfm-sim: none of the requested ports is in the port configuration\n");
        return 2;
    }
    // The OS configures the ports the run brings up (with --ports, only those).
    if (generated) {
        world.seed(selected, plan.modules);
        out.say(
            "  Redis seeded as the OS would for " + std::to_string(selected.size()) +
            " ports: db 0 PORT_TABLE speed, db 4 PORT admin_status=up, db 6 TRANSCEIVER_STATUS and "
            "TRANSCEIVER_INFO");
    } else {
        world.seed_from_files(selected);
        out.say("  " + std::to_string(selected.size()) +
                " ports; Redis seeded with speeds and admin "
                "up, no transceiver records (the library identifies modules from their EEPROM)");
    }

    setenv("PLTFM_ROOT", root.c_str(), 1);
    // The library publishes what each port got in database 6 (PORT_SERDES_STATE|<intf>), which
    // pltfmctl status reads after each step.
    setenv("PLTFM_PORT_STATE", "1", 1);
    LogFile log;
    const std::string log_path = !opt.log_path.empty() ? opt.log_path : scratch.path() + ".log";
    if (!log.redirect(log_path)) {
        std::fprintf(stderr, "pltfm-sim: cannot write the log %s\n", log_path.c_str());
        return 1;
    }
    out.follow(log);
    out.step("Loading the library with dlopen, as the chip SDK does");
    SdkHost sdk(opt.library.empty() ? default_library() : opt.library);
    if (!sdk.error().empty()) {
        dprintf(log.saved_stderr(), "pltfm-sim: %s: %s\n", sdk.path().c_str(), sdk.error().c_str());
        return 1;
    }
    out.say("  " + sdk.path() +
            ": every pltfm_ entry point resolved\n  the library's log (its "
            "standard error) goes to " +
            log.path() +
            "\n  PLTFM_PORT_STATE=1: it publishes what "
            "each port got in db 6 (PORT_SERDES_STATE|<interface>), shown with pltfmctl status");

    Simulation sim(opt, out, log, world, sdk);
    sim.json["library"] = sdk.path();
    sim.json["platform_root"] = root;
    sim.json["log"] = log.path();
    sim.json["redis"] = opt.redis_mode;
    bool ok = sim.bring_up(selected, plan.modules);
    if (ok && opt.monitor_seconds > 0) {
        // Only the insertion thread works now (a pass a second); the rescan thread polls a
        // file every 10 s.
        out.step("Measuring the insertion thread's CPU for " + std::to_string(opt.monitor_seconds) + " s");
        const double before = pltfm::test::process_cpu_ms();
        std::this_thread::sleep_for(std::chrono::seconds(opt.monitor_seconds));
        sim.json["monitor_cpu_ms_per_s"] = (pltfm::test::process_cpu_ms() - before) / opt.monitor_seconds;
    }
    if (ok && generated && (opt.scenario == "full" || opt.scenario == "swap")) {
        ok = sim.swap(plan.modules, plan.ports);
    }
    if (ok && generated && (opt.scenario == "full" || opt.scenario == "rescan")) ok = sim.rescan();
    if (g_interrupted) ok = false;

    if (ok && opt.compare && opt.scenario == "full" && generated && !opt.json && opt.ports.empty())
        compare_modes(out, opt);

    sim.json["ok"] = ok;
    std::string kept;
    if (opt.keep && generated) {
        // Move the tree out of the scratch directory, which is removed on return.
        std::error_code ec;
        kept = scratch.path() + "-tree";
        fs::rename(root, kept, ec);
        if (ec) kept.clear();
        sim.json["kept_tree"] = kept;
    }
    out.step(ok ? "Done. Nothing is left running: the Redis server stops as pltfm-sim exits."
                : "Stopped: a step did not complete (see above and the log).");
    out.say("  library log: " + log.path());
    out.say(kept.empty() ? "  the temporary platform tree is removed"
                         : "  platform tree kept: " + kept + " (use it with --platform-root)");
    sim.json["scenario"] = opt.scenario;
    sim.json["seconds"] = out.seconds();
    sim.json["cages"] = cages_json(sim.views, plan.modules);
    sim.json["timeline"] = out.timeline().json(log.text());
    if (!opt.html_path.empty()) {
        const std::string error = pltfm::tools::write_page(
            opt.html_path, pltfm::tools::html_page(pltfm::tools::PageKind::switch_run,
                                                   "Simulated switch run", pltfm::tools::json_text(sim.json)));
        if (!error.empty()) {
            dprintf(log.saved_stderr(), "pltfm-sim: %s\n", error.c_str());
            ok = false;
            sim.json["ok"] = false;  // the page is missing: the printed JSON must not say ok
        } else {
            out.say("  run page: " + opt.html_path);
        }
    }
    if (opt.json) std::cout << pltfm::tools::json_text(sim.json, 2) << std::endl;
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    Options opt;
    CLI::App app{"pltfm-sim: a simulated switch that loads libpltfm.so as the chip SDK does,\n"
                 "brings its ports up on simulated modules and shows what the library decides."};
    app.add_option("--scenario", opt.scenario,
                   "bringup: start-up and port bring-up only; swap: also a module swap; rescan: "
                   "bring-up and a tuning rescan; full: all of it")
        ->check(CLI::IsMember({"bringup", "swap", "rescan", "full"}))
        ->capture_default_str();
    app.add_option("--platform-root", opt.platform_root,
                   "Use this existing platform tree as PLTFM_ROOT instead of generating one (its "
                   "tuning files, port_config.ini and EEPROM files; scenario bringup only)")
        ->check(CLI::ExistingDirectory);
    app.add_option("--tuning-dir", opt.tuning_dir,
                   "Tuning directory copied into the generated tree (default: the sample one)")
        ->check(CLI::ExistingDirectory);
    app.add_option("--ports", opt.ports, "Bring up only these interfaces, e.g. Ethernet0,Ethernet8")
        ->delimiter(',');
    app.add_option("--swap-cage", opt.swap_cage,
                   "Cage of the module swap (default: the first QSFP-DD DAC brought up)")
        ->check(CLI::Range(1, 32));
    app.add_option("--library", opt.library, "libpltfm.so to load (default: the build tree's, or "
                                             "libpltfm.so.1 through the loader's search path)");
    app.add_option("--log", opt.log_path, "File that receives the library's log (default: next to "
                                          "the temporary tree, path printed)");
    app.add_option("--redis", opt.redis_mode,
                   "How the library reaches the simulated switch's Redis: native (a persistent "
                   "connection, PLTFM_REDIS) or cli (redis-cli in a shell pipe)")
        ->check(CLI::IsMember({"native", "cli"}))
        ->capture_default_str();
    app.add_option("--monitor-seconds", opt.monitor_seconds,
                   "After the bring-up, measure the CPU of the idle switch (the insertion thread's "
                   "passes) for this many seconds (JSON: monitor_cpu_ms_per_s)")
        ->check(CLI::Range(0, 60));
    app.add_flag("!--no-compare", opt.compare,
                 "Skip the closing comparison of both Redis modes (full scenario)");
    app.add_option("--html", opt.html_path,
                   "Also write the run as one self-contained HTML page: faceplate, port tuning "
                   "table and the timeline of the steps with the library's log lines");
    app.add_flag("--post-init", opt.post_init, "Also call pltfm_post_init (holds the SDK thread 10 s)");
    app.add_flag("--keep", opt.keep, "Keep the generated platform tree after the run");
    app.add_flag("--json", opt.json, "Print one JSON document instead of the pictures and tables");
    app.footer("Needs redis-server and redis-cli. Exit status: 0 every step completed, 1 a step "
               "failed, 2 usage error.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return 2;
    }

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    const int rc = run(opt);
    // The library's threads never end; leave without running static destructors under them.
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(rc);
}
