// The comma tokenizer of the tuning files and the line entry that owns its cell texts.
// No quoting or escaping: every comma separates, and a line ends at its first NUL, LF or CR.
#include <algorithm>
#include <array>
#include <cstring>

#include "alloc.h"
#include "log.h"
#include "pi_csvfile_internal.h"

namespace pltfm::csv {

namespace {

// White space and case are those of the "C" locale whatever locale the host set: only
// ASCII letters change case.
constexpr bool is_blank(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\n' || c == '\r';
}
constexpr char to_upper(char c) noexcept {
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}
constexpr bool ends_line(char c) noexcept {
    return c == '\0' || c == '\n' || c == '\r';
}

// Character classes of the one-pass tokenizer of data lines, and the upper-case table.
enum class CharClass : uint8_t { plain, blank, comma, end };
constexpr auto kCharClass = [] {
    std::array<CharClass, 256> t{};
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        t[static_cast<std::size_t>(c)] = ends_line(ch)  ? CharClass::end
                                         : ch == ','    ? CharClass::comma
                                         : is_blank(ch) ? CharClass::blank
                                                        : CharClass::plain;
    }
    return t;
}();
constexpr auto kUpper = [] {
    std::array<char, 256> t{};
    for (int c = 0; c < 256; ++c) t[static_cast<std::size_t>(c)] = to_upper(static_cast<char>(c));
    return t;
}();

}  // namespace

bool LineEntry::allocate(int32_t line_no, int32_t slots) noexcept {
    reset();
    entry_.line_no = line_no;
    if (slots <= 0) return true;
    auto *list =
        static_cast<char **>(mem::alloc_zeroed(static_cast<std::size_t>(slots), sizeof(char *)));
    if (list == nullptr) return false;
    entry_.token_list_p = list;
    entry_.token_count = slots;
    return true;
}

void LineEntry::clear_tokens() noexcept {
    for (int32_t i = 0; i < entry_.token_count; ++i) {
        mem::release(entry_.token_list_p[i]);
        entry_.token_list_p[i] = nullptr;
    }
}

void LineEntry::reset() noexcept {
    clear_tokens();
    mem::release(entry_.token_list_p);
    entry_.token_list_p = nullptr;
    entry_.token_count = 0;
}

namespace {

// The raw length limit of a cell, reported on behalf of the cell copier.
pltfm_status_t check_cell_length(std::size_t raw_length) noexcept {
    if (raw_length <= kMaxCellLength) return PLTFM_SUCCESS;
    PLTFM_LOG_AS("pi_csv_line_token_copy",
                 "length mismatch getting value. max length %d, provided length %d",
                 static_cast<int>(kMaxCellLength),
                 raw_length > INT32_MAX ? INT32_MAX : static_cast<int>(raw_length));
    return PLTFM_CONFIG;
}

// Writes line_p[start, end) into out (room for end - start + 1 characters) with white space
// trimmed at both ends and ASCII letters upper-cased; returns its length, 0 for empty.
std::size_t normalise(const char *line_p, std::size_t start, std::size_t end, char *out) noexcept {
    while (end > start && is_blank(line_p[end - 1])) --end;
    while (start < end && is_blank(line_p[start])) ++start;
    const std::size_t length = end - start;
    for (std::size_t i = 0; i < length; ++i) out[i] = to_upper(line_p[start + i]);
    out[length] = '\0';
    return length;
}

// The end of a line with more cells (commas + 1) than slots.
pltfm_status_t more_cells_than_slots(int32_t line_no, int64_t commas, int32_t capacity, bool masked,
                                     int32_t *actual_token_count_p) noexcept {
    const int32_t cells = commas + 1 > INT32_MAX ? INT32_MAX : static_cast<int32_t>(commas + 1);
    if (!masked) {
        PLTFM_LOG_AS("pi_csv_line_parse",
                     "length mismatch getting values in line %d. required count %d, provided "
                     "count %d",
                     line_no, cells, capacity);
    }
    *actual_token_count_p = cells;
    return PLTFM_LENGTH_MISMATCH;
}

}  // namespace

pltfm_status_t pi_csv_line_token_copy(const char *line_p, std::size_t start_idx,
                                      std::size_t end_idx, char **token_p) noexcept {
    *token_p = nullptr;
    const pltfm_status_t rc = check_cell_length(end_idx - start_idx);
    if (rc != PLTFM_SUCCESS) return rc;
    char buf[kMaxCellLength + 1];
    if (normalise(line_p, start_idx, end_idx, buf) == 0) return PLTFM_SUCCESS;
    char *copy = mem::dup_string(buf);
    if (copy == nullptr) {
        PLTFM_LOG("strdup failed");
        return PLTFM_MEMORY;
    }
    *token_p = copy;
    return PLTFM_SUCCESS;
}

