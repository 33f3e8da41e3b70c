// pltfmctl explain --intf EthernetN: what the library would decide for one port now, on a
// live switch or a PLTFM_ROOT tree, and where each answer came from: the port speed (database
// 0 or port_config.ini), the lane-speed class, the module identification (the state
// database's record, or the EEPROM bytes that decided), the tuning rows and the SDK records
// pre-initialisation would hand out. Every decision is the library's own function; the
// command only reads: nothing is written to Redis or to any EEPROM.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "board_ports.h"
#include "commands.h"
#include "intf_name.h"
#include "json_text.h"
#include "module_view.h"
#include "names.h"
#include "paths.h"
#include "platform_database.h"
#include "platform_hw_internal.h"
#include "port_status_view.h"
#include "port_tuning.h"
#include "published_state.h"
#include "redis_reader.h"
#include "stderr_capture.h"
#include "text_lines.h"
#include "transceiver_decode.h"
#include "tuning_view.h"

namespace pltfm::ctl {

namespace {

struct ExplainOptions {
    std::string intf;
    int lanes = 0;
    int start_lane = 0;
    int front_port = 0;
    std::string tuning_dir;
    bool json = false;
    bool verbose = false;
};

// The fields of the module's records in database 6 that identification reads, in its order.
struct RecordField {
    const char *table;
    const char *field;
};
constexpr RecordField kModuleFields[] = {
    {"TRANSCEIVER_STATUS", "status"},     {"TRANSCEIVER_INFO", "type"},
    {"TRANSCEIVER_INFO", "cable_length"}, {"TRANSCEIVER_INFO", "specification_compliance"},
    {"TRANSCEIVER_INFO", "connector"},
};

// Runs `step` with the library's log captured; the log goes to `log`.
template <class Step>
auto logged(std::string &log, Step step) {
    tools::StderrCapture capture;
    auto result = step();
    log += capture.finish();
    return result;
}

// The port's descriptor: geometry given on the command line, else from the interface name
// (start lane, front port) and port_config.ini (lane count).
struct Geometry {
    pltfm_port_t port{};
    uint32_t slot = 0;
    int cage = 0;
    int front_port = 0;
    std::string lanes_from;  // where the lane count came from
};

std::optional<Geometry> geometry(const ExplainOptions &opt, bool lanes_given, bool start_given,
                                 bool front_given, std::string &error) {
    Geometry g;
    const auto named = tools::port_named(opt.intf, 0, 0);
    if (!named && !(start_given && front_given)) {
        error = opt.intf +
                " is not an interface of this board (Ethernet0 to Ethernet257); give "
                "--front-port and --start-lane";
        return std::nullopt;
    }
    const int start = start_given ? opt.start_lane : named->start_lane;
    g.front_port = front_given ? opt.front_port : named->front_port;
    int lanes = opt.lanes;
    g.lanes_from = "--lanes";
    if (!lanes_given) {
        const std::string config = paths::port_config_file();
        for (const auto &p : tools::read_port_config(config).ports)
            if (p.intf == opt.intf) lanes = p.lanes;
        if (lanes == 0) {
            error = opt.intf + " is not in " + config + "; give --lanes";
            return std::nullopt;
        }
        g.lanes_from = config;
    }
    // Front port key 0-31 is cage key + 1; key 32 is both extra cages, told apart by start lane.
    g.cage = g.front_port < hw::kMaxSerdesGroup ? g.front_port + 1 : 33 + start;
    const int group = tools::cage(g.cage).serdes_group;
    const auto slot = hw::port_slot(group, start);
    if (g.front_port < 0 || g.front_port > hw::kMaxSerdesGroup || g.cage > tools::kCages || !slot) {
        error = "front port " + std::to_string(g.front_port) + " with start lane " +
                std::to_string(start) + " is outside this board";
        return std::nullopt;
    }
    g.slot = *slot;
    std::snprintf(g.port.intf_name, sizeof g.port.intf_name, "%s", opt.intf.c_str());
    g.port.fp_port_id = group;
    g.port.fp_start_lane = g.port.cur_start_lane = start;
    g.port.fp_num_lanes = g.port.cur_num_lanes = lanes;
    return g;
}

// "module: ..." line: the cable type and where it came from.
std::string module_line(hw::CableTypeSource s, const char *cable) {
    switch (s) {
        case hw::CableTypeSource::state_db:
            return std::string(cable) + ", from the state database (database 6)";
        case hw::CableTypeSource::eeprom:
            return std::string(cable) +
                   ", from the EEPROM (the state database did not identify it)";
        case hw::CableTypeSource::none:
            break;
    }
    return "not identified: neither the state database nor the EEPROM names one";
}

// The EEPROM of the port's cage as identification reads it (the first 256 bytes).
nlohmann::json describe_eeprom(const pltfm_port_t &port, std::ostream &out, std::string &log) {
    nlohmann::json j;
    const auto route = hw::cage_route(port.fp_port_id, port.fp_start_lane);
    char path[hw::kEepromPathMax] = {};
    if (route) hw::eeprom_path_for_bus(route->bus, path);
    j["path"] = path;
    out << "  EEPROM " << path << '\n';
    uint8_t image[256] = {};
    const pltfm_status_t rc =
        logged(log, [&] { return pltfm_eeprom_get_from_i2c(port, 0, 0, image, sizeof image); });
    j["readable"] = rc == PLTFM_SUCCESS;
    if (rc != PLTFM_SUCCESS) {
        out << "    cannot be opened: no module in the cage, or no EEPROM file\n";
        return j;
    }
    const decode::Identification id = decode::identify(image);
    out << "    byte 0 (identifier): " << hex(id.identifier) << "  " << family_name(id.family)
        << '\n';
    j["identifier"] = id.identifier;
    j["family"] = family_name(id.family);
    if (id.family != decode::Family::unknown) {
        out << "    byte " << int(id.deciding_reg) << " ("
            << deciding_field(id.deciding_reg, id.family) << "): " << hex(id.deciding_byte) << '\n';
        j["deciding_byte"] = {{"offset", id.deciding_reg},
                              {"value", id.deciding_byte},
                              {"field", deciding_field(id.deciding_reg, id.family)}};
    }
    if (id.has_length) {
        out << "    byte " << length_register(id.family)
            << " (cable length): " << hex(id.length_byte) << " -> " << length_text(id) << '\n';
        j["cable_length_byte"] = {{"offset", length_register(id.family)},
                                  {"value", id.length_byte}};
    }
    out << "    -> " << id.module_line << '\n';
    j["library_line"] = id.module_line;
    return j;
}

// One compared item of the published state: what the library published and what this
// derivation gives now.
struct Compared {
    const char *what;
    std::string published, derived;
};

// Why published and derived answers may differ, from what the hash says about itself.
std::string difference_cause(const Hash &h, const std::vector<std::string> &differ) {
    auto has = [&](const char *w) {
        return std::find(differ.begin(), differ.end(), w) != differ.end();
    };
    auto field = [&](const char *f) { return field_of(h, f); };
    if (has("module") && field("identified_by") == "stored")
        return "the running library answers from the module it stored at a module exchange; "
               "this derivation identifies the module in the cage now";
    if (has("module"))
        return "the module in the cage (or its record) changed since the port was "
               "pre-initialised";
    if (field("stale") == "yes")
        return "a rescan changed the port's tuning since it was pre-initialised (stale: yes); "
               "re-create the port to apply it";
    if (has("records") || has("digest"))
        return "the tuning files differ from those the port was pre-initialised with";
    return "the port's speed or lanes changed since it was pre-initialised";
}

// The state the running library published for the port (PLTFM_PORT_STATE=1) beside what
// this derivation gives, and where they differ.
nlohmann::json published_section(const std::string &intf, const std::vector<pltfm_attr_t> &keys,
                                 bool keys_ok, const tuning::PortTuning *t, std::ostream &out) {
    RedisReader redis;
    const std::string key = std::string(kPortStatePrefix) + intf;
    const auto hash = redis.hash(kStateDb, key);
    nlohmann::json j;
    if (!hash.answered) {
        out << "published state: Redis does not answer (" << redis.way() << "): " << hash.error
            << '\n';
        return {{"state", "no answer"}, {"error", hash.error}};
    }
    if (!hash.ok()) {
        out << "published state: " << key << " holds no hash (" << hash.error << ")\n";
        return {{"state", "unreadable"}, {"error", hash.error}};
    }
    if (hash.value.empty()) {
        const auto table = redis.keys(kStateDb, std::string(kPortStatePrefix) + "*");
        const bool off = table.ok() && table.value.empty();
        out << "published state: none: "
            << (off ? std::string("the port-state table is off (no ") + kPortStatePrefix +
                          "<interface> key in database 6); to turn it on, " + kTableOffHelp
                    : std::string("the running library has not published this port: the SDK "
                                  "has not created it since the library started"))
            << '\n';
        return {{"state", off ? "table off" : "none"}};
    }
    const Hash &h = hash.value;
    auto field = [&](const char *f) { return field_of(h, f); };
    const auto updated = parse_iso_ms(field("updated"));
    out << "published state (database 6, " << key << "), updated " << field("updated");
    if (updated)
        out << " (" << tools::age_text(static_cast<double>(now_ms() - *updated) / 1000.0)
            << " ago)";
    out << ":\n";
    nlohmann::json fields = nlohmann::json::object();
    for (const auto &[k, v] : h) fields[k] = v;
    j = {{"state", "present"}, {"fields", fields}};
    out << "  state " << field("state") << "; lasers " << field("lasers") << "; exchange "
        << field("exchange") << "; stale " << field("stale") << "; pre-initialisation "
        << field("pre_init") << '\n';
    if (field("pre_init") != "ok") {
        out << "  the last pre-initialisation "
            << (field("pre_init") == "failed" ? "failed" : "never happened")
            << ": the library handed out nothing to compare\n";
        j["differences"] = nlohmann::json::array();
        return j;
    }
    auto key_text = [&](int i) {
        return keys_ok ? tuning::value_text(keys[static_cast<std::size_t>(i)]) : std::string("-");
    };
    char digest[24] = "-";
    if (t != nullptr && t->tuned())
        std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(t->digest));
    const std::vector<Compared> items = {
        {"module", field("cable_type"), key_text(1)},
        {"class", field("lane_speed") + " " + field("encoding"), key_text(2) + " " + key_text(3)},
        {"lanes",
         field("lanes") + " from lane " + field("start_lane") + ", front port " +
             field("front_port"),
         key_text(5) + " from lane " + key_text(6) + ", front port " + key_text(4)},
        {"records", field("records"),
         t != nullptr && t->tuned() ? std::to_string(t->records.size()) : std::string("-")},
        {"digest", field("digest"), digest},
    };
    std::vector<std::string> differ;
    nlohmann::json compared = nlohmann::json::object();
    std::size_t width = 0;
    for (const Compared &c : items)
        width = std::max(width, std::string(c.what).size() + c.published.size());
    for (const Compared &c : items) {
        const bool same = c.published == c.derived;
        if (!same) differ.emplace_back(c.what);
        std::string left = std::string(c.what) + ": " + c.published;
        if (std::string(c.what) == "module") left += " (" + field("identified_by") + ")";
        out << "  " << left
            << std::string(left.size() < width + 16 ? width + 16 - left.size() : 1, ' ')
            << "derived now: " << c.derived << (same ? "" : "   <- differs") << '\n';
        compared[c.what] = {{"published", c.published}, {"derived", c.derived}, {"same", same}};
    }
    j["compared"] = compared;
    j["differences"] = differ;
    if (differ.empty()) {
        out << "  the published state agrees with this derivation\n";
    } else {
        std::string list;
        for (const std::string &d : differ) list += (list.empty() ? "" : ", ") + d;
        const std::string cause = difference_cause(h, differ);
        out << "  differs: " << list << ": " << cause << '\n';
        j["cause"] = cause;
    }
    return j;
}

int run_explain(const ExplainOptions &opt, bool lanes_given, bool start_given, bool front_given) {
    if (!pltfm::is_safe_intf_name(opt.intf.c_str())) {
        std::cerr << "pltfmctl explain: " << opt.intf
                  << " is not a name the library accepts (letters, digits, _ - . / : only, "
                     "fewer than 24 characters)\n";
        return kExitUsage;
    }
    std::string error;
    const auto g = geometry(opt, lanes_given, start_given, front_given, error);
    if (!g) {
        std::cerr << "pltfmctl explain: " << error << '\n';
        return kExitUsage;
    }
    const pltfm_port_t &port = g->port;
    const char *intf = port.intf_name;
    const int lanes = port.fp_num_lanes;
    std::string log;  // everything the library logged, shown with --verbose
    std::ostringstream out;
    nlohmann::json j = {{"interface", opt.intf}};

    out << opt.intf << ": cage " << g->cage << ", front port " << g->front_port << ", SerDes group "
        << port.fp_port_id << ", lanes " << port.fp_start_lane << "-"
        << port.fp_start_lane + lanes - 1 << " (" << lanes << ", from " << g->lanes_from
        << "), port slot " << g->slot << '\n';
    j["port"] = {{"cage", g->cage},
                 {"front_port", g->front_port},
                 {"serdes_group", port.fp_port_id},
                 {"start_lane", port.fp_start_lane},
                 {"lanes", lanes},
                 {"lanes_from", g->lanes_from},
                 {"slot", g->slot}};

    // The default speed as the library reads it at start-up, then the speed it takes now.
    logged(log, [&] {
        return pltfm_port_default_speed_get_from_config_file(static_cast<int32_t>(g->slot));
    });
    const hw::PortSpeed speed = logged(log, [&] { return hw::port_speed(intf, g->slot); });
    const bool from_db = speed.source == hw::SpeedSource::app_db;
    out << "speed: " << speed.speed;
    if (from_db)
        out << " from database 0 (PORT_TABLE:" << intf << " speed = \"" << speed.reply << "\")\n";
    else
        out << " from " << paths::port_config_file()
            << " (database 0 gave no speed for the port)\n";
    j["speed"] = {{"value", speed.speed},
                  {"source", from_db ? "database 0" : "port_config.ini"},
                  {"reply", from_db ? nlohmann::json(speed.reply) : nlohmann::json()}};

    const hw::LaneSpeedClass *cls = hw::lane_speed_class(speed.speed, lanes);
    out << "lane-speed class: " << speed.speed << " / " << lanes
        << " lanes = " << speed.speed / lanes << " per lane -> "
        << (cls != nullptr ? std::string(cls->speed) + " " + cls->encoding
                           : std::string("none: the library refuses the port (\"Invalid port "
                                         "lane speed\")"))
        << '\n';
    j["lane_speed"] = cls != nullptr
                          ? nlohmann::json({{"speed", cls->speed}, {"encoding", cls->encoding}})
                          : nlohmann::json();

    // Identification as the library makes it, then what it read.
    char cable[24] = {};
    std::string id_log;
    const hw::CableTypeSource source =
        logged(id_log, [&] { return hw::identify_cable_type(port, cable); });
    log += id_log;
    out << "module: " << module_line(source, cable) << '\n';
    nlohmann::json jid = {{"source", source == hw::CableTypeSource::state_db ? "state_db"
                                     : source == hw::CableTypeSource::eeprom ? "eeprom"
                                                                             : "none"},
                          {"cable_type", cable},
                          {"library_messages", tools::split_lines(id_log)}};
    nlohmann::json jfields = nlohmann::json::object();
    out << "  state database records:\n";
    for (const RecordField &f : kModuleFields) {
        char cmd[160], value[256] = {};
        std::snprintf(cmd, sizeof cmd, "redis-cli -n 6 hget \"%s|%s\" \"%s\"", f.table, intf,
                      f.field);
        const bool read = logged(log, [&] {
                              return pltfm_redis_read(cmd, value, sizeof value - 1);
                          }) == PLTFM_SUCCESS;
        out << "    " << f.table << '|' << intf << ' ' << f.field << " = "
            << (read ? "\"" + std::string(value) + "\"" : std::string("(no answer)")) << '\n';
        jfields[std::string(f.table) + "|" + f.field] =
            read ? nlohmann::json(value) : nlohmann::json();
    }
    jid["state_db"] = jfields;
    if (source != hw::CableTypeSource::state_db) jid["eeprom"] = describe_eeprom(port, out, log);
    j["identification"] = jid;

    // The key attributes exactly as port pre-initialisation obtains them (nothing stored).
    std::vector<pltfm_attr_t> keys(PLTFM_KEY_ATTR_COUNT);
    const pltfm_attr_type_t order[PLTFM_KEY_ATTR_COUNT] = {
        PLTFM_ATTR_VENDOR,     PLTFM_ATTR_CABLE_TYPE, PLTFM_ATTR_SPEED, PLTFM_ATTR_ENCODING,
        PLTFM_ATTR_FRONT_PORT, PLTFM_ATTR_NUM_LANES,  PLTFM_ATTR_LANE};
    for (int i = 0; i < PLTFM_KEY_ATTR_COUNT; ++i) keys[static_cast<std::size_t>(i)].key = order[i];
    const pltfm_status_t info = logged(log, [&] {
        return pltfm_transceiver_info_get(port, keys.data(), PLTFM_KEY_ATTR_COUNT, 0);
    });
    j["key_attributes_status"] = tools::status_name(info);
    bool tuned = false;
    std::optional<tuning::PortTuning> tuning_now;
    if (info != PLTFM_SUCCESS) {
        out << "key attributes: none (" << tools::status_name(info)
            << "): pre-initialisation stops here and the port gets no tuning\n";
    } else {
        const std::string dir = opt.tuning_dir.empty() ? paths::tuning_dir() : opt.tuning_dir;
        const pltfm_status_t load =
            logged(log, [&] { return pltfm_parser_database_init(dir.c_str()); });
        out << "tuning from " << dir << ":\n";
        j["tuning_dir"] = dir;
        if (load != PLTFM_SUCCESS) {
            out << "  the directory does not load (" << tools::status_name(load)
                << "); run pltfmctl lint on it\n";
            j["tuning_loads"] = false;
        } else {
            const tuning::PortTuning t = tuning::port_tuning(keys, port);
            log += t.lookup_messages + t.translate_messages;
            print_tuning(out, keys, t, "  ");
            j["tuning_loads"] = true;
            j["tuning"] = tuning_json(keys, t);
            tuned = t.tuned();
            tuning_now = t;
        }
    }
    j["tuned"] = tuned;
    j["published"] = published_section(opt.intf, keys, info == PLTFM_SUCCESS,
                                       tuning_now ? &*tuning_now : nullptr, out);
    out << "read only: nothing was written to Redis or to any EEPROM\n";

    if (opt.verbose) std::cerr << log;
    if (opt.json) {
        j["library_messages"] = tools::split_lines(log);
        std::cout << tools::json_text(j, 2) << '\n';
    } else {
        std::cout << out.str();
    }
    return tuned ? kExitOk : kExitInvalid;
}

}  // namespace

