// Internals of the tuning CSV loader shared by its three source files: the tokenizer, the
// rules of each line, and the directory/file passes. Hidden from the library's ABI; declared
// here so that tests can drive each step on its own.
#pragma once

#include <cstddef>

#include "pi_csvfile_private.h"
#include "pi_database_internal.h"
#include "platform_types.h"

namespace pltfm::csv {

// Longest cell, in raw characters between its commas.
inline constexpr std::size_t kMaxCellLength = 80;
// Fewest cells line 1 may have.
inline constexpr int32_t kMinColumnCount = 5;

// ---- tokenizer ----

// Splits one line at its commas into the entry's slots (upper-cased, trimmed heap copies,
// null for empty cells). The line ends at the first NUL, LF or CR.
pltfm_status_t pi_csv_line_parse(const char *line_p, pi_csv_line_entry_t *csv_line_p,
                                 int32_t *actual_token_count_p, int32_t *nonempty_token_count_p,
                                 bool mask_length_mismatch_log) noexcept;
// Copies line_p[start_idx, end_idx) normalised; *token_p null when nothing is left.
pltfm_status_t pi_csv_line_token_copy(const char *line_p, std::size_t start_idx,
                                      std::size_t end_idx, char **token_p) noexcept;

// A line entry that owns its slot array and the texts in it.
class LineEntry {
  public:
    LineEntry() = default;
    ~LineEntry() { reset(); }
    LineEntry(const LineEntry &) = delete;
    LineEntry &operator=(const LineEntry &) = delete;

    // Gives the entry `slots` empty slots (none for 0); false when the array cannot be had.
    bool allocate(int32_t line_no, int32_t slots) noexcept;
    // Frees every text and empties the slots; the slot array stays.
    void clear_tokens() noexcept;
    // Frees the texts and the slot array.
    void reset() noexcept;

    pi_csv_line_entry_t *get() noexcept { return &entry_; }
    const pi_csv_line_entry_t *get() const noexcept { return &entry_; }
    // Text of the 1-based column, null when empty or beyond the slots.
    const char *cell(int32_t column) const noexcept;

  private:
    pi_csv_line_entry_t entry_{};
};

// The cells of one data line normalised into a single buffer owned by the line, without a
// heap text per cell: the same cells, counts, statuses and messages as pi_csv_line_parse
// into an entry of as many slots (unmasked), for the lines that are read most.
class FlatLine {
  public:
    FlatLine() = default;
    ~FlatLine() { reset(); }
    FlatLine(const FlatLine &) = delete;
    FlatLine &operator=(const FlatLine &) = delete;

    // Gives the line `slots` cell slots; false when the array cannot be had.
    bool allocate(int32_t slots) noexcept;
    void reset() noexcept;
    pltfm_status_t parse(const char *line_p, int32_t line_no, int32_t *actual_token_count_p,
                         int32_t *nonempty_token_count_p) noexcept;
    // Text of the 1-based column, null when empty or beyond the slots.
    const char *cell(int32_t column) const noexcept;
    // Length of that text (0 when empty).
    std::size_t cell_length(int32_t column) const noexcept;

  private:
    struct Cell {
        const char *text;
        std::size_t length;
    };
    Cell *cells_ = nullptr;
    int32_t slots_ = 0;
    char *text_ = nullptr;  // grows to the longest line
    std::size_t text_size_ = 0;
};

// ---- line rules ----

// Attribute name of line 5 to its key; PLTFM_INVAL for a name that is not in the table.
pltfm_status_t pi_csv_value_to_attr_type_conv(const char *value_p,
                                              pltfm_attr_type_t *type_p) noexcept;

// First pass.
pltfm_status_t pi_csv_line_1_check(const char *line_p, int32_t *actual_column_count_p) noexcept;
pltfm_status_t pi_csv_line_n_check(const char *line_p, int32_t line_no,
                                   int32_t expected_column_count,
                                   int32_t *actual_column_count_p) noexcept;

// Second pass; csv_line_p->line_no is the line's number.
pltfm_status_t pi_csv_line_1_process(const char *line_p, int32_t expected_column_count,
                                     LineEntry &csv_line) noexcept;
pltfm_status_t pi_csv_line_2_process(const char *line_p, int32_t expected_column_count,
                                     LineEntry &csv_line, pltfm_attr_t *key_list_p) noexcept;
pltfm_status_t pi_csv_line_3_process(const char *line_p, int32_t expected_column_count,
                                     LineEntry &csv_line) noexcept;
pltfm_status_t pi_csv_line_4_process(const char *line_p, int32_t expected_column_count,
                                     LineEntry &csv_line, const LineEntry &csv_line_3) noexcept;
pltfm_status_t pi_csv_line_5_process(const char *line_p, int32_t expected_column_count,
                                     LineEntry &csv_line, pltfm_attr_t *value_list_p) noexcept;
// Adds one row per column group of a data line to the tree.
pltfm_status_t pi_csv_line_n_process(database::Tree &tree, const char *line_p, int32_t line_no,
                                     int32_t expected_column_count, FlatLine &csv_line,
                                     pltfm_attr_t *key_list_p, pltfm_attr_t *value_list_p,
                                     const LineEntry &csv_line_3,
                                     const LineEntry &csv_line_4) noexcept;

// ---- directory and file passes ----

pltfm_status_t pi_csv_file_get_count(const char *dir_path_p, int32_t *file_count_p) noexcept;
pltfm_status_t pi_csv_file_get_list(const char *dir_path_p, int32_t file_count,
                                    pi_csv_file_entry_t *csv_file_list_p) noexcept;
pltfm_status_t pi_csv_file_check(const char *file_path_p, int32_t *actual_column_count_p,
                                 int32_t *actual_line_count_p) noexcept;
pltfm_status_t pi_csv_file_process_all(database::Tree &tree, int32_t file_count,
                                       const pi_csv_file_entry_t *csv_file_list_p) noexcept;
pltfm_status_t pi_csv_file_process(database::Tree &tree, const char *file_path_p,
                                   int32_t expected_column_count) noexcept;
// Lists, checks and loads every tuning file of the directory into the tree.
pltfm_status_t pi_csv_file_parse_all(database::Tree &tree, const char *dir_path_p) noexcept;

// True for a directory entry name that is a tuning file name (6 or more characters ending
// in ".CSV" in any letter case).
bool is_tuning_file_name(const char *name) noexcept;

}  // namespace pltfm::csv
