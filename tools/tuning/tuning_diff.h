// What replacing one tuning tree by another changes, row by row and value by value: the
// library's tree comparison with the values of each differing row paired by attribute.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pi_database_diff.h"
#include "tuning_rows.h"

namespace pltfm::tuning {

struct ValueChange {
    std::string attribute;              // as the files name it, e.g. "TX_EQ_PRE1"
    std::optional<std::string> before;  // nullopt: the value is new
    std::optional<std::string> after;   // nullopt: the value is gone
};

struct RowDiff {
    database::RowChange change;
    RowKey key;
    // Added and removed rows: every value; changed rows: the values that differ (none when
    // the same values only stand in another order).
    std::vector<ValueChange> values;
};

struct TuningDiff {
    std::vector<RowDiff> rows;  // sorted by key (front port and lane by number)
    std::size_t added = 0, removed = 0, changed = 0;
    std::size_t values_changed = 0;  // values added, removed or changed in changed rows
    bool same() const { return rows.empty(); }
};

TuningDiff diff_trees(const database::Tree &before, const database::Tree &after);

// "rows: 3 added, 1 removed, 2 changed (5 values)" or "no change".
std::string summary_text(const TuningDiff &diff);

// Orders keys as a reader expects: texts, but front port and lane by their number.
bool key_less(const RowKey &a, const RowKey &b);

}  // namespace pltfm::tuning
