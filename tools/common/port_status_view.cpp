// Text of the port status table.
#include "port_status_view.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace pltfm::tools {

namespace {

using json = nlohmann::json;

std::string text_of(const json &object, const char *field) {
    if (!object.is_object()) return "";
    const auto it = object.find(field);
    return it != object.end() && it->is_string() ? it->get<std::string>() : "";
}

std::string or_dash(const std::string &text) {
    return text.empty() ? "-" : text;
}

std::vector<std::string> cells_of(const json &port) {
    const json &h = port.value("published", json());
    const json &os = port.value("os", json::object());
    std::string module = "-", cls = "-", lanes = "-", records = "-", lasers = "-", state = "-",
                stale = "-", exchange = "-";
    if (port.contains("published_error")) {
        module = "(unreadable)";
    } else if (h.is_object()) {
        const std::string cable = text_of(h, "cable_type");
        module = cable.empty() ? "pre_init " + or_dash(text_of(h, "pre_init"))
                               : cable + " (" + text_of(h, "identified_by") + ")";
        if (!text_of(h, "lane_speed").empty())
            cls = text_of(h, "lane_speed") + " " + text_of(h, "encoding");
        if (!text_of(h, "lanes").empty())
            lanes = text_of(h, "lanes") + "@" + text_of(h, "start_lane");
        if (!text_of(h, "records").empty())
            records = text_of(h, "records") + " " + text_of(h, "digest").substr(0, 8);
        lasers = or_dash(text_of(h, "lasers"));
        state = or_dash(text_of(h, "state"));
        stale = or_dash(text_of(h, "stale"));
        exchange = or_dash(text_of(h, "exchange"));
        if (exchange != "none" && port.contains("exchange_age_s") &&
            port["exchange_age_s"].is_number())
            exchange += " " + age_text(port["exchange_age_s"].get<double>());
    }
    const double age =
        port.contains("age_s") && port["age_s"].is_number() ? port["age_s"].get<double>() : -1.0;
    const std::string from = text_of(os, "cage_module_from");
    const std::string cage = from == "none"      ? "none"
                             : from == "unknown" ? "?"
                                                 : text_of(os, "cage_module") + " (" + from + ")";
    std::string flags;
    for (const json &f : port.value("flags", json::array()))
        flags += (flags.empty() ? "" : ",") + f.value("code", std::string());
    return {port.value("interface", std::string()),
            module,
            cls,
            lanes,
            records,
            lasers,
            state,
            stale,
            exchange,
            age_text(age),
            or_dash(text_of(os, "admin_status")),
            cage,
            or_dash(flags)};
}

std::string pad(const std::string &text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string age_text(double seconds) {
    if (!(seconds >= 0)) return "-";
    const long s = static_cast<long>(seconds);
    char text[32];
    if (s < 60)
        std::snprintf(text, sizeof text, "%lds", s);
    else if (s < 3600)
        std::snprintf(text, sizeof text, "%ldm%02lds", s / 60, s % 60);
    else if (s < 86400)
        std::snprintf(text, sizeof text, "%ldh%02ldm", s / 3600, s % 3600 / 60);
    else
        std::snprintf(text, sizeof text, "%ldd%02ldh", s / 86400, s % 86400 / 3600);
    return text;
}

bool port_is_stale(const json &port) {
    return text_of(port.value("published", json()), "stale") == "yes" &&
           port.value("running", false);
}

json filter_status(const json &doc, const StatusFilter &filter) {
    json out = doc;
    json ports = json::array();
    int flagged = 0, stale = 0;
    for (const json &p : doc.value("ports", json::array())) {
        if (!filter.intf.empty() && p.value("interface", std::string()) != filter.intf) continue;
        if (filter.stale_only && !port_is_stale(p)) continue;
        flagged += p.value("flags", json::array()).empty() ? 0 : 1;
        stale += port_is_stale(p) ? 1 : 0;
        ports.push_back(p);
    }
    out["counts"] = {{"ports", ports.size()}, {"flagged", flagged}, {"stale", stale}};
    out["shown"] = !filter.intf.empty() ? filter.intf : filter.stale_only ? "stale" : "all";
    out["ports"] = std::move(ports);
    return out;
}

std::string status_text(const json &doc) {
    const json &ports = doc.value("ports", json::array());
    const std::string shown = doc.value("shown", std::string("all"));
    if (ports.empty())
        return shown == "stale" ? "  no stale port: every running port has the tuning now in the "
                                  "files\n"
                                : "  no port\n";
    const std::vector<std::string> head = {
        "Port",  "Module (found by)", "Class", "Lanes", "Records",  "Lasers", "State",
        "Stale", "Exchange",          "Age",   "Admin", "Cage now", "Flags"};
    std::vector<std::vector<std::string>> rows;
    for (const json &p : ports) rows.push_back(cells_of(p));
    std::vector<std::size_t> width(head.size());
    for (std::size_t i = 0; i < head.size(); ++i) width[i] = head[i].size();
    for (const auto &row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
    std::string out;
    auto line = [&](const std::vector<std::string> &cells) {
        std::string text;
        for (std::size_t i = 0; i < cells.size(); ++i) text += "  " + pad(cells[i], width[i]);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out += text + '\n';
    };
    line(head);
    std::vector<std::string> rule;
    for (std::size_t w : width) rule.emplace_back(w, '-');
    line(rule);
    for (const auto &row : rows) line(row);

    const json counts = doc.value("counts", json::object());
    const int flagged = counts.value("flagged", 0), stale = counts.value("stale", 0);
    if (flagged > 0) {
        out += "  Flagged:\n";
        std::size_t name_width = 0;
        for (const json &p : ports)
            name_width = std::max(name_width, p.value("interface", std::string()).size());
        for (const json &p : ports)
            for (const json &f : p.value("flags", json::array()))
                out += "    " + pad(p.value("interface", std::string()), name_width) + "  " +
                       f.value("code", std::string()) + ": " + f.value("text", std::string()) +
                       '\n';
    }
    char summary[200];
    std::snprintf(
        summary, sizeof summary, "  %zu port%s, %s%d stale.", ports.size(),
        ports.size() == 1 ? "" : "s",
        flagged == 0 ? "nothing flagged, " : (std::to_string(flagged) + " flagged, ").c_str(),
        stale);
    out += summary;
    out +=
        "\n  Module: what the port's tuning was chosen for; Records: count and digest of what "
        "the SDK got; Cage now: the module identified in the cage now.\n";
    return out;
}

}  // namespace pltfm::tools
