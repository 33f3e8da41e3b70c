// A tuning directory read the way the loader reads it (its listing, its first pass and its
// line rules), one line at a time, so that every database row can be traced to the file and
// line that defined it; and the directory entries the loader passes over without a word.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <vector>

#include "pi_database_diff.h"
#include "platform_types.h"

namespace pltfm::tuning {

// The six keys of a database row, as the tree holds them.
struct RowKey {
    std::string cable_type, vendor, speed, encoding, front_port, lane;
    auto operator<=>(const RowKey &) const = default;
    // Everything but the lane: the port's entry whose lanes lookups take by position.
    RowKey port() const { return {cable_type, vendor, speed, encoding, front_port, ""}; }
};
RowKey row_key(const database::RowKeys &keys);

// One value of a row: its attribute key and text.
struct RowValue {
    uint32_t key = 0;
    std::string text;
    bool operator==(const RowValue &) const = default;
};
// The values of a tree row, without its lane marker.
std::vector<RowValue> row_values(const pi_lane_entry_t &lane);

struct TuningRow {
    RowKey key;
    std::vector<RowValue> values;
    std::string file;  // path as the loader names it: <dir>/<entry name>
    int line = 0;
};

struct TuningRows {
    std::vector<std::string> files;  // the tuning files, in the loader's order
    std::vector<TuningRow> rows;     // file by file in that order, line by line
    // The first failure of the listing or of a line (the file is read up to that line);
    // the loader's messages in `messages`.
    pltfm_status_t status = PLTFM_SUCCESS;
    std::string messages;
};
TuningRows read_tuning_rows(const std::string &dir);

// A directory entry whose name ends in ".csv" (any case) that the loader skips silently.
struct SkippedEntry {
    std::string name;
    std::string reason;
};
std::vector<SkippedEntry> skipped_entries(const std::string &dir);

}  // namespace pltfm::tuning
