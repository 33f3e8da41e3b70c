// Port-by-port lookups against a tree loaded aside; the lookup is the library's, only the
// naming of the first missing key is worked out here, by walking the tree.
#include "coverage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform_hw_internal.h"
#include "stderr_capture.h"
#include "transceiver_decode.h"

namespace pltfm::tuning {

namespace {

// Rows a port may have: pre-initialisation looks ports up with this capacity.
constexpr uint32_t kLookupCapacity = 280;

pltfm_attr_t key(pltfm_attr_type_t k, const std::string &text) {
    pltfm_attr_t a{};
    a.key = k;
    std::snprintf(a.value, sizeof a.value, "%s", text.c_str());
    return a;
}

template <class Entry, Entry *Entry::*Next>
const Entry *named(const Entry *head, const std::string &text) {
    for (const Entry *e = head; e != nullptr; e = e->*Next) {
        if (text == e->attr.value) return e;
    }
    return nullptr;
}

// The first key of the lookup that the tree lacks.
std::string first_missing(const database::Tree &tree, const CoverageCell &c) {
    const auto *cable = named<pi_cable_type_entry_t, &pi_cable_type_entry_t::cte_next_p>(
        tree.serdes_db_p, c.cable_type);
    if (cable == nullptr) return "no " + c.cable_type + " rows";
    const auto *vendor = named<pi_vendor_name_entry_t, &pi_vendor_name_entry_t::vne_next_p>(
        cable->vendor_name_p, "GENERIC");
    if (vendor == nullptr) return "no GENERIC rows for " + c.cable_type;
    const auto *speed = named<pi_lane_speed_entry_t, &pi_lane_speed_entry_t::lse_next_p>(
        vendor->lane_speed_p, c.speed);
    const auto *encoding = speed == nullptr
                               ? nullptr
                               : named<pi_encoding_entry_t, &pi_encoding_entry_t::ee_next_p>(
                                     speed->encoding_p, c.encoding);
    if (encoding == nullptr) return "no " + c.speed + " " + c.encoding + " column group";
    return "no FRONT PORT " + std::to_string(c.port.front_port);
}

void look_up(const database::Tree &tree, CoverageCell &c) {
    const pltfm_attr_t keys[PLTFM_KEY_ATTR_COUNT] = {
        key(PLTFM_ATTR_VENDOR, "GENERIC"),
        key(PLTFM_ATTR_CABLE_TYPE, c.cable_type),
        key(PLTFM_ATTR_SPEED, c.speed),
        key(PLTFM_ATTR_ENCODING, c.encoding),
        key(PLTFM_ATTR_FRONT_PORT, std::to_string(c.port.front_port)),
        key(PLTFM_ATTR_NUM_LANES, std::to_string(c.port.lanes)),
        key(PLTFM_ATTR_LANE, std::to_string(c.port.start_lane)),
    };
    std::vector<pltfm_attr_t> out(kLookupCapacity);
    uint32_t count = kLookupCapacity;
    const pltfm_status_t rc =
        database::pi_database_get(tree, keys, PLTFM_KEY_ATTR_COUNT, out.data(), &count);
    if (rc == PLTFM_LENGTH_MISMATCH) {
        c.status = CoverageStatus::too_many_values;
        return;
    }
    if (rc != PLTFM_SUCCESS) {
        c.status = CoverageStatus::no_rows;
        c.missing = first_missing(tree, c);
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (out[i].key == PLTFM_ATTR_LANE)
            c.lanes.emplace_back(out[i].value, ::strnlen(out[i].value, sizeof out[i].value));
    }
    if (static_cast<int>(c.lanes.size()) < c.port.lanes) {
        c.status = CoverageStatus::too_few_lanes;
        return;
    }
    c.status = CoverageStatus::covered;
    for (std::size_t i = 0; i < c.lanes.size(); ++i) {
        if (c.lanes[i] != std::to_string(c.port.start_lane + static_cast<int>(i)))
            c.status = CoverageStatus::lanes_misplaced;
    }
}

}  // namespace

const char *coverage_status_text(CoverageStatus status) {
    switch (status) {
        case CoverageStatus::covered:
            return "covered";
        case CoverageStatus::no_lane_class:
            return "no lane-speed class";
        case CoverageStatus::no_rows:
            return "no tuning";
        case CoverageStatus::too_few_lanes:
            return "too few lane lines";
        case CoverageStatus::lanes_misplaced:
            return "lanes out of order";
        case CoverageStatus::too_many_values:
            return "too many values";
    }
    return "?";
}

std::size_t Coverage::hole_count() const {
    return static_cast<std::size_t>(
        std::count_if(cells.begin(), cells.end(), [](const CoverageCell &c) { return c.hole(); }));
}

std::vector<std::string> cable_types_in(const database::Tree &tree) {
    std::vector<std::string> out;
    for (const auto *c = tree.serdes_db_p; c != nullptr; c = c->cte_next_p)
        out.emplace_back(c->attr.value);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> identified_cable_types() {
    using decode::CableType;
    std::vector<std::string> out;
    for (CableType t : {CableType::optics, CableType::dac_1m, CableType::dac_3m, CableType::rj45})
        out.emplace_back(decode::cable_type_text(t));
    return out;
}

Coverage check_coverage(const database::Tree &tree, const std::vector<tools::Port> &ports,
                        const std::vector<std::string> &cable_types) {
    Coverage cov;
    cov.ports = ports.size();
    cov.cable_types = cable_types;
    // The lookup logs every miss on standard error; the cells say it instead.
    tools::StderrCapture quiet;
    for (const tools::Port &port : ports) {
        const hw::LaneSpeedClass *cls = hw::lane_speed_class(port.speed, port.lanes);
        for (const std::string &cable : cable_types) {
            CoverageCell c;
            c.port = port;
            c.cable_type = cable;
            if (cls == nullptr) {
                c.status = CoverageStatus::no_lane_class;
            } else {
                c.speed = cls->speed;
                c.encoding = cls->encoding;
                look_up(tree, c);
            }
            cov.cells.push_back(std::move(c));
        }
    }
    return cov;
}

}  // namespace pltfm::tuning
