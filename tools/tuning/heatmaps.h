// The rows of a tuning directory as heatmaps: per cable type, vendor and lane-speed class a
// grid of front ports (down) and lanes (across) for every tuning attribute, with the holes,
// the values far from their lane's median and the front ports whose rows repeat another's.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tuning_rows.h"

namespace pltfm::tuning {

// When a value counts as far from the median of its lane (robust z-score test): the distance
// to the median over the same lane of the comparable front ports, divided by 1.4826 x the
// median absolute deviation (the standard deviation a normal spread would have), or, when
// more than half of the values equal the median, by 1.2533 x the mean absolute deviation.
struct OutlierRule {
    double cutoff = 3.5;         // |z| above this is flagged
    std::size_t min_values = 5;  // fewer comparable values: nothing is flagged
};

// What stands in one cell of a grid.
enum class CellKind {
    value,      // the group has a row for the front port and lane, with this attribute
    hole,       // a lane the board has (or the group's rows name) without a value
    off_board,  // a lane the front port does not have on this board: not drawn
};

struct Cell {
    CellKind kind = CellKind::off_board;
    std::string text;  // the value, for CellKind::value
    // The median of the cell's lane over the comparable front ports and the value's robust
    // z-score against it, when the lane was tested.
    std::optional<double> median, z;
    bool outlier = false;  // |z| above the rule's cutoff
};

struct AttributeGrid {
    std::string name;      // as the files spell it; a repeated attribute gets " #2", " #3", ...
    bool numeric = false;  // most values are whole numbers
    std::vector<std::vector<Cell>> cells;  // [front port][lane]
    std::size_t outliers() const;
};

struct HeatmapGroup {
    std::string cable_type, vendor, speed, encoding;
    std::vector<std::string> files;         // the files its rows come from
    std::vector<std::string> front_ports;   // rows, in number order
    std::vector<std::string> lanes;         // columns, in number order
    std::vector<AttributeGrid> attributes;  // in the column order of the files
    // [front port][lane]: index into TuningRows::rows of the row with values there, if any.
    std::vector<std::vector<std::optional<std::size_t>>> row_at;
    // Front ports whose lanes carry exactly the same values as another front port's, in sets.
    std::vector<std::vector<std::string>> duplicates;
    // (front port, lane) of the board without a row in this group.
    std::vector<std::pair<std::string, std::string>> holes;
    std::size_t outliers() const;
};

// Groups in key order. Rows of a vendor GENERIC group: the 32 front ports of the eight-lane
// cages when the cable type and vendor have rows for any of them in any class, and front port
// 32 when they have rows for it; other vendors' files may cover a few ports, so their rows are
// the front ports they name. Front ports the board does not have are rows too (without holes).
// Medians are taken per lane over the front ports of the same kind: the eight-lane cages'
// together, the extra cages' front port 32 by itself (so never tested: one value), and the
// front ports the board does not have together.
std::vector<HeatmapGroup> build_heatmaps(const TuningRows &rows, const OutlierRule &rule = {});

// Robust z-scores of `values` against their median (nullopt for all when fewer than
// rule.min_values or no spread), in the order given.
std::vector<std::optional<double>> robust_z(const std::vector<double> &values,
                                            const OutlierRule &rule);

}  // namespace pltfm::tuning
