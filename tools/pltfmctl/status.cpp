// pltfmctl status: what every port got as the running library published it (database 6,
// PORT_SERDES_STATE|<intf>, with PLTFM_PORT_STATE=1) beside the OS's view of the port (its
// admin_status in database 4, its TRANSCEIVER_STATUS and module record in database 6), and
// the disagreements between them: a module in the cage that is not the one the tuning was
// chosen for, a module exchange the library stored but the port has not been created for, a
// port on tuning a rescan replaced, an exchange cycle that stays open, a port the OS has up
// with a module but the library never pre-initialised. Reads only.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "commands.h"
#include "intf_name.h"
#include "json_text.h"
#include "platform_hw_internal.h"
#include "port_status_view.h"
#include "published_state.h"

namespace pltfm::ctl {

namespace {

using json = nlohmann::json;

// An exchange cycle normally closes within a second or two: the OS takes the port down when
// the library sets admin_status down, and the port-down sets it up again. One open longer
// than this is stuck.
constexpr double kExchangeLimitSeconds = 10.0;

struct StatusOptions {
    std::string intf;
    bool json = false;
    bool stale = false;
};

// Interfaces in the order of their numbers (Ethernet8 before Ethernet16), others by name.
bool by_number(const std::string &a, const std::string &b) {
    auto split = [](const std::string &s) {
        std::size_t digits = s.size();
        while (digits > 0 && s[digits - 1] >= '0' && s[digits - 1] <= '9') --digits;
        const std::string number = s.substr(digits);
        return std::make_pair(s.substr(0, digits),
                              number.empty() || number.size() > 9 ? -1L : std::stol(number));
    };
    const auto sa = split(a), sb = split(b);
    return sa != sb ? sa < sb : a < b;
}

json flag(const char *code, const std::string &text) {
    return {{"code", code}, {"text", text}};
}

// One port: the published hash (when the table holds one), the OS's view, and the flags.
json port_view(RedisReader &redis, const std::string &intf, bool in_table, long long now,
               std::string &log) {
    json p = {{"interface", intf},
              {"published", nullptr},
              {"age_s", nullptr},
              {"exchange_age_s", nullptr},
              {"running", false}};
    Hash h;
    bool have = false;
    if (in_table) {
        auto r = redis.hash(kStateDb, kPortStatePrefix + intf);
        if (r.ok()) {
            h = std::move(r.value);
            have = !h.empty();
        } else {
            p["published_error"] = r.error;
        }
    }
    const auto config = redis.hash(kConfigDb, "PORT|" + intf);
    const auto status = redis.hash(kStateDb, "TRANSCEIVER_STATUS|" + intf);
    const std::string admin = config.ok() ? field_of(config.value, "admin_status") : "";
    json os = {{"admin_status", admin.empty() ? json() : json(admin)},
               {"transceiver_status", status.ok() && status.value.count("status")
                                          ? json(field_of(status.value, "status"))
                                          : json()}};
    const auto port = port_descriptor(intf, have ? &h : nullptr);
    CageModule cage{"", "unknown"};
    if (port) cage = identify_cage_module(*port, log);
    os["cage_module"] = cage.cable_type;
    os["cage_module_from"] = cage.from;
    p["os"] = os;

    json flags = json::array();
    if (p.contains("published_error"))
        flags.push_back(flag("unreadable", kPortStatePrefix + intf + " holds no hash: " +
                                               p["published_error"].get<std::string>()));
    const std::string pre_init = field_of(h, "pre_init");
    if (have) {
        json fields = json::object();
        for (const auto &[k, v] : h) fields[k] = v;
        p["published"] = fields;
        if (const auto at = parse_iso_ms(field_of(h, "updated")))
            p["age_s"] = static_cast<double>(now - *at) / 1000.0;
        const std::string cable = field_of(h, "cable_type"), module = field_of(h, "module");
        const uint32_t bits =
            static_cast<uint32_t>(std::strtoul(field_of(h, "state_bits").c_str(), nullptr, 10));
        // A port taken down runs on nothing: its next creation takes the module and tuning of
        // that moment.
        const bool running = pre_init == "ok" && !hw::port_is_down(bits);
        p["running"] = running;
        if (running && cage.from != "none" && cage.from != "unknown" && cage.cable_type != cable)
            flags.push_back(
                flag("module", "the cage holds " + cage.cable_type + " (from the " +
                                   (cage.from == "state_db" ? "state database" : "EEPROM") +
                                   "), the port's tuning was chosen for " + cable));
        if (running && !module.empty() && module != cable)
            flags.push_back(flag("exchanged", "the library stored " + module +
                                                  " for the cage since the port was created; it "
                                                  "runs on the " +
                                                  cable + " tuning until it is created again"));
        if (running && field_of(h, "stale") == "yes")
            flags.push_back(flag("stale", "a rescan changed the tuning of its rows (" +
                                              field_of(h, "tuning_rows") +
                                              " when it was created): re-create the port to "
                                              "apply the tuning now in the files"));
        const std::string exchange = field_of(h, "exchange");
        if (exchange != "none" && !exchange.empty()) {
            const auto since = parse_iso_ms(field_of(h, "exchange_since"));
            const double open = since ? static_cast<double>(now - *since) / 1000.0 : -1.0;
            if (since) p["exchange_age_s"] = open;
            if (open > kExchangeLimitSeconds)
                flags.push_back(flag(
                    "exchange",
                    exchange == "up owed"
                        ? "the library owes admin_status up since " + field_of(h, "exchange_since") +
                              " (" + tools::age_text(open) + "): Redis did not take it"
                        : "exchange cycle open since " + field_of(h, "exchange_since") + " (" +
                              tools::age_text(open) +
                              "): the library set admin_status down and the port has not been "
                              "taken down and created again"));
        }
    }
    // A port the OS runs with a module in its cage, without tuning from the library. An
    // empty cage is not flagged: there is nothing to tune until a module comes.
    if (admin == "up" && pre_init != "ok" && !cage.cable_type.empty() &&
        !p.contains("published_error"))
        flags.push_back(flag(
            "not-tuned", "admin_status is up and the cage holds " + cage.cable_type + ", but " +
                             (pre_init == "failed"
                                  ? std::string("the port's last pre-initialisation failed")
                                  : std::string("the library never pre-initialised the port"))));
    p["flags"] = flags;
    return p;
}

int fail(const StatusOptions &opt, const std::string &message, const std::string &reason) {
    std::cerr << "pltfmctl status: " << message << '\n';
    if (opt.json) std::cout << tools::json_text({{"ok", false}, {"error", reason}}, 2) << '\n';
    return kExitInvalid;
}

int run_status(const StatusOptions &opt) {
    if (!opt.intf.empty() && !is_safe_intf_name(opt.intf.c_str())) {
        std::cerr << "pltfmctl status: " << opt.intf
                  << " is not a name the library accepts (letters, digits, _ - . / : only, "
                     "fewer than 24 characters)\n";
        return kExitUsage;
    }
    RedisReader redis;
    const auto table = redis.keys(kStateDb, std::string(kPortStatePrefix) + "*");
    if (!table.answered)
        return fail(opt, "Redis does not answer (" + redis.way() + "): " + table.error,
                    "redis does not answer");
    if (!table.ok())
        return fail(opt, "Redis refused to list the keys: " + table.error, "redis error");
    if (table.value.empty())
        return fail(opt,
                    std::string("the port-state table is off: database 6 holds no ") +
                        kPortStatePrefix + "<interface> key. To turn it on, " + kTableOffHelp + ".",
                    "table off");
    const auto configured = redis.keys(kConfigDb, "PORT|*");
    if (!configured.ok())
        return fail(opt, "Redis does not answer (" + redis.way() + "): " + configured.error,
                    "redis does not answer");

    std::set<std::string> in_table;
    for (const std::string &k : table.value)
        in_table.insert(k.substr(std::strlen(kPortStatePrefix)));
    std::vector<std::string> names(in_table.begin(), in_table.end());
    for (const std::string &k : configured.value) {
        const std::string intf = k.substr(5);
        if (!in_table.count(intf)) names.push_back(intf);
    }
    std::sort(names.begin(), names.end(), by_number);
    if (!opt.intf.empty()) {
        if (std::find(names.begin(), names.end(), opt.intf) == names.end())
            return fail(opt,
                        opt.intf +
                            " is neither in the port-state table nor a port of the OS "
                            "(no PORT|" +
                            opt.intf + " in database 4)",
                        "unknown port");
        names = {opt.intf};
    }

    const long long now = now_ms();
    std::string log;  // the library's messages of the identifications, not shown
    json doc = {{"ok", true},
                {"table", true},
                {"redis", redis.way()},
                {"checked_at", iso_text(now)},
                {"exchange_limit_s", kExchangeLimitSeconds}};
    json ports = json::array();
    for (const std::string &intf : names)
        ports.push_back(port_view(redis, intf, in_table.count(intf) > 0, now, log));
    doc["ports"] = ports;
    doc = tools::filter_status(doc, {opt.stale, opt.intf});

    if (opt.json)
        std::cout << tools::json_text(doc, 2) << '\n';
    else
        std::cout << tools::status_text(doc);
    const json &counts = doc["counts"];
    const int found = opt.stale ? counts.value("stale", 0) : counts.value("flagged", 0);
    return found == 0 ? kExitOk : kExitInvalid;
}

}  // namespace

Runner add_status(CLI::App &app) {
    auto opt = std::make_shared<StatusOptions>();
    CLI::App *sub = app.add_subcommand(
        "status",
        "What every port got as the running library published it, beside the OS's view, with "
        "the disagreements (read only)");
    sub->add_option("--intf", opt->intf, "Only this interface, e.g. Ethernet8");
    sub->add_flag("--stale", opt->stale,
                  "Only the ports that run on tuning a rescan replaced (exit 1 when there is one)");
    sub->add_flag("--json", opt->json, "Print the table as one JSON document");
    sub->footer(
        "Reads Redis as the library does: over PLTFM_REDIS when it names the server, else with\n"
        "the redis-cli on PATH; the modules' EEPROMs below PLTFM_ROOT when it is set. The table\n"
        "exists when the library runs with PLTFM_PORT_STATE=1. Writes nothing.\n"
        "Exit status: 0 nothing flagged (--stale: no stale port), 1 something flagged, the\n"
        "table off or Redis not answering, 2 usage error.");
    return [opt] { return run_status(*opt); };
}

}  // namespace pltfm::ctl
