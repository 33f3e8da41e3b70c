// The lint checks on the rows of a tuning directory.
#include "lint_checks.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "alloc.h"
#include "names.h"
#include "platform_hw_internal.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "sdk_records.h"
#include "stderr_capture.h"
#include "whole_number.h"

namespace pltfm::tuning {

namespace {

// Header lines of a tuning file: cable type and vendor, and the column groups.
constexpr int kCableTypeLine = 2;
constexpr int kGroupLine = 4;

std::string port_name(const RowKey &k) {
    return "FRONT PORT " + k.front_port + " (" + k.cable_type + " " + k.vendor + " " + k.speed +
           " " + k.encoding + ")";
}

// Adds a finding unless the same one is already there (a data line gives a row per column
// group, and the groups share their lane and front port).
void add_once(std::vector<Finding> &out, std::set<std::string> &seen, Finding f) {
    if (seen.insert(f.check + '\n' + f.file + '\n' + std::to_string(f.line) + '\n' + f.message)
            .second)
        out.push_back(std::move(f));
}

// The SDK's field for a translated value, in words.
std::string field_words(const tools::SdkRecord &r) {
    if (r.member == "i8_list") return "an 8-bit signed field";
    if (r.member == "u8_list") return "an 8-bit unsigned field";
    return "a 32-bit unsigned field";
}

// The row through the library's translation as a one-lane port: one record per value that
// the SDK receives, in value order (nullopt for values that give no record).
std::vector<std::optional<tools::SdkRecord>> translate_row(const TuningRow &row) {
    std::vector<pltfm_attr_t> attrs(1);
    attrs[0].key = PLTFM_ATTR_LANE;
    std::snprintf(attrs[0].value, sizeof attrs[0].value, "0");
    for (const RowValue &v : row.values) {
        pltfm_attr_t a{};
        a.key = static_cast<pltfm_attr_type_t>(v.key);
        std::snprintf(a.value, sizeof a.value, "%s", v.text.c_str());
        attrs.push_back(a);
    }
    pltfm_port_t port{};
    std::snprintf(port.intf_name, sizeof port.intf_name, "pltfmctl-lint");
    port.cur_start_lane = 0;
    port.cur_num_lanes = 1;
    uint32_t capacity = static_cast<uint32_t>(row.values.size()) + 1;
    auto *list = static_cast<ifcs_attr_t *>(mem::alloc_zeroed(capacity, sizeof(ifcs_attr_t)));
    if (list == nullptr) throw std::bad_alloc();
    const uint32_t allocated = capacity;
    const int rc = pltfm_serdes_parameters_translate(
        port, attrs.data(), static_cast<int>(attrs.size()), list, &capacity);
    std::vector<tools::SdkRecord> records;
    if (rc == PLTFM_SUCCESS) records = tools::decode_sdk_records(list, capacity);
    if (!serdes::intf_db_release(port.intf_name)) serdes::release_attr_list(list, allocated);

    std::vector<std::optional<tools::SdkRecord>> out;
    std::size_t next = 0;
    for (const RowValue &v : row.values) {
        if (serdes::value_conversion(v.key) == serdes::ValueConversion::none ||
            next >= records.size())
            out.emplace_back(std::nullopt);
        else
            out.emplace_back(records[next++]);
    }
    return out;
}

// Why a value does not reach the SDK as written; empty when it does.
std::string value_problem(const RowValue &v, const tools::SdkRecord &r) {
    const int64_t sdk = r.values.empty() ? 0 : r.values.front();
    switch (serdes::value_conversion(v.key)) {
        case serdes::ValueConversion::number: {
            const auto written = whole_number(v.text);
            if (!written)
                return "\"" + v.text + "\" is not a whole number; the SDK gets " +
                       std::to_string(sdk);
            if (*written != sdk)
                return v.text + " does not fit " + field_words(r) + "; the SDK gets " +
                       std::to_string(sdk);
            return "";
        }
        case serdes::ValueConversion::effort:
            if (v.text == "LOW" || v.text == "MEDIUM" || v.text == "HIGH") return "";
            return "\"" + v.text + "\" is not LOW, MEDIUM or HIGH; the SDK gets HIGH";
        case serdes::ValueConversion::boolean:
            if (v.text == "TRUE" || v.text == "FALSE") return "";
            return "\"" + v.text + "\" is not TRUE or FALSE; the SDK gets FALSE";
        case serdes::ValueConversion::none:
            break;
    }
    return "";
}

bool known_cable_type(const std::string &text) {
    const auto known = identified_cable_types();
    return std::find(known.begin(), known.end(), text) != known.end();
}

}  // namespace

std::vector<Finding> check_lane_order(const TuningRows &rows) {
    std::vector<Finding> out;
    std::set<std::string> seen;
    // Per port entry: the lane lines in file order, and where each lane text stood first.
    struct PortLines {
        std::size_t count = 0;
        std::map<std::string, const TuningRow *> first;
    };
    std::map<RowKey, PortLines> ports;
    for (const TuningRow &row : rows.rows) {
        PortLines &p = ports[row.key.port()];
        const std::size_t position = p.count++;
        const std::string where = " of FRONT PORT " + row.key.front_port + " (" +
                                  row.key.cable_type + " " + row.key.vendor + ")";
        const auto [first, fresh] = p.first.emplace(row.key.lane, &row);
        if (!fresh) {
            --p.count;  // the loader refuses the directory; positions follow the first line
            const TuningRow &f = *first->second;
            add_once(out, seen,
                     {"duplicate-lane", row.file, row.line,
                      "lane " + row.key.lane + where + " is defined again (first at " + f.file +
                          ":" + std::to_string(f.line) + "); the loader refuses the directory"});
            continue;
        }
        // Translation reads the lane text as a number to place the line's values.
        const auto lane = whole_number(row.key.lane);
        if (lane && *lane == static_cast<long long>(position)) continue;
        add_once(
            out, seen,
            {"lane-order", row.file, row.line,
             "lane " + row.key.lane + where + " stands at position " + std::to_string(position) +
                 ": lookups take lanes by position, so lane " + std::to_string(position) +
                 " gets these values (write lanes 0, 1, 2, ... in order)"});
    }
    return out;
}

std::vector<Finding> check_unused_keys(const TuningRows &rows) {
    std::vector<Finding> out;
    std::set<std::string> seen;
    for (const TuningRow &row : rows.rows) {
        const RowKey &k = row.key;
        if (!known_cable_type(k.cable_type)) {
            add_once(out, seen,
                     {"unused-key", row.file, kCableTypeLine,
                      "cable type " + k.cable_type +
                          " is never looked up (the library asks for OPTICS, DAC_1M, DAC_3M "
                          "or RJ45); the file's rows are never used"});
        }
        const auto cls = std::find_if(hw::kLaneSpeedClasses.begin(), hw::kLaneSpeedClasses.end(),
                                      [&](const auto &c) { return k.speed == c.speed; });
        if (cls == hw::kLaneSpeedClasses.end() || k.encoding != cls->encoding) {
            std::string expected;
            for (const auto &c : hw::kLaneSpeedClasses)
                expected += std::string(expected.empty() ? "" : ", ") + c.speed + " " + c.encoding;
            add_once(out, seen,
                     {"unused-key", row.file, kGroupLine,
                      "column group " + k.speed + " " + k.encoding +
                          " is never looked up (the library asks for " + expected +
                          "); its values are never used"});
        }
        const bool asked = plain_number(k.front_port, 0, hw::kMaxSerdesGroup).has_value();
        // Once per file and front port, at its first line.
        if (!asked && seen.insert(row.file + '\n' + k.front_port).second) {
            add_once(out, seen,
                     {"unused-key", row.file, row.line,
                      "FRONT PORT " + k.front_port +
                          " is never looked up (front ports are compared as text; the library "
                          "asks for 0 to 32 without leading zeros)"});
        }
    }
    return out;
}

std::vector<Finding> check_values(const TuningRows &rows) {
    std::vector<Finding> out;
    tools::StderrCapture quiet;  // translation logs the TX_EQ_ATTN lists it builds
    for (const TuningRow &row : rows.rows) {
        const auto records = translate_row(row);
        for (std::size_t i = 0; i < row.values.size(); ++i) {
            if (!records[i]) continue;
            const std::string problem = value_problem(row.values[i], *records[i]);
            if (problem.empty()) continue;
            out.push_back({"value", row.file, row.line,
                           tools::attr_key_name(row.values[i].key) + " (" + row.key.speed + " " +
                               row.key.encoding + "): " + problem});
        }
    }
    return out;
}

std::vector<Finding> check_skipped_entries(const std::string &dir) {
    std::vector<Finding> out;
    for (const SkippedEntry &e : skipped_entries(dir))
        out.push_back({"skipped-entry", dir + "/" + e.name, 0, e.reason});
    return out;
}

std::vector<Finding> check_port_lanes(const Coverage &coverage, const TuningRows &rows) {
    std::vector<Finding> out;
    std::set<std::string> seen;
    for (const CoverageCell &c : coverage.cells) {
        if (c.status != CoverageStatus::too_few_lanes &&
            c.status != CoverageStatus::lanes_misplaced)
            continue;
        const RowKey entry{
            c.cable_type, "GENERIC", c.speed, c.encoding, std::to_string(c.port.front_port), ""};
        const TuningRow *last = nullptr;
        for (const TuningRow &row : rows.rows)
            if (row.key.port() == entry) last = &row;
        if (last == nullptr) continue;
        std::string lanes;
        for (const auto &l : c.lanes) lanes += (lanes.empty() ? "" : ", ") + l;
        const std::string port_lanes = c.port.intf + " (lanes " +
                                       std::to_string(c.port.start_lane) + " to " +
                                       std::to_string(c.port.start_lane + c.port.lanes - 1) + ")";
        const std::string what =
            c.status == CoverageStatus::too_few_lanes
                ? "gives " + port_lanes + " only " + std::to_string(c.lanes.size()) + " lane line" +
                      (c.lanes.size() == 1 ? "" : "s") + "; the other lanes get zeros"
                : "gives " + port_lanes + " the lines of lanes " + lanes +
                      "; lookups take lanes by position";
        add_once(out, seen, {"port-lanes", last->file, last->line, port_name(entry) + " " + what});
    }
    return out;
}

std::vector<Finding> run_file_checks(const std::string &dir, const TuningRows &rows) {
    std::vector<Finding> out = check_skipped_entries(dir);
    for (auto *check : {check_lane_order, check_unused_keys, check_values}) {
        auto more = check(rows);
        out.insert(out.end(), std::make_move_iterator(more.begin()),
                   std::make_move_iterator(more.end()));
    }
    std::stable_sort(out.begin(), out.end(), [](const Finding &a, const Finding &b) {
        return std::tie(a.file, a.line) < std::tie(b.file, b.line);
    });
    return out;
}

}  // namespace pltfm::tuning
