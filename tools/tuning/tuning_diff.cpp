// Row differences from the library's tree comparison, paired value by value: the n-th value
// of an attribute in the old row against the n-th of the same attribute in the new one.
#include "tuning_diff.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "names.h"
#include "whole_number.h"

namespace pltfm::tuning {

namespace {

std::vector<ValueChange> all_values(const std::vector<RowValue> &values, bool added) {
    std::vector<ValueChange> out;
    for (const RowValue &v : values) {
        ValueChange c{tools::attr_key_name(v.key), std::nullopt, std::nullopt};
        (added ? c.after : c.before) = v.text;
        out.push_back(std::move(c));
    }
    return out;
}

// (attribute key, occurrence) of each value, so a repeated attribute pairs in order.
std::vector<std::pair<uint32_t, int>> occurrences(const std::vector<RowValue> &values) {
    std::map<uint32_t, int> seen;
    std::vector<std::pair<uint32_t, int>> out;
    for (const RowValue &v : values) out.emplace_back(v.key, seen[v.key]++);
    return out;
}

std::vector<ValueChange> changed_values(const std::vector<RowValue> &before,
                                        const std::vector<RowValue> &after) {
    const auto b_ids = occurrences(before);
    const auto a_ids = occurrences(after);
    std::vector<ValueChange> out;
    for (std::size_t i = 0; i < after.size(); ++i) {
        const auto at = std::find(b_ids.begin(), b_ids.end(), a_ids[i]);
        const std::string name = tools::attr_key_name(after[i].key);
        if (at == b_ids.end()) {
            out.push_back({name, std::nullopt, after[i].text});
        } else if (before[static_cast<std::size_t>(at - b_ids.begin())].text != after[i].text) {
            out.push_back(
                {name, before[static_cast<std::size_t>(at - b_ids.begin())].text, after[i].text});
        }
    }
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (std::find(a_ids.begin(), a_ids.end(), b_ids[i]) == a_ids.end())
            out.push_back({tools::attr_key_name(before[i].key), before[i].text, std::nullopt});
    }
    return out;
}

class DiffSink final : public database::RowDiffSink {
  public:
    explicit DiffSink(TuningDiff &out) : out_(out) {}
    void row(database::RowChange change, const database::RowKeys &keys,
             const pi_lane_entry_t *before, const pi_lane_entry_t *after) override {
        RowDiff d{change, row_key(keys), {}};
        switch (change) {
            case database::RowChange::added:
                d.values = all_values(row_values(*after), true);
                ++out_.added;
                break;
            case database::RowChange::removed:
                d.values = all_values(row_values(*before), false);
                ++out_.removed;
                break;
            case database::RowChange::changed:
                d.values = changed_values(row_values(*before), row_values(*after));
                // Empty when the same values only stand in another order.
                out_.values_changed += d.values.size();
                ++out_.changed;
                break;
        }
        out_.rows.push_back(std::move(d));
    }

  private:
    TuningDiff &out_;
};

}  // namespace

bool key_less(const RowKey &a, const RowKey &b) {
    if (std::tie(a.cable_type, a.vendor, a.speed, a.encoding) !=
        std::tie(b.cable_type, b.vendor, b.speed, b.encoding))
        return std::tie(a.cable_type, a.vendor, a.speed, a.encoding) <
               std::tie(b.cable_type, b.vendor, b.speed, b.encoding);
    if (a.front_port != b.front_port) return number_text_less(a.front_port, b.front_port);
    return number_text_less(a.lane, b.lane);
}

TuningDiff diff_trees(const database::Tree &before, const database::Tree &after) {
    TuningDiff out;
    DiffSink sink(out);
    database::compare_trees(before, after, sink);
    std::stable_sort(out.rows.begin(), out.rows.end(),
                     [](const RowDiff &a, const RowDiff &b) { return key_less(a.key, b.key); });
    return out;
}

std::string summary_text(const TuningDiff &diff) {
    if (diff.same()) return "no change";
    std::string out = "rows: " + std::to_string(diff.added) + " added, " +
                      std::to_string(diff.removed) + " removed, " + std::to_string(diff.changed) +
                      " changed";
    if (diff.changed > 0)
        out += " (" + std::to_string(diff.values_changed) + " value" +
               (diff.values_changed == 1 ? "" : "s") + ")";
    return out;
}

}  // namespace pltfm::tuning
