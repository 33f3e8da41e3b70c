// Text and JSON of one port's tuning.
#include "tuning_view.h"

#include <cstdio>

#include "names.h"

namespace pltfm::ctl {

nlohmann::json tuning_json(const std::vector<pltfm_attr_t> &keys, const tuning::PortTuning &t) {
    nlohmann::json jkeys = nlohmann::json::object();
    for (const auto &k : keys) jkeys[tools::attr_key_name(k.key)] = tuning::value_text(k);
    nlohmann::json jlanes = nlohmann::json::array();
    for (const auto &b : t.lanes) {
        nlohmann::json values = nlohmann::json::object();
        for (const auto &[name, value] : b.values) values[name] = value;
        jlanes.push_back({{"lane", b.lane}, {"values", values}});
    }
    nlohmann::json jrecords = nlohmann::json::array();
    for (const auto &r : t.records) {
        jrecords.push_back({{"id", r.id},
                            {"name", r.name},
                            {"member", r.member},
                            {"per_lane", r.per_lane},
                            {"values", r.values}});
    }
    char digest[24] = "";
    if (t.tuned())
        std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(t.digest));
    return {{"found", t.lookup_status == PLTFM_SUCCESS},
            {"status", t.lookup_status},
            {"status_name", tools::status_name(t.lookup_status)},
            {"keys", jkeys},
            {"vendor_fallback", t.vendor_fallback},
            {"row_count", t.row_count},
            {"lanes", jlanes},
            {"translate_status", t.translate_status},
            {"sdk_records", jrecords},
            {"digest", digest}};
}

void print_tuning(std::ostream &out, const std::vector<pltfm_attr_t> &keys,
                  const tuning::PortTuning &t, const std::string &indent) {
    auto text = [&keys](std::size_t i) {
        return i < keys.size() ? tuning::value_text(keys[i]) : std::string();
    };
    out << indent << "keys: vendor " << text(0) << ", cable type " << text(1) << ", speed "
        << text(2) << ", encoding " << text(3) << ", front port " << text(4) << ", lanes "
        << text(5) << ", start lane " << text(6) << '\n';
    if (t.vendor_fallback) {
        out << indent << "vendor " << text(0) << " has no rows for cable type " << text(1)
            << ": the GENERIC rows are used\n";
    }
    if (t.lookup_status != PLTFM_SUCCESS) {
        out << indent << "no tuning for these keys (" << tools::status_name(t.lookup_status)
            << ")\n";
        return;
    }
    out << indent << "database rows (" << t.row_count << " attributes, " << t.lanes.size()
        << " lane" << (t.lanes.size() == 1 ? "" : "s") << "):\n";
    for (const auto &b : t.lanes) {
        out << indent << "  lane " << b.lane << ":";
        for (const auto &[name, value] : b.values) out << ' ' << name << '=' << value;
        out << '\n';
    }
    if (t.translate_status != PLTFM_SUCCESS) {
        out << indent << "translation failed (rc=" << t.translate_status << ")\n";
        return;
    }
    out << indent << "SDK records from port pre-initialisation (" << t.records.size() << "):\n";
    for (const auto &r : t.records) {
        out << indent << "  " << r.name << " (" << r.id << ") " << r.member << ": "
            << tools::join_values(r.values) << '\n';
    }
}

}  // namespace pltfm::ctl
