// Walks two tuning trees side by side, level by level, pairing entries by their key text;
// an entry found on one side only makes every row below it added or removed.
#include "pi_database_diff.h"

#include <cstring>

#include "attr_value.h"

namespace pltfm::database {

namespace {

bool same_text(const pltfm_attr_t &a, const pltfm_attr_t &b) noexcept {
    return std::strncmp(a.value, b.value, PLTFM_ATTR_VALUE_LEN) == 0;
}

template <class Entry, Entry *Entry::*Next>
const Entry *find_same(const Entry *head, const pltfm_attr_t &key) noexcept {
    for (const Entry *e = head; e != nullptr; e = e->*Next) {
        if (same_text(e->attr, key)) return e;
    }
    return nullptr;
}

bool same_values(const pi_lane_entry_t &a, const pi_lane_entry_t &b) noexcept {
    if (a.serdes_attr_count != b.serdes_attr_count) return false;
    if (a.serdes_attr_count == 0) return true;
    if (a.serdes_attr_p == nullptr || b.serdes_attr_p == nullptr)
        return a.serdes_attr_p == b.serdes_attr_p;
    for (uint32_t i = 0; i < a.serdes_attr_count; ++i) {
        const pltfm_attr_t &x = a.serdes_attr_p[i];
        const pltfm_attr_t &y = b.serdes_attr_p[i];
        if (raw_key(x) != raw_key(y) || !same_text(x, y)) return false;
    }
    return true;
}

class Walker {
  public:
    explicit Walker(RowDiffSink &sink) : sink_(sink) {}

    void cable_types(const pi_cable_type_entry_t *before, const pi_cable_type_entry_t *after) {
        pair<pi_cable_type_entry_t, &pi_cable_type_entry_t::cte_next_p>(
            before, after, 0, [this](const auto *b, const auto *a) {
                vendors(b ? b->vendor_name_p : nullptr, a ? a->vendor_name_p : nullptr);
            });
    }

  private:
    // Visits every entry of `after` with its namesake in `before` (or null), then every entry
    // of `before` that `after` lacks, with the level's key text recorded for the sink.
    template <class Entry, Entry *Entry::*Next, class Visit>
    void pair(const Entry *before, const Entry *after, int level, Visit visit) {
        for (const Entry *a = after; a != nullptr; a = a->*Next) {
            keys_.text[level] = a->attr.value;
            visit(find_same<Entry, Next>(before, a->attr), a);
        }
        for (const Entry *b = before; b != nullptr; b = b->*Next) {
            if (find_same<Entry, Next>(after, b->attr) != nullptr) continue;
            keys_.text[level] = b->attr.value;
            visit(b, static_cast<const Entry *>(nullptr));
        }
    }

    void vendors(const pi_vendor_name_entry_t *before, const pi_vendor_name_entry_t *after) {
        pair<pi_vendor_name_entry_t, &pi_vendor_name_entry_t::vne_next_p>(
            before, after, 1, [this](const auto *b, const auto *a) {
                speeds(b ? b->lane_speed_p : nullptr, a ? a->lane_speed_p : nullptr);
            });
    }

    void speeds(const pi_lane_speed_entry_t *before, const pi_lane_speed_entry_t *after) {
        pair<pi_lane_speed_entry_t, &pi_lane_speed_entry_t::lse_next_p>(
            before, after, 2, [this](const auto *b, const auto *a) {
                encodings(b ? b->encoding_p : nullptr, a ? a->encoding_p : nullptr);
            });
    }

    void encodings(const pi_encoding_entry_t *before, const pi_encoding_entry_t *after) {
        pair<pi_encoding_entry_t, &pi_encoding_entry_t::ee_next_p>(
            before, after, 3, [this](const auto *b, const auto *a) {
                ports(b ? b->front_panel_port_p : nullptr, a ? a->front_panel_port_p : nullptr);
            });
    }

    void ports(const pi_front_panel_port_entry_t *before,
               const pi_front_panel_port_entry_t *after) {
        pair<pi_front_panel_port_entry_t, &pi_front_panel_port_entry_t::fppe_next_p>(
            before, after, 4, [this](const auto *b, const auto *a) {
                lanes(b ? b->lane_p : nullptr, a ? a->lane_p : nullptr);
            });
    }

    void lanes(const pi_lane_entry_t *before, const pi_lane_entry_t *after) {
        pair<pi_lane_entry_t, &pi_lane_entry_t::le_next_p>(
            before, after, 5, [this](const pi_lane_entry_t *b, const pi_lane_entry_t *a) {
                if (b == nullptr) {
                    sink_.row(RowChange::added, keys_, nullptr, a);
                } else if (a == nullptr) {
                    sink_.row(RowChange::removed, keys_, b, nullptr);
                } else if (!same_values(*b, *a)) {
                    sink_.row(RowChange::changed, keys_, b, a);
                }
            });
    }

    RowDiffSink &sink_;
    RowKeys keys_;
};

class CountingSink final : public RowDiffSink {
  public:
    void row(RowChange change, const RowKeys &, const pi_lane_entry_t *,
             const pi_lane_entry_t *) override {
        switch (change) {
            case RowChange::added:
                ++counts.added;
                break;
            case RowChange::removed:
                ++counts.removed;
                break;
            case RowChange::changed:
                ++counts.changed;
                break;
        }
    }
    RowChangeCounts counts;
};

}  // namespace

void compare_trees(const Tree &before, const Tree &after, RowDiffSink &sink) {
    Walker(sink).cable_types(before.serdes_db_p, after.serdes_db_p);
}

RowChangeCounts count_row_changes(const Tree &before, const Tree &after) noexcept {
    CountingSink sink;
    compare_trees(before, after, sink);
    return sink.counts;
}

}  // namespace pltfm::database
