// Faceplate, port table and JSON of the simulated switch.
#include "report.h"

#include <algorithm>
#include <sstream>

#include "platform_hw_internal.h"

namespace pltfm::sim {

namespace {

const tools::SdkRecord *find_record(const std::vector<tools::SdkRecord> &records, const std::string &name) {
    for (const auto &r : records) {
        if (r.name == name) return &r;
    }
    return nullptr;
}

std::string pad(const std::string &text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string lane_values(const std::vector<tools::SdkRecord> &records, const std::string &name) {
    const tools::SdkRecord *r = find_record(records, name);
    if (r == nullptr || r->values.empty()) return "-";
    const bool uniform = std::all_of(r->values.begin(), r->values.end(),
                                     [&](int64_t v) { return v == r->values.front(); });
    if (uniform) return std::to_string(r->values.front());
    return tools::join_values(r->values, "/");
}

std::string faceplate(const std::map<int, ModuleKind> &modules) {
    // Odd cages on the top row, even cages below, as on the front panel; the two extra cages
    // at the right end.
    auto glyph = [&](int c) {
        const auto it = modules.find(c);
        return std::string(module_info(it == modules.end() ? ModuleKind::empty : it->second).glyph);
    };
    std::ostringstream out;
    std::string numbers_top = "  ", cells_top = "  ", numbers_bottom = "  ", cells_bottom = "  ";
    for (int c = 1; c <= 31; c += 2) {
        char num[16];
        std::snprintf(num, sizeof num, " %-5d", c);
        numbers_top += num;
        cells_top += "[" + glyph(c) + "]";
        std::snprintf(num, sizeof num, " %-5d", c + 1);
        numbers_bottom += num;
        cells_bottom += "[" + glyph(c + 1) + "]";
    }
    numbers_top += "    33";
    cells_top += "   [" + glyph(33) + "]";
    numbers_bottom += "    34";
    cells_bottom += "   [" + glyph(34) + "]";
    const std::string border = "  +" + std::string(cells_top.size() - 2, '-') + "+";
    out << border << '\n'
        << numbers_top << '\n'
        << cells_top << '\n'
        << cells_bottom << '\n'
        << numbers_bottom << '\n'
        << border << '\n'
        << "  DD-OP QSFP-DD optic 400G   DD-4x/DD-2x QSFP-DD optic broken out   DD-C1/DD-C3 QSFP-DD "
           "DAC 1 m/3 m\n"
        << "  Q28OP QSFP28 optic   Q28C1/Q28C3 QSFP28 DAC 1 m/3 m   SFPOP SFP+ optic   RJ45 SFP+ "
           "RJ45   . empty\n";
    return out.str();
}

std::string port_table(const std::vector<PortView> &views) {
    const std::vector<std::string> head = {"Interface", "Cage", "Module", "Cable", "Class", "Enc",
                                           "Lanes", "TX_EQ_PRE1", "TX_EQ_POST", "TX_EQ_ATTN",
                                           "RX_CTLE_LF", "RX_CTLE_HF", "State"};
    std::vector<std::vector<std::string>> rows;
    for (const PortView &v : views) {
        rows.push_back({v.port.intf, std::to_string(v.port.cage), module_info(v.module).description,
                        v.cable_type.empty() ? "-" : v.cable_type,
                        v.lane_class.empty() ? "-" : v.lane_class,
                        v.encoding.empty() ? "-" : v.encoding,
                        std::to_string(v.port.lanes) + "@" + std::to_string(v.port.start_lane),
                        v.tuned ? lane_values(v.records, "TX_EQ_PRE1") : "-",
                        v.tuned ? lane_values(v.records, "TX_EQ_POST") : "-",
                        v.tuned ? lane_values(v.records, "TX_EQ_ATTN") : "-",
                        v.tuned ? lane_values(v.records, "RX_CTLE_LF") : "-",
                        v.tuned ? lane_values(v.records, "RX_CTLE_HF") : "-", v.state});
    }
    std::vector<std::size_t> width(head.size());
    for (std::size_t i = 0; i < head.size(); ++i) width[i] = head[i].size();
    for (const auto &row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
    }
    std::ostringstream out;
    auto line = [&](const std::vector<std::string> &cells) {
        std::string text = " ";
        for (std::size_t i = 0; i < cells.size(); ++i) text += " " + pad(cells[i], width[i]);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out << text << '\n';
    };
    line(head);
    std::vector<std::string> rule;
    for (std::size_t w : width) rule.push_back(std::string(w, '-'));
    line(rule);
    for (const auto &row : rows) line(row);
    out << "  Lanes: count@start lane. Per-lane values read lane by lane (a/b/...), one value when "
           "all lanes agree.\n";
    return out.str();
}

std::string tuning_diff(const std::vector<tools::SdkRecord> &before,
                        const std::vector<tools::SdkRecord> &after) {
    std::ostringstream out;
    for (const auto &r : after) {
        const tools::SdkRecord *old = find_record(before, r.name);
        const std::string was = old != nullptr ? tools::join_values(old->values, "/") : "(none)";
        const std::string now = tools::join_values(r.values, "/");
        if (was != now) out << "    " << r.name << ": " << was << "  ->  " << now << '\n';
    }
    for (const auto &r : before) {
        if (find_record(after, r.name) == nullptr) out << "    " << r.name << ": no longer set\n";
    }
    const std::string text = out.str();
    return text.empty() ? "    (no tuning value changed)\n" : text;
}

nlohmann::json port_json(const PortView &v) {
    nlohmann::json records = nlohmann::json::object();
    for (const auto &r : v.records) records[r.name] = r.values;
    return {{"interface", v.port.intf},
            {"cage", v.port.cage},
            {"serdes_group", v.port.serdes_group + 1},
            {"start_lane", v.port.start_lane},
            {"lanes", v.port.lanes},
            {"speed", v.port.speed},
            {"module", module_info(v.module).description},
            {"cable_type", v.cable_type},
            {"lane_class", v.lane_class},
            {"encoding", v.encoding},
            {"tuned", v.tuned},
            {"state", v.state},
            {"sdk_records", records}};
}

nlohmann::json cages_json(const std::vector<PortView> &views,
                          const std::map<int, ModuleKind> &modules) {
    nlohmann::json out = nlohmann::json::array();
    for (int c = 1; c <= kCages; ++c) {
        const auto it = modules.find(c);
        ModuleKind kind = it == modules.end() ? ModuleKind::empty : it->second;
        nlohmann::json ports = nlohmann::json::array();
        for (const PortView &v : views) {
            if (v.port.cage != c) continue;
            kind = v.module;
            ports.push_back(port_json(v));
        }
        const ModuleInfo info = module_info(kind);
        out.push_back({{"cage", c},
                       {"front_port", hw::front_port_key(cage(c).serdes_group)},
                       {"kind", module_kind_name(kind)},
                       {"module", info.description},
                       {"glyph", info.glyph},
                       {"ports", ports}});
    }
    return out;
}

}  // namespace pltfm::sim
