// Heatmap grids of a directory's rows: rows grouped by cable type, vendor and lane-speed
// class, the board's lanes laid over them to find holes, and the robust z-score test per
// lane over comparable front ports.
#include "heatmaps.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "board_ports.h"
#include "names.h"
#include "platform_hw_internal.h"
#include "whole_number.h"

namespace pltfm::tuning {

namespace {

constexpr const char *kGenericVendor = "GENERIC";
// Scale factors that turn the median and mean absolute deviations of a normal spread into
// its standard deviation.
constexpr double kMadScale = 1.4826;
constexpr double kMeanAdScale = 1.2533;

struct TextLess {
    bool operator()(const std::string &a, const std::string &b) const {
        return number_text_less(a, b);
    }
};
using TextSet = std::set<std::string, TextLess>;

// Lanes the board has on a front port written as the library writes it; 0 for other texts.
int board_lanes(const std::string &front_port) {
    static const auto lanes = [] {
        std::array<int, hw::kMaxSerdesGroup + 1> out{};
        for (int p = 0; p <= hw::kMaxSerdesGroup; ++p)
            out[static_cast<std::size_t>(p)] = tools::front_port_lanes(p);
        return out;
    }();
    const auto n = plain_number(front_port, 0, hw::kMaxSerdesGroup);
    return n ? lanes[static_cast<std::size_t>(*n)] : 0;
}

bool board_lane(const std::string &front_port, const std::string &lane) {
    return plain_number(lane, 0, board_lanes(front_port) - 1).has_value();
}

// Front ports whose lanes are compared with each other: the eight-lane cages, the extra
// cages, and front ports the board does not have.
int cage_kind(const std::string &front_port) {
    const int lanes = board_lanes(front_port);
    return lanes == 0 ? 0 : (lanes == hw::kLanesPerCage ? 1 : 2);
}

double median_of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// The row set of a group (see build_heatmaps).
TextSet front_port_rows(const std::string &vendor, const TextSet &named) {
    TextSet out = named;
    if (vendor != kGenericVendor) return out;
    const bool eight_lane = std::any_of(named.begin(), named.end(), [](const auto &p) {
        return board_lanes(p) == hw::kLanesPerCage;
    });
    for (int p = 0; eight_lane && p <= hw::kMaxSerdesGroup; ++p) {
        if (board_lanes(std::to_string(p)) == hw::kLanesPerCage) out.insert(std::to_string(p));
    }
    return out;
}

// Attribute columns of the group's rows: (key, occurrence in the row) in first-seen order.
std::vector<std::pair<uint32_t, int>> attribute_columns(const TuningRows &rows,
                                                        const std::vector<std::size_t> &members) {
    std::vector<std::pair<uint32_t, int>> out;
    for (std::size_t i : members) {
        std::map<uint32_t, int> seen;
        for (const RowValue &v : rows.rows[i].values) {
            const std::pair<uint32_t, int> id{v.key, seen[v.key]++};
            if (std::find(out.begin(), out.end(), id) == out.end()) out.push_back(id);
        }
    }
    return out;
}

// The value of attribute `id` in a row, when it has one.
const std::string *value_of(const TuningRow &row, std::pair<uint32_t, int> id) {
    int occurrence = 0;
    for (const RowValue &v : row.values) {
        if (v.key == id.first && occurrence++ == id.second) return &v.text;
    }
    return nullptr;
}

void flag_outliers(AttributeGrid &grid, const std::vector<std::string> &front_ports,
                   const OutlierRule &rule) {
    const std::size_t lanes = grid.cells.empty() ? 0 : grid.cells.front().size();
    for (std::size_t c = 0; c < lanes; ++c) {
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<Cell *> tested;
            std::vector<double> values;
            for (std::size_t r = 0; r < front_ports.size(); ++r) {
                Cell &cell = grid.cells[r][c];
                const auto n =
                    cell.kind == CellKind::value ? whole_number(cell.text) : std::nullopt;
                if (!n || cage_kind(front_ports[r]) != kind) continue;
                tested.push_back(&cell);
                values.push_back(static_cast<double>(*n));
            }
            const auto z = robust_z(values, rule);
            const double median = values.empty() ? 0.0 : median_of(values);
            for (std::size_t i = 0; i < tested.size(); ++i) {
                if (!z[i]) continue;
                tested[i]->z = z[i];
                tested[i]->median = median;
                tested[i]->outlier = std::fabs(*z[i]) > rule.cutoff;
            }
        }
    }
}

// Sets of front ports whose rows give the same lanes the same values.
std::vector<std::vector<std::string>> duplicate_ports(const HeatmapGroup &g,
                                                      const TuningRows &rows) {
    std::map<std::vector<std::string>, std::vector<std::string>> by_values;
    for (std::size_t r = 0; r < g.front_ports.size(); ++r) {
        std::vector<std::string> signature;
        for (std::size_t c = 0; c < g.lanes.size(); ++c) {
            if (!g.row_at[r][c]) continue;
            signature.push_back("lane " + g.lanes[c]);
            for (const RowValue &v : rows.rows[*g.row_at[r][c]].values) {
                signature.push_back(tools::attr_key_name(v.key) + "=" + v.text);
            }
        }
        if (!signature.empty()) by_values[signature].push_back(g.front_ports[r]);
    }
    std::vector<std::vector<std::string>> out;
    for (auto &[signature, ports] : by_values) {
        if (ports.size() > 1) out.push_back(std::move(ports));
    }
    std::sort(out.begin(), out.end(),
              [](const auto &a, const auto &b) { return number_text_less(a.front(), b.front()); });
    return out;
}

HeatmapGroup build_group(const TuningRows &rows, const std::vector<std::size_t> &members,
                         const TextSet &named_ports, const OutlierRule &rule) {
    HeatmapGroup g;
    const RowKey &key = rows.rows[members.front()].key;
    g.cable_type = key.cable_type;
    g.vendor = key.vendor;
    g.speed = key.speed;
    g.encoding = key.encoding;

    const TextSet ports = front_port_rows(g.vendor, named_ports);
    g.front_ports.assign(ports.begin(), ports.end());
    TextSet lanes;
    std::map<std::pair<std::string, std::string>, std::size_t> at;  // (port, lane) -> row
    for (std::size_t i : members) {
        const TuningRow &row = rows.rows[i];
        lanes.insert(row.key.lane);
        at.emplace(std::make_pair(row.key.front_port, row.key.lane), i);  // the first one counts
        if (std::find(g.files.begin(), g.files.end(), row.file) == g.files.end())
            g.files.push_back(row.file);
    }
    for (const std::string &p : g.front_ports) {
        for (int l = 0; l < board_lanes(p); ++l) lanes.insert(std::to_string(l));
    }
    g.lanes.assign(lanes.begin(), lanes.end());
    g.row_at.assign(g.front_ports.size(), std::vector<std::optional<std::size_t>>(g.lanes.size()));
    for (std::size_t r = 0; r < g.front_ports.size(); ++r) {
        for (std::size_t c = 0; c < g.lanes.size(); ++c) {
            const auto found = at.find({g.front_ports[r], g.lanes[c]});
            if (found != at.end() && !rows.rows[found->second].values.empty())
                g.row_at[r][c] = found->second;
        }
    }

    for (const auto &id : attribute_columns(rows, members)) {
        AttributeGrid grid;
        grid.name = tools::attr_key_name(id.first);
        if (id.second > 0) grid.name += " #" + std::to_string(id.second + 1);
        std::size_t values = 0, numbers = 0;
        grid.cells.assign(g.front_ports.size(), std::vector<Cell>(g.lanes.size()));
        for (std::size_t r = 0; r < g.front_ports.size(); ++r) {
            for (std::size_t c = 0; c < g.lanes.size(); ++c) {
                Cell &cell = grid.cells[r][c];
                const auto found = at.find({g.front_ports[r], g.lanes[c]});
                const std::string *text =
                    found == at.end() ? nullptr : value_of(rows.rows[found->second], id);
                if (text != nullptr) {
                    cell.kind = CellKind::value;
                    cell.text = *text;
                    ++values;
                    numbers += whole_number(*text) ? 1 : 0;
                } else if (found != at.end() || board_lane(g.front_ports[r], g.lanes[c])) {
                    cell.kind = CellKind::hole;
                }
            }
        }
        grid.numeric = numbers > 0 && numbers * 2 >= values;
        flag_outliers(grid, g.front_ports, rule);
        g.attributes.push_back(std::move(grid));
    }
    for (const std::string &p : g.front_ports) {
        for (const std::string &l : g.lanes) {
            if (!at.count({p, l}) && board_lane(p, l)) g.holes.emplace_back(p, l);
        }
    }
    g.duplicates = duplicate_ports(g, rows);
    return g;
}

}  // namespace

