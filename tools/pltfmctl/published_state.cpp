// Times, descriptors and identification for the views of the published port state.
#include "published_state.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "board_ports.h"
#include "intf_name.h"
#include "platform_hw_internal.h"
#include "port_state.h"
#include "stderr_capture.h"

namespace pltfm::ctl {

std::string field_of(const Hash &h, const char *name) {
    const auto it = h.find(name);
    return it == h.end() ? std::string() : it->second;
}

std::optional<long long> parse_iso_ms(const std::string &text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0, used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ%n", &y, &mo, &d, &h, &mi, &s, &ms,
                    &used) != 7 ||
        static_cast<std::size_t>(used) != text.size())
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<long long>(timegm(&tm)) * 1000 + ms;
}

long long now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string iso_text(long long ms) {
    return pltfm::port_state::iso_time(ms);
}

std::optional<pltfm_port_t> port_descriptor(const std::string &intf, const Hash *published,
                                            int lanes) {
    if (!is_safe_intf_name(intf.c_str())) return std::nullopt;
    int group = -1, start = -1;
    auto number = [&](const char *field) {
        const auto it = published->find(field);
        if (it == published->end() || it->second.empty()) return -1;
        char *end = nullptr;
        const long v = std::strtol(it->second.c_str(), &end, 10);
        return *end == '\0' && v >= 0 && v < 1000 ? static_cast<int>(v) : -1;
    };
    if (published != nullptr && number("front_port") >= 0 && number("start_lane") >= 0) {
        const int front_port = number("front_port");
        start = number("start_lane");
        // Front port keys 0-31 are cages 1-32; key 32 is both extra cages, one lane each.
        const int cage = front_port < hw::kMaxSerdesGroup ? front_port + 1 : 33 + start;
        if (front_port > hw::kMaxSerdesGroup || cage > tools::kCages) return std::nullopt;
        group = tools::cage(cage).serdes_group;
        if (number("lanes") > 0) lanes = number("lanes");
    } else if (const auto p = tools::port_named(intf, lanes, 0)) {
        group = p->serdes_group;
        start = p->start_lane;
    } else {
        return std::nullopt;
    }
    if (!hw::port_slot(group, start)) return std::nullopt;
    pltfm_port_t port{};
    std::snprintf(port.intf_name, sizeof port.intf_name, "%s", intf.c_str());
    port.fp_port_id = group;
    port.fp_start_lane = port.cur_start_lane = start;
    port.fp_num_lanes = port.cur_num_lanes = lanes;
    return port;
}

CageModule identify_cage_module(const pltfm_port_t &port, std::string &log) {
    char cable[24] = {};
    tools::StderrCapture capture;
    const hw::CableTypeSource source = hw::identify_cable_type(port, cable);
    log += capture.finish();
    switch (source) {
        case hw::CableTypeSource::state_db:
            return {cable, "state_db"};
        case hw::CableTypeSource::eeprom:
            return {cable, "eeprom"};
        case hw::CableTypeSource::none:
            break;
    }
    return {"", "none"};
}

}  // namespace pltfm::ctl
