// The event-order test's board, speeds and expectations.
#include "event_model.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace pltfm::test::events {

const char *kind_name(Kind k) {
    switch (k) {
        case Kind::none:
            return "empty";
        case Kind::dd_optic:
            return "QSFP-DD optic";
        case Kind::dd_dac_1m:
            return "QSFP-DD DAC 1m";
        case Kind::dd_dac_3m:
            return "QSFP-DD DAC 3m";
        case Kind::q28_optic:
            return "QSFP28 optic";
        case Kind::q28_dac_1m:
            return "QSFP28 DAC 1m";
        case Kind::q28_dac_3m:
            return "QSFP28 DAC 3m";
    }
    return "?";
}

const char *cable_of(Kind k) {
    switch (k) {
        case Kind::none:
            return nullptr;
        case Kind::dd_optic:
        case Kind::q28_optic:
            return "OPTICS";
        case Kind::dd_dac_1m:
        case Kind::q28_dac_1m:
            return "DAC_1M";
        case Kind::dd_dac_3m:
        case Kind::q28_dac_3m:
            return "DAC_3M";
    }
    return nullptr;
}

std::vector<PortDef> layout_ports(int cage, int layout) {
    const int32_t width = cage == 0 ? 8 : 4;
    const int32_t lanes = layout == 0 ? width : width / 2;
    std::vector<PortDef> out;
    for (int32_t start = 0; start < width; start += lanes)
        out.push_back({"Ethernet" + std::to_string(8 * cage + start), cage, start, lanes});
    return out;
}

int32_t serdes_group(int cage) {
    return cage == 0 ? 31 : 32;
}
int front_panel(int cage) {
    return cage + 1;
}

std::vector<long> valid_speeds(int cage, int32_t lanes) {
    if (cage == 0) return {50000L * lanes, 25000L * lanes};
    return {25000L * lanes};
}

const std::map<std::string, long> &default_speeds() {
    // Chosen so that a port without a speed in db 0 gets a class in one layout and none in
    // the other, and so that cage B never falls back to anything but 25G lanes.
    static const std::map<std::string, long> speeds = {
        {"Ethernet0", 400000}, {"Ethernet4", 200000}, {"Ethernet8", 50000}, {"Ethernet10", 50000}};
    return speeds;
}

std::vector<PortDef> current_ports(const Model &m) {
    std::vector<PortDef> out;
    for (int c = 0; c < kCages; ++c)
        for (auto &p : layout_ports(c, m.cages[static_cast<std::size_t>(c)].layout))
            out.push_back(p);
    return out;
}

std::optional<PortDef> port_def(const Model &m, const std::string &name) {
    for (auto &p : current_ports(m))
        if (p.name == name) return p;
    return std::nullopt;
}

long effective_speed(const Model &m, const std::string &name) {
    const auto it = m.ports.find(name);
    if (!m.redis_stalled && it != m.ports.end() && it->second.speed_field) {
        const std::string &t = *it->second.speed_field;
        if (!t.empty() && t.find_first_not_of("0123456789") == std::string::npos)
            return std::atol(t.c_str());
    }
    const auto d = default_speeds().find(name);
    return d == default_speeds().end() ? 0 : d->second;
}

std::optional<TuningKey> expected_tuning(const Model &m, const PortDef &p) {
    const char *cable = cable_of(m.cages[static_cast<std::size_t>(p.cage)].kind);
    if (cable == nullptr) return std::nullopt;
    const long lane_speed = effective_speed(m, p.name) / p.lanes;
    const char *cls = lane_speed == 50000   ? "50G/400G|PAM4"
                      : lane_speed == 25000 ? "25G/100G|NRZ"
                      : lane_speed == 10000 ? "10G/40G|NRZ"
                                            : nullptr;
    if (cls == nullptr) return std::nullopt;
    return TuningKey{
        std::string(cable) + "|GENERIC|" + cls + "|" + std::to_string(front_panel(p.cage) - 1),
        static_cast<std::size_t>(p.start), static_cast<std::size_t>(p.lanes)};
}

std::string side_by_side(const Model &m, const std::map<std::string, Observed> &seen) {
    std::ostringstream o;
    char line[512];
    std::snprintf(line, sizeof line, "  %-11s| %-6s %-7s %-5s %-8s %-8s | %-6s %-5s %-34s %s\n",
                  "port", "admin", "created", "lib", "speed", "tuning", "admin", "bits", "stored",
                  "tx-disable");
    o << "  model" << std::string(50, ' ') << "| library and Redis\n" << line;
    for (const auto &p : current_ports(m)) {
        const Port &mp = m.ports.at(p.name);
        const auto it = seen.find(p.name);
        const Observed ob = it == seen.end() ? Observed{} : it->second;
        const char *lib = mp.lib == Lib::up ? "up" : mp.lib == Lib::down ? "down" : "never";
        char tx[16] = "-";
        if (ob.tx_disable >= 0) std::snprintf(tx, sizeof tx, "0x%02X", ob.tx_disable);
        std::snprintf(line, sizeof line,
                      "  %-11s| %-6s %-7s %-5s %-8ld %-8d | %-6s 0x%02X  %-34s %s\n",
                      p.name.c_str(), mp.operator_admin.c_str(), mp.created ? "yes" : "no", lib,
                      effective_speed(m, p.name), mp.tuning, ob.admin.c_str(), ob.state_bits,
                      ob.stored.c_str(), tx);
        o << line;
    }
    for (int c = 0; c < kCages; ++c) {
        const Cage &cg = m.cages[static_cast<std::size_t>(c)];
        o << "  cage " << char('A' + c) << ": " << kind_name(cg.kind)
          << (cg.record_complete ? "" : " (record without type)") << ", layout " << cg.layout
          << "\n";
    }
    o << "  tuning in use " << m.tuning_in_use << ", in the directory " << m.tuning_in_dir << "\n";
    return o.str();
}

}  // namespace pltfm::test::events
