// Internals of the tuning CSV loader shared by its three source files: the tokenizer, the
// rules of each line, and the directory/file passes. Hidden from the library's ABI; declared
// here so that tests can drive each step on its own.
#pragma once

#include <dirent.h>

#include <cstddef>
#include <cstring>
#include <memory>

#include "attr_value.h"
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
    const char *cell(int32_t column) const noexcept {
        if (column < 1 || column > entry_.token_count) return nullptr;
        return entry_.token_list_p[column - 1];
    }

  private:
    pi_csv_line_entry_t entry_{};
};

// The cells of one data line normalised straight into the value fields that the rows are
// made of, without a heap text per cell: the same cell count, non-empty count, statuses and
// messages as pi_csv_line_parse into an entry of as many slots (unmasked), for the lines
// that are read most.
class FlatLine {
  public:
    FlatLine() = default;
    ~FlatLine() { reset(); }
    FlatLine(const FlatLine &) = delete;
    FlatLine &operator=(const FlatLine &) = delete;

    // Gives the line `slots` cell slots.
    void allocate(int32_t slots) noexcept;
    void reset() noexcept;
    // Tokenizes the line; each non-empty cell k within the slots is stored into the value of
    // fields[k - 1] (cut to 23 characters, zero after it). The fields of empty cells and of
    // cells beyond the slots are left as they were.
    pltfm_status_t parse(const char *line_p, int32_t line_no, pltfm_attr_t *fields,
                         int32_t *actual_token_count_p, int32_t *nonempty_token_count_p) noexcept;

  private:
    int32_t slots_ = 0;
    char *text_ = nullptr;  // the line being parsed; grows to the longest line plus padding
    std::size_t text_size_ = 0;
};

// The column groups of a file as its lines 3 and 4 define them, worked out once per file:
// each data line adds one row per group, under the group's speed and encoding.
struct ColumnGroup {
    int32_t first;  // 1-based columns first..last
    int32_t last;
    // Line 4's texts as stored in a row's keys (empty for none): the group's speed, and the
    // encoding in effect when the group is added.
    char speed[PLTFM_ATTR_VALUE_LEN];
    char encoding[PLTFM_ATTR_VALUE_LEN];
};

class ColumnGroups {
  public:
    ColumnGroups() = default;
    ~ColumnGroups();
    ColumnGroups(const ColumnGroups &) = delete;
    ColumnGroups &operator=(const ColumnGroups &) = delete;

    // Room for the groups of `columns` columns; false when it cannot be had.
    bool allocate(int32_t columns) noexcept;
    // Walks line 3 from column 4: a SPEED cell opens a group (closing the one before), an
    // ENCODING cell sets the encoding of the groups added after it.
    void build(int32_t expected_column_count, const LineEntry &csv_line_3,
               const LineEntry &csv_line_4) noexcept;
    const ColumnGroup *begin() const noexcept { return groups_; }
    const ColumnGroup *end() const noexcept { return groups_ + count_; }

  private:
    ColumnGroup *groups_ = nullptr;
    int32_t capacity_ = 0;
    int32_t count_ = 0;
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
// Adds one row per column group of a data line to the tree; `file` is the file's index in
// the tree's file names.
pltfm_status_t pi_csv_line_n_process(database::Tree &tree, const char *line_p, int32_t line_no,
                                     int32_t expected_column_count, FlatLine &csv_line,
                                     pltfm_attr_t *key_list_p, pltfm_attr_t *value_list_p,
                                     const ColumnGroups &groups, uint32_t file) noexcept;

// ---- directory and file passes ----

// The second pass over one file, line by line: line 1 to 5 set up the keys and columns, every
// later line adds its rows to the tree. Keeps what the header lines gave between lines.
class FilePass {
  public:
    // `file`: the file's index in the tree's file names.
    FilePass(int32_t expected_column_count, uint32_t file) noexcept;
    FilePass(const FilePass &) = delete;
    FilePass &operator=(const FilePass &) = delete;

    // False when the line entries or the value list could not be allocated.
    bool allocated() const noexcept { return allocated_; }
    // Processes the file's next line (the first call is line 1); the line's rows go into
    // `tree`. The line rules log what they refuse.
    pltfm_status_t next_line(database::Tree &tree, const char *line) noexcept;
    int32_t line_no() const noexcept { return csv_line_.get()->line_no; }

  private:
    struct ValueListFree {
        void operator()(pltfm_attr_t *p) const noexcept;
    };
    int32_t columns_;
    uint32_t file_;
    bool allocated_ = false;
    LineEntry csv_line_;
    LineEntry csv_line_3_;
    LineEntry csv_line_4_;
    FlatLine data_line_;
    ColumnGroups groups_;
    std::unique_ptr<pltfm_attr_t, ValueListFree> value_list_;
    pltfm_attr_t key_list_[PI_KEY_IDX_MAX] = {};
};

pltfm_status_t pi_csv_file_get_count(const char *dir_path_p, int32_t *file_count_p) noexcept;
pltfm_status_t pi_csv_file_get_list(const char *dir_path_p, int32_t file_count,
                                    pi_csv_file_entry_t *csv_file_list_p) noexcept;
pltfm_status_t pi_csv_file_check(const char *file_path_p, int32_t *actual_column_count_p,
                                 int32_t *actual_line_count_p) noexcept;
pltfm_status_t pi_csv_file_process_all(database::Tree &tree, int32_t file_count,
                                       const pi_csv_file_entry_t *csv_file_list_p) noexcept;
pltfm_status_t pi_csv_file_process(database::Tree &tree, const char *file_path_p,
                                   int32_t expected_column_count, uint32_t file_index = 0) noexcept;
// Lists, checks and loads every tuning file of the directory into the tree.
pltfm_status_t pi_csv_file_parse_all(database::Tree &tree, const char *dir_path_p) noexcept;

// True for a directory entry name that is a tuning file name (6 or more characters ending
// in ".CSV" in any letter case).
bool is_tuning_file_name(const char *name) noexcept;
// True for a directory entry the loader reads: a regular file (as the listing reports its
// type, so not a symbolic link) with a tuning file name. Every other entry is skipped silently.
bool is_tuning_file_entry(const struct dirent *entry) noexcept;

}  // namespace pltfm::csv