std::size_t AttributeGrid::outliers() const {
    std::size_t n = 0;
    for (const auto &row : cells) {
        n += static_cast<std::size_t>(
            std::count_if(row.begin(), row.end(), [](const Cell &c) { return c.outlier; }));
    }
    return n;
}

std::size_t HeatmapGroup::outliers() const {
    std::size_t n = 0;
    for (const AttributeGrid &a : attributes) n += a.outliers();
    return n;
}

std::vector<std::optional<double>> robust_z(const std::vector<double> &values,
                                            const OutlierRule &rule) {
    std::vector<std::optional<double>> out(values.size());
    if (values.empty() || values.size() < rule.min_values) return out;
    const double median = median_of(values);
    std::vector<double> deviation;
    for (double v : values) deviation.push_back(std::fabs(v - median));
    double scale = kMadScale * median_of(deviation);
    if (scale == 0.0) {
        double sum = 0.0;
        for (double d : deviation) sum += d;
        scale = kMeanAdScale * sum / static_cast<double>(deviation.size());
    }
    for (std::size_t i = 0; i < values.size(); ++i)
        out[i] = scale == 0.0 ? 0.0 : (values[i] - median) / scale;
    return out;
}

std::vector<HeatmapGroup> build_heatmaps(const TuningRows &rows, const OutlierRule &rule) {
    using GroupKey = std::tuple<std::string, std::string, std::string, std::string>;
    std::map<GroupKey, std::vector<std::size_t>> members;
    std::map<std::pair<std::string, std::string>, TextSet> named;  // (cable, vendor) -> ports
    for (std::size_t i = 0; i < rows.rows.size(); ++i) {
        const RowKey &k = rows.rows[i].key;
        members[{k.cable_type, k.vendor, k.speed, k.encoding}].push_back(i);
        named[{k.cable_type, k.vendor}].insert(k.front_port);
    }
    std::vector<HeatmapGroup> out;
    for (const auto &[key, indices] : members) {
        out.push_back(
            build_group(rows, indices, named[{std::get<0>(key), std::get<1>(key)}], rule));
    }
    return out;
}

}  // namespace pltfm::tuning