pltfm_status_t pi_csv_line_parse(const char *line_p, pi_csv_line_entry_t *csv_line_p,
                                 int32_t *actual_token_count_p, int32_t *nonempty_token_count_p,
                                 bool mask_length_mismatch_log) noexcept {
    *nonempty_token_count_p = 0;
    const int32_t capacity = csv_line_p->token_count;
    const int32_t line_no = csv_line_p->line_no;
    if (capacity <= 0) {
        // Nothing to store: only the cells are counted (the first pass over every line).
        const char *end = line_p + std::strcspn(line_p, "\r\n");
        return more_cells_than_slots(line_no, std::count(line_p, end, ','), capacity,
                                     mask_length_mismatch_log, actual_token_count_p);
    }
    int64_t index = 0;  // 64-bit: a pathological line cannot overflow the count
    std::size_t start = 0;
    std::size_t pos = 0;
    // Stores the cell [start, pos) into slot `index`; a failure is reported for its column.
    auto store = [&]() -> pltfm_status_t {
        char *text = nullptr;
        if (pos > start) {
            const pltfm_status_t rc = pi_csv_line_token_copy(line_p, start, pos, &text);
            if (rc != PLTFM_SUCCESS) {
                PLTFM_LOG_AS("pi_csv_line_parse", "error processing value in line %d column %d",
                             line_no, static_cast<int>(index + 1));
                return rc;
            }
        }
        mem::release(csv_line_p->token_list_p[index]);
        csv_line_p->token_list_p[index] = text;
        if (text != nullptr) ++*nonempty_token_count_p;
        return PLTFM_SUCCESS;
    };
    for (; !ends_line(line_p[pos]); ++pos) {
        if (line_p[pos] != ',') continue;
        if (index < capacity) {
            const pltfm_status_t rc = store();
            if (rc != PLTFM_SUCCESS) return rc;
        }
        ++index;
        start = pos + 1;
    }
    if (index >= capacity) {
        return more_cells_than_slots(line_no, index, capacity, mask_length_mismatch_log,
                                     actual_token_count_p);
    }
    const pltfm_status_t rc = store();
    if (rc != PLTFM_SUCCESS) return rc;
    *actual_token_count_p = static_cast<int32_t>(index + 1);
    return PLTFM_SUCCESS;
}

bool FlatLine::allocate(int32_t slots) noexcept {
    reset();
    if (slots <= 0) return true;
    cells_ = static_cast<Cell *>(mem::alloc_zeroed(static_cast<std::size_t>(slots), sizeof(Cell)));
    if (cells_ == nullptr) return false;
    slots_ = slots;
    return true;
}

void FlatLine::reset() noexcept {
    mem::release(cells_);
    mem::release(text_);
    cells_ = nullptr;
    text_ = nullptr;
    slots_ = 0;
    text_size_ = 0;
}

// One pass over the line: each character is classified by table, copied upper-cased into the
// buffer at its own position, and each cell is trimmed where it ends. The same cells,
// statuses and messages as pi_csv_line_parse (the tokenizer fuzzer checks that they agree).
pltfm_status_t FlatLine::parse(const char *line_p, int32_t line_no, int32_t *actual_token_count_p,
                               int32_t *nonempty_token_count_p) noexcept {
    *nonempty_token_count_p = 0;
    for (int32_t i = 0; i < slots_; ++i) cells_[i] = Cell{nullptr, 0};
    // Each stored cell takes at most its raw characters and a terminator; the padding lets
    // copy_cell read a whole value field from any cell.
    const std::size_t needed = std::strlen(line_p) + 1 + PLTFM_ATTR_VALUE_LEN;
    if (needed > text_size_) {
        auto *text = static_cast<char *>(mem::alloc_zeroed(needed, 1));
        if (text == nullptr) {
            PLTFM_LOG_AS("pi_csv_line_parse", "malloc failed");
            return PLTFM_MEMORY;
        }
        mem::release(text_);
        text_ = text;
        text_size_ = needed;
    }
    int64_t index = 0;
    std::size_t start = 0;
    for (std::size_t pos = 0;; ++pos) {
        const auto c = static_cast<unsigned char>(line_p[pos]);
        const CharClass kind = kCharClass[c];
        if (kind == CharClass::plain || kind == CharClass::blank) {
            text_[pos] = kUpper[c];
            continue;
        }
        if (index < slots_ && pos > start) {
            const pltfm_status_t rc = check_cell_length(pos - start);
            if (rc != PLTFM_SUCCESS) {
                PLTFM_LOG_AS("pi_csv_line_parse", "error processing value in line %d column %d",
                             line_no, static_cast<int>(index + 1));
                return rc;
            }
            std::size_t b = start, e = pos;
            while (e > b &&
                   kCharClass[static_cast<unsigned char>(line_p[e - 1])] == CharClass::blank)
                --e;
            while (b < e && kCharClass[static_cast<unsigned char>(line_p[b])] == CharClass::blank)
                ++b;
            if (b < e) {
                text_[e] = '\0';  // over a trailing blank or the separator: never another cell
                cells_[index] = Cell{text_ + b, e - b};
                ++*nonempty_token_count_p;
            }
        }
        if (kind == CharClass::end) break;
        ++index;
        start = pos + 1;
    }
    if (index >= slots_) {
        return more_cells_than_slots(line_no, index, slots_, false, actual_token_count_p);
    }
    *actual_token_count_p = static_cast<int32_t>(index + 1);
    return PLTFM_SUCCESS;
}

}  // namespace pltfm::csv
