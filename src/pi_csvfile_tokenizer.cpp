// The comma tokenizer of the tuning files and the line entry that owns its cell texts.
// No quoting or escaping: every comma separates, and a line ends at its first NUL, LF or CR.
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

const char *LineEntry::cell(int32_t column) const noexcept {
    if (column < 1 || column > entry_.token_count) return nullptr;
    return entry_.token_list_p[column - 1];
}

pltfm_status_t pi_csv_line_token_copy(const char *line_p, std::size_t start_idx,
                                      std::size_t end_idx, char **token_p) noexcept {
    const std::size_t raw_length = end_idx - start_idx;
    if (raw_length > kMaxCellLength) {
        PLTFM_LOG("length mismatch getting value. max length %d, provided length %d",
                  static_cast<int>(kMaxCellLength),
                  raw_length > INT32_MAX ? INT32_MAX : static_cast<int>(raw_length));
        return PLTFM_CONFIG;
    }
    char buf[kMaxCellLength + 1];
    std::memcpy(buf, line_p + start_idx, raw_length);
    buf[raw_length] = '\0';

    std::size_t end = raw_length;
    while (end > 0 && is_blank(buf[end - 1])) --end;
    buf[end] = '\0';
    for (std::size_t i = 0; i < end; ++i) buf[i] = to_upper(buf[i]);
    std::size_t begin = 0;
    while (begin < end && is_blank(buf[begin])) ++begin;

    *token_p = nullptr;
    if (begin == end) return PLTFM_SUCCESS;
    char *copy = mem::dup_string(buf + begin);
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
                             csv_line_p->line_no, static_cast<int>(index + 1));
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

    const int32_t cells = index + 1 > INT32_MAX ? INT32_MAX : static_cast<int32_t>(index + 1);
    if (index < capacity) {
        const pltfm_status_t rc = store();
        if (rc != PLTFM_SUCCESS) return rc;
        *actual_token_count_p = cells;
        return PLTFM_SUCCESS;
    }
    if (!mask_length_mismatch_log) {
        PLTFM_LOG("length mismatch getting values in line %d. required count %d, provided count %d",
                  csv_line_p->line_no, cells, capacity);
    }
    *actual_token_count_p = cells;
    return PLTFM_LENGTH_MISMATCH;
}

}  // namespace pltfm::csv