Runner add_explain(CLI::App &app) {
    auto opt = std::make_shared<ExplainOptions>();
    CLI::App *sub = app.add_subcommand(
        "explain", "Explain what the library would decide for one port now, and why (read only)");
    sub->add_option("--intf", opt->intf, "Interface, e.g. Ethernet8")->required();
    auto *lanes =
        sub->add_option("--lanes", opt->lanes, "Lane count (default: from port_config.ini)")
            ->check(CLI::Range(1, 8));
    auto *start = sub->add_option("--start-lane", opt->start_lane,
                                  "First lane in the cage (default: from the interface number)")
                      ->check(CLI::Range(0, 7));
    auto *front = sub->add_option("--front-port", opt->front_port,
                                  "FRONT PORT key of the cage, 0-32 (default: from the interface "
                                  "number)")
                      ->check(CLI::Range(0, 32));
    sub->add_option("--tuning-dir", opt->tuning_dir,
                    "Tuning directory to look the port up in (default: the library's)")
        ->check(CLI::ExistingDirectory);
    sub->add_flag("--json", opt->json, "Print the account as JSON");
    sub->add_flag("-v,--verbose", opt->verbose,
                  "Also show the library's messages (standard error)");
    sub->footer(
        "Reads the switch as the library does: Redis through redis-cli on PATH, the files below\n"
        "PLTFM_ROOT when it is set. Writes nothing. A module swap the running library recorded\n"
        "is not seen (that answer lives in the switch process's memory).\n"
        "Exit status: 0 the port gets tuning, 1 it gets none, 2 usage error.");
    return [opt, lanes, start, front] {
        return run_explain(*opt, lanes->count() > 0, start->count() > 0, front->count() > 0);
    };
}

}  // namespace pltfm::ctl
