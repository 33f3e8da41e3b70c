// pltfmctl lookup DIR ...: the tuning rows the database returns for one port's keys (with the
// vendor fallback to GENERIC when it happens) and the SDK records that port
// pre-initialisation would hand out for them.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "json_text.h"
#include "names.h"
#include "platform_database.h"
#include "port_tuning.h"
#include "stderr_capture.h"
#include "text_lines.h"
#include "tuning_view.h"

namespace pltfm::ctl {

namespace {

struct LookupOptions {
    std::string dir;
    std::string cable_type;
    std::string vendor = "GENERIC";
    int64_t port_speed = -1;
    std::string lane_speed;
    std::string front_port;
    int32_t lanes = 0;
    int32_t start_lane = 0;
    std::string intf;
    bool json = false;
    bool verbose = false;
};

std::string upper(std::string text) {
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

void set_text(char (&dst)[PLTFM_ATTR_VALUE_LEN], const std::string &src) {
    std::snprintf(dst, sizeof dst, "%s", src.c_str());
}

pltfm_attr_t attr(pltfm_attr_type_e key, const std::string &value) {
    pltfm_attr_t a{};
    a.key = key;
    set_text(a.value, value);
    return a;
}

// The interface that front-panel key `fp` and `start_lane` stand for: eight per cage,
// Ethernet256 and Ethernet257 for the two extra cages (key 32).
std::string interface_name(const std::string &fp, int32_t start_lane) {
    char *end = nullptr;
    const long n = std::strtol(fp.c_str(), &end, 10);
    if (fp.empty() || *end != '\0' || n < 0 || n > 32) return "Ethernet0";
    return "Ethernet" + std::to_string(n * 8 + start_lane);
}

int run_lookup(const LookupOptions &opt) {
    // Key texts as port pre-initialisation builds them.
    std::optional<tools::LaneSpeedClass> cls;
    if (!opt.lane_speed.empty()) {
        cls = tools::lane_class_by_name(opt.lane_speed);
        if (!cls) {
            std::cerr << "pltfmctl lookup: --lane-speed must be 10G/40G, 25G/100G or 50G/400G\n";
            return kExitUsage;
        }
    } else {
        cls = tools::lane_class_of_speed(opt.port_speed, opt.lanes);
        if (!cls) {
            std::cerr << "pltfmctl lookup: port speed " << opt.port_speed << " over " << opt.lanes
                      << " lanes is not 10000, 25000 or 50000 per lane; the library would "
                         "refuse the port (\"Invalid port lane speed\")\n";
            return kExitUsage;
        }
    }
    const std::string intf =
        !opt.intf.empty() ? opt.intf : interface_name(opt.front_port, opt.start_lane);

    const std::vector<pltfm_attr_t> keys = {
        attr(PLTFM_ATTR_VENDOR, upper(opt.vendor)),
        attr(PLTFM_ATTR_CABLE_TYPE, upper(opt.cable_type)),
        attr(PLTFM_ATTR_SPEED, std::string(cls->speed)),
        attr(PLTFM_ATTR_ENCODING, std::string(cls->encoding)),
        attr(PLTFM_ATTR_FRONT_PORT, opt.front_port),
        attr(PLTFM_ATTR_NUM_LANES, std::to_string(opt.lanes)),
        attr(PLTFM_ATTR_LANE, std::to_string(opt.start_lane)),
    };

    std::string load_messages;
    pltfm_status_t rc;
    {
        tools::StderrCapture capture;
        rc = pltfm_parser_database_init(opt.dir.c_str());
        load_messages = capture.finish();
    }
    if (rc != PLTFM_SUCCESS) {
        std::cerr << load_messages << "pltfmctl lookup: " << opt.dir
                  << " does not load (" << tools::status_name(rc) << "); run pltfmctl lint\n";
        return kExitInvalid;
    }

    // The translation exactly as port pre-initialisation calls it.
    pltfm_port_t port{};
    std::snprintf(port.intf_name, sizeof port.intf_name, "%s", intf.c_str());
    port.fp_start_lane = port.cur_start_lane = opt.start_lane;
    port.fp_num_lanes = port.cur_num_lanes = opt.lanes;
    const tuning::PortTuning t = tuning::port_tuning(keys, port);
    if (opt.verbose || t.lookup_status != PLTFM_SUCCESS) std::cerr << t.lookup_messages;
    else if (t.vendor_fallback) std::cerr << t.lookup_messages;
    if (opt.verbose || t.translate_status > 0) std::cerr << t.translate_messages;

    if (opt.json) {
        nlohmann::json out = tuning_json(keys, t);
        if (!t.tuned()) out["messages"] = tools::split_lines(t.lookup_messages);
        std::cout << tools::json_text(out, 2) << '\n';
    } else {
        print_tuning(std::cout, keys, t);
    }
    return t.tuned() ? kExitOk : kExitInvalid;
}

}  // namespace

Runner add_lookup(CLI::App &app) {
    auto opt = std::make_shared<LookupOptions>();
    CLI::App *sub = app.add_subcommand(
        "lookup", "Show the tuning rows and SDK records the library would use for one port");
    sub->add_option("DIR", opt->dir, "Tuning directory")->required()->check(CLI::ExistingDirectory);
    sub->add_option("--cable-type", opt->cable_type, "OPTICS, DAC_1M, DAC_3M or RJ45")->required();
    sub->add_option("--vendor", opt->vendor, "Vendor key (falls back to GENERIC when absent)")
        ->capture_default_str();
    auto *speed = sub->add_option("--port-speed", opt->port_speed,
                                  "Port speed as in the OS's speed field, e.g. 400000");
    auto *lane = sub->add_option("--lane-speed", opt->lane_speed,
                                 "Lane-speed class instead: 10G/40G, 25G/100G or 50G/400G");
    speed->excludes(lane);
    lane->excludes(speed);
    sub->add_option("--front-port", opt->front_port,
                    "Front-panel port key as the files write it (compared as text): 0-32")
        ->required();
    sub->add_option("--lanes", opt->lanes, "Lane count of the port")
        ->required()
        ->check(CLI::Range(1, 8));
    sub->add_option("--start-lane", opt->start_lane, "First lane of the port in its cage")
        ->required()
        ->check(CLI::Range(0, 7));
    sub->add_option("--intf", opt->intf, "Interface name used for the translation (display only)");
    sub->add_flag("--json", opt->json, "Print the result as JSON");
    sub->add_flag("-v,--verbose", opt->verbose, "Also show the library's messages of the lookup");
    sub->footer("Exactly one of --port-speed and --lane-speed is required.\n"
                "Exit status: 0 rows found, 1 no rows or the directory does not load, 2 usage error.");
    sub->callback([speed, lane] {
        if (speed->count() == 0 && lane->count() == 0) {
            throw CLI::RequiredError("--port-speed or --lane-speed");
        }
    });
    return [opt] { return run_lookup(*opt); };
}

}  // namespace pltfm::ctl
