// Rules of each line of a tuning file: the first-pass shape checks, the five header lines,
// and the data lines that become one database row per column group.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "alloc.h"
#include "attr_names.h"
#include "attr_value.h"
#include "log.h"
#include "pi_csvfile_internal.h"

namespace pltfm::csv {

namespace {

constexpr const char *kVersionWord = "VERSION";
constexpr const char *kIndexWord = "INDEX";

// A cell (null when empty) equal to a key word.
bool cell_is(const char *cell, const char *word) noexcept {
    // The first characters first: data lines ask this of every column.
    return cell != nullptr && word != nullptr && cell[0] == word[0] && std::strcmp(cell, word) == 0;
}

// Result of tokenizing a second-pass line into its entry.
struct Shape {
    pltfm_status_t rc;
    int32_t cells;
    int32_t nonempty;
};

Shape tokenize(const char *line_p, LineEntry &entry) noexcept {
    entry.clear_tokens();
    Shape s{PLTFM_SUCCESS, -1, -1};
    s.rc = pi_csv_line_parse(line_p, entry.get(), &s.cells, &s.nonempty, false);
    return s;
}

// Writes the line's format report on behalf of `func` and returns the line's status: the
// tokenizer's when it failed, PLTFM_INVAL when only a count is wrong.
pltfm_status_t format_report(const char *func, int32_t line_no, int32_t expected, const Shape &s,
                             const char *nonempty_rule) noexcept {
    PLTFM_LOG_AS(func,
                 "line %d is not in expected format. expected value count %d, actual value "
                 "count %d, expected nonempty value count %s, actual nonempty value count %d, "
                 "rc %d",
                 line_no, expected, s.cells, nonempty_rule, s.nonempty, s.rc);
    return s.rc != PLTFM_SUCCESS ? s.rc : PLTFM_INVAL;
}

bool shape_ok(const Shape &s, int32_t expected) noexcept {
    return s.rc == PLTFM_SUCCESS && s.cells == expected;
}

}  // namespace

pltfm_status_t pi_csv_value_to_attr_type_conv(const char *value_p,
                                              pltfm_attr_type_t *type_p) noexcept {
    if (value_p == nullptr) return PLTFM_INVAL;
    const std::string_view value(value_p);
    for (const AttrName &a : kAttrNames) {
        if (a.name == value) {
            *type_p = a.key;
            return PLTFM_SUCCESS;
        }
    }
    return PLTFM_INVAL;
}

// ---- first pass ----

pltfm_status_t pi_csv_line_1_check(const char *line_p, int32_t *actual_column_count_p) noexcept {
    constexpr int32_t kLine = 1;
    LineEntry entry;
    if (!entry.allocate(kLine, 3)) {
        PLTFM_LOG("malloc failed");
        return PLTFM_MEMORY;
    }
    int32_t cells = -1;
    int32_t nonempty = -1;
    const pltfm_status_t rc = pi_csv_line_parse(line_p, entry.get(), &cells, &nonempty, true);
    // A cell copy that could not be allocated is an allocation failure, not a format error.
    if (rc == PLTFM_MEMORY) return rc;
    if (rc != PLTFM_LENGTH_MISMATCH || cells < kMinColumnCount) {
        PLTFM_LOG("line %d is not in expected format", kLine);
        return PLTFM_INVAL;
    }
    // Whatever stands before the first V (a byte-order mark, say) is ignored.
    const char *version = entry.cell(1) != nullptr ? std::strchr(entry.cell(1), 'V') : nullptr;
    if (!cell_is(version, kVersionWord)) {
        PLTFM_LOG("line %d is missing the value VERSION in column 1", kLine);
        return PLTFM_INVAL;
    }
    if (!cell_is(entry.cell(2), pi_key_name_cable_type_p)) {
        PLTFM_LOG("line %d is missing the value %s in column 2", kLine, pi_key_name_cable_type_p);
        return PLTFM_INVAL;
    }
    if (!cell_is(entry.cell(3), pi_key_name_vendor_p)) {
        PLTFM_LOG("line %d is missing the value %s in column 3", kLine, pi_key_name_vendor_p);
        return PLTFM_INVAL;
    }
    *actual_column_count_p = cells;
    return PLTFM_SUCCESS;
}

pltfm_status_t pi_csv_line_n_check(const char *line_p, int32_t line_no,
                                   int32_t expected_column_count,
                                   int32_t *actual_column_count_p) noexcept {
    // Without slots the tokenizer only counts the cells.
    pi_csv_line_entry_t entry{line_no, 0, nullptr};
    int32_t cells = -1;
    int32_t nonempty = -1;
    const pltfm_status_t rc = pi_csv_line_parse(line_p, &entry, &cells, &nonempty, true);
    if (rc != PLTFM_LENGTH_MISMATCH || cells != expected_column_count) {
        PLTFM_LOG("in line %d, value count %d is not the expected count %d", line_no, cells,
                  expected_column_count);
        return PLTFM_INVAL;
    }
    *actual_column_count_p = cells;
    return PLTFM_SUCCESS;
}

// ---- second pass: header lines ----

pltfm_status_t pi_csv_line_1_process(const char *line_p, int32_t expected_column_count,
                                     LineEntry &csv_line) noexcept {
    const int32_t line_no = csv_line.get()->line_no;
    const Shape s = tokenize(line_p, csv_line);
    if (!shape_ok(s, expected_column_count) || s.nonempty != 3) {
        return format_report(__func__, line_no, expected_column_count, s, "3");
    }
    pltfm_status_t rc = PLTFM_SUCCESS;
    if (!cell_is(csv_line.cell(2), pi_key_name_cable_type_p)) {
        PLTFM_LOG("line %d is missing the value %s in column 2", line_no, pi_key_name_cable_type_p);
        rc = PLTFM_INVAL;
    }
    if (!cell_is(csv_line.cell(3), pi_key_name_vendor_p)) {
        PLTFM_LOG("line %d is missing the value %s in column 3", line_no, pi_key_name_vendor_p);
        rc = PLTFM_INVAL;
    }
    return rc;
}

pltfm_status_t pi_csv_line_2_process(const char *line_p, int32_t expected_column_count,
                                     LineEntry &csv_line, pltfm_attr_t *key_list_p) noexcept {
    const int32_t line_no = csv_line.get()->line_no;
    const Shape s = tokenize(line_p, csv_line);
    if (!shape_ok(s, expected_column_count) || s.nonempty != 3) {
        return format_report(__func__, line_no, expected_column_count, s, "3");
    }
    for (int32_t column = 1; column <= 3; ++column) {
        if (csv_line.cell(column) == nullptr) {
            PLTFM_LOG("line %d is missing value in column %d", line_no, column);
            return PLTFM_INVAL;
        }
    }
    set_attr_value(key_list_p[PI_KEY_IDX_CABLE_TYPE].value, csv_line.cell(2));
    set_attr_value(key_list_p[PI_KEY_IDX_VENDOR].value, csv_line.cell(3));
    return PLTFM_SUCCESS;
}

pltfm_status_t pi_csv_line_3_process(const char *line_p, int32_t expected_column_count,
                                     LineEntry &csv_line) noexcept {
    const int32_t line_no = csv_line.get()->line_no;
    const Shape s = tokenize(line_p, csv_line);
    if (!shape_ok(s, expected_column_count) || s.nonempty < 2) {
        return format_report(__func__, line_no, expected_column_count, s, "2 or more");
    }
    for (int32_t column = 1; column <= 3; ++column) {
        if (csv_line.cell(column) != nullptr) {
            PLTFM_LOG("line %d should not have values in columns 1 to 3", line_no);
            return PLTFM_INVAL;
        }
    }
    if (!cell_is(csv_line.cell(4), pi_key_name_speed_p)) {
        PLTFM_LOG("line %d is missing the value %s in column 4", line_no, pi_key_name_speed_p);
        return PLTFM_INVAL;
    }
    if (!cell_is(csv_line.cell(5), pi_key_name_encoding_p)) {
        PLTFM_LOG("line %d is missing the value %s in column 5", line_no, pi_key_name_encoding_p);
        return PLTFM_INVAL;
    }
    // Every further group is a SPEED cell directly followed by an ENCODING cell.
    for (int32_t column = 6; column <= expected_column_count;) {
        if (csv_line.cell(column) == nullptr) {
            ++column;
            continue;
        }
        if (!cell_is(csv_line.cell(column), pi_key_name_speed_p)) {
            PLTFM_LOG("line %d is missing the value %s in column %d", line_no, pi_key_name_speed_p,
                      column);
            return PLTFM_INVAL;
        }
        if (!cell_is(csv_line.cell(column + 1), pi_key_name_encoding_p)) {
            PLTFM_LOG("line %d is missing the value %s in column %d", line_no,
                      pi_key_name_encoding_p, column + 1);
            return PLTFM_INVAL;
        }
        column += 2;
    }
    return PLTFM_SUCCESS;
}

pltfm_status_t pi_csv_line_4_process(const char *line_p, int32_t expected_column_count,
                                     LineEntry &csv_line, const LineEntry &csv_line_3) noexcept {
    const int32_t line_no = csv_line.get()->line_no;
    const Shape s = tokenize(line_p, csv_line);
    if (!shape_ok(s, expected_column_count) || s.nonempty < 2) {
        return format_report(__func__, line_no, expected_column_count, s, "2 or more");
    }
    for (int32_t column = 1; column <= expected_column_count; ++column) {
        const char *header = csv_line_3.cell(column);
        const char *value = csv_line.cell(column);
        if (header != nullptr && value == nullptr) {
            PLTFM_LOG("line %d is missing value for %s in column %d", line_no, header, column);
            return PLTFM_INVAL;
        }
        if (header == nullptr && value != nullptr) {
            PLTFM_LOG("line %d should not have value in column %d", line_no, column);
            return PLTFM_INVAL;
        }
    }
    return PLTFM_SUCCESS;
}

pltfm_status_t pi_csv_line_5_process(const char *line_p, int32_t expected_column_count,
                                     LineEntry &csv_line, pltfm_attr_t *value_list_p) noexcept {
    const int32_t line_no = csv_line.get()->line_no;
    const Shape s = tokenize(line_p, csv_line);
    if (!shape_ok(s, expected_column_count) || s.nonempty != expected_column_count) {
        char rule[16];
        std::snprintf(rule, sizeof rule, "%d", expected_column_count);
        return format_report(__func__, line_no, expected_column_count, s, rule);
    }
    if (!cell_is(csv_line.cell(1), kIndexWord)) {
        PLTFM_LOG("line %d is missing the value INDEX in column 1", line_no);
        return PLTFM_INVAL;
    }
    if (!cell_is(csv_line.cell(2), pi_key_name_front_port_p)) {
        PLTFM_LOG("line %d is missing the value %s in column 2", line_no, pi_key_name_front_port_p);
        return PLTFM_INVAL;
    }
    if (!cell_is(csv_line.cell(3), pi_key_name_lane_p)) {
        PLTFM_LOG("line %d is missing the value %s in column 3", line_no, pi_key_name_lane_p);
        return PLTFM_INVAL;
    }
    for (int32_t column = 1; column <= expected_column_count; ++column) {
        pltfm_attr_type_t key = PLTFM_ATTR_AN;
        if (pi_csv_value_to_attr_type_conv(csv_line.cell(column), &key) != PLTFM_SUCCESS) {
            PLTFM_LOG("line %d has invalid value %s in column %d", line_no, csv_line.cell(column),
                      column);
            return PLTFM_INVAL;
        }
        value_list_p[column - 1].key = key;
    }
    return PLTFM_SUCCESS;
}

// ---- second pass: data lines ----

ColumnGroups::~ColumnGroups() {
    mem::release(groups_);
}

bool ColumnGroups::allocate(int32_t columns) noexcept {
    mem::release(groups_);
    groups_ = nullptr;
    capacity_ = count_ = 0;
    if (columns <= 0) return true;
    groups_ = static_cast<ColumnGroup *>(
        mem::alloc_zeroed(static_cast<std::size_t>(columns), sizeof(ColumnGroup)));
    if (groups_ == nullptr) return false;
    capacity_ = columns;
    return true;
}

void ColumnGroups::build(int32_t expected_column_count, const LineEntry &csv_line_3,
                         const LineEntry &csv_line_4) noexcept {
    count_ = 0;
    const char *speed = nullptr;
    const char *encoding = nullptr;
    int32_t start = 0;  // none open yet
    auto close = [&](int32_t last) {
        if (start == 0 || count_ == capacity_) return;
        ColumnGroup &g = groups_[count_++];
        g.first = start;
        g.last = last;
        set_attr_value(g.speed, speed);
        set_attr_value(g.encoding, encoding);
    };
    for (int32_t column = 4; column <= expected_column_count; ++column) {
        const char *header = csv_line_3.cell(column);
        if (cell_is(header, pi_key_name_speed_p)) {
            close(column - 1);
            speed = csv_line_4.cell(column);
            start = column;
        } else if (cell_is(header, pi_key_name_encoding_p)) {
            encoding = csv_line_4.cell(column);
        }
    }
    close(expected_column_count);
}

pltfm_status_t pi_csv_line_n_process(database::Tree &tree, const char *line_p, int32_t line_no,
                                     int32_t expected_column_count, FlatLine &csv_line,
                                     pltfm_attr_t *key_list_p, pltfm_attr_t *value_list_p,
                                     const ColumnGroups &groups, uint32_t file) noexcept {
    Shape s{PLTFM_SUCCESS, -1, -1};
    s.rc = csv_line.parse(line_p, line_no, value_list_p, &s.cells, &s.nonempty);
    if (!shape_ok(s, expected_column_count) ||
        (s.nonempty != 0 && s.nonempty != expected_column_count)) {
        return format_report(__func__, line_no, expected_column_count, s, "0 or all");
    }
    if (s.nonempty == 0) return PLTFM_SUCCESS;  // separator line

    // Every cell is in the value list now; the port and lane are keys of the line's rows.
    auto set_key = [key_list_p](int idx, const pltfm_attr_t &from) {
        std::memcpy(key_list_p[idx].value, from.value, sizeof from.value);
    };
    set_key(PI_KEY_IDX_FRONT_PORT, value_list_p[1]);
    set_key(PI_KEY_IDX_LANE, value_list_p[2]);

    // One row per group, left to right; a refused row ends the line.
    for (const ColumnGroup &g : groups) {
        std::memcpy(key_list_p[PI_KEY_IDX_SPEED].value, g.speed, sizeof g.speed);
        std::memcpy(key_list_p[PI_KEY_IDX_ENCODING].value, g.encoding, sizeof g.encoding);
        const pltfm_status_t rc = database::add_loaded_row(
            tree, key_list_p, value_list_p + (g.first - 1),
            static_cast<uint32_t>(g.last - g.first + 1),
            database::RowSource{file, static_cast<uint32_t>(line_no)});
        if (rc != PLTFM_SUCCESS) {
            PLTFM_LOG(
                "line %d database add failed for CABLE TYPE (%s) VENDOR (%s) SPEED (%s) "
                "ENCODING (%s) FRONT PORT (%s) LANE (%s)",
                line_no, key_list_p[PI_KEY_IDX_CABLE_TYPE].value,
                key_list_p[PI_KEY_IDX_VENDOR].value, key_list_p[PI_KEY_IDX_SPEED].value,
                key_list_p[PI_KEY_IDX_ENCODING].value, key_list_p[PI_KEY_IDX_FRONT_PORT].value,
                key_list_p[PI_KEY_IDX_LANE].value);
            return rc;
        }
    }
    return PLTFM_SUCCESS;
}

}  // namespace pltfm::csv
