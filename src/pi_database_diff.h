// Row-by-row comparison of two tuning trees: the rows (one lane of a port under a cable type,
// vendor, lane speed and encoding) that one tree adds, removes or changes against the other.
// The rescan counts what a reload changed with it; the tools list the changes.
#pragma once

#include <cstdint>

#include "pi_database_internal.h"

namespace pltfm::database {

enum class RowChange { added, removed, changed };

// The six key texts of a row in level order: cable type, vendor, speed, encoding, front
// port, lane. They point into the trees.
struct RowKeys {
    const char *text[kRowKeyCount] = {};
};

// Receives each row that differs. `before` is null for an added row, `after` for a removed
// one; for a changed row both are set. Everything passed is valid during the call only.
class RowDiffSink {
  public:
    virtual void row(RowChange change, const RowKeys &keys, const pi_lane_entry_t *before,
                     const pi_lane_entry_t *after) = 0;

  protected:
    ~RowDiffSink() = default;
};

// Rows are matched by their six key texts (exact); a row changed when its value list
// (attribute keys and texts, in order) differs. Reads both trees, allocates nothing; an
// exception thrown by the sink passes through.
void compare_trees(const Tree &before, const Tree &after, RowDiffSink &sink);

struct RowChangeCounts {
    uint64_t added = 0;
    uint64_t removed = 0;
    uint64_t changed = 0;
};
RowChangeCounts count_row_changes(const Tree &before, const Tree &after) noexcept;

}  // namespace pltfm::database
