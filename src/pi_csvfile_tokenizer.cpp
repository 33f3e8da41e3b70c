// The comma tokenizer of the tuning files and the line entry that owns its cell texts.
// No quoting or escaping: every comma separates, and a line ends at its first NUL, LF or CR.
#include <array>
#include <bit>
#include <cstdint>
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

// Tests on the eight bytes of a word at once. A result has the high bit of each byte that
// passes set and every other bit clear; byte 0 of a word is the first byte in memory.
namespace bytes {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;
constexpr uint64_t kLows = 0x7f7f7f7f7f7f7f7full;

inline uint64_t load(const char *p) noexcept {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    return w;
}
inline void store(char *p, uint64_t w) noexcept {
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    std::memcpy(p, &w, sizeof w);
}
// Bytes below n (n at most 128); no carry crosses a byte.
constexpr uint64_t below(uint64_t w, uint8_t n) noexcept {
    return ~((w & kLows) + kOnes * (0x80 - n)) & ~w & kHighs;
}
constexpr uint64_t equal(uint64_t w, char c) noexcept {
    const uint64_t x = w ^ (kOnes * static_cast<uint8_t>(c));
    return ~(((x & kLows) + kLows) | x) & kHighs;
}
// The word with its ASCII lower-case letters upper-cased.
constexpr uint64_t upper(uint64_t w) noexcept {
    const uint64_t lows = w & kLows;
    const uint64_t lower =
        (lows + kOnes * (0x80 - 'a')) & ~(lows + kOnes * (0x80 - 'z' - 1)) & ~w & kHighs;
    return w ^ (lower >> 2);
}
// Index of the first byte that passed, for a non-zero result.
inline std::size_t first(uint64_t result) noexcept {
    return static_cast<std::size_t>(std::countr_zero(result)) / 8;
}

// Occurrences of c in p[0, n).
inline std::size_t count(const char *p, std::size_t n, char c) noexcept {
    std::size_t found = 0;
    // Each passing byte leaves a 1 in its byte; the multiplication adds them up in the top one.
    for (; n >= 8; p += 8, n -= 8) found += ((equal(load(p), c) >> 7) * kOnes) >> 56;
    for (; n > 0; ++p, --n) found += *p == c;
    return found;
}

}  // namespace bytes

// Stores a normalised cell of len (at least 1) characters into a value field: cut to 23
// characters, zero after them. Reads a whole field at src. Most cells of a data line are
// short numbers, which take one word.
inline void store_cell(char (&dst)[PLTFM_ATTR_VALUE_LEN], const char *src,
                       std::size_t len) noexcept {
    if (len >= 8) {
        set_padded_value(dst, src, len);
        return;
    }
    bytes::store(dst, bytes::load(src) & (~uint64_t{0} >> (64 - 8 * len)));
    std::memset(dst + 8, 0, PLTFM_ATTR_VALUE_LEN - 8);
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
        const std::size_t length = std::strcspn(line_p, "\r\n");
        const auto commas = static_cast<int64_t>(bytes::count(line_p, length, ','));
        return more_cells_than_slots(line_no, commas, capacity, mask_length_mismatch_log,
                                     actual_token_count_p);
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

void FlatLine::allocate(int32_t slots) noexcept {
    slots_ = slots > 0 ? slots : 0;
}

void FlatLine::reset() noexcept {
    mem::release(text_);
    text_ = nullptr;
    slots_ = 0;
    text_size_ = 0;
}

// The line is copied whole and then worked on in place, eight bytes at a time: each word is
// upper-cased as a whole, and only its commas, blanks, line ends and other control
// characters are looked at one by one. The same cells, counts, statuses and messages as
// pi_csv_line_parse (the tokenizer fuzzer checks that they agree).
pltfm_status_t FlatLine::parse(const char *line_p, int32_t line_no, pltfm_attr_t *fields,
                               int32_t *actual_token_count_p,
                               int32_t *nonempty_token_count_p) noexcept {
    *nonempty_token_count_p = 0;
    const std::size_t length = std::strlen(line_p);
    // The padding after the line's NUL lets a word be read from any position up to the NUL,
    // and a whole value field from the start of any cell.
    const std::size_t needed = length + 1 + PLTFM_ATTR_VALUE_LEN;
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
    std::memcpy(text_, line_p, length + 1);

    // Members in locals: the stores into the text could otherwise alias them.
    char *const text = text_;
    const int64_t slots = slots_;
    int32_t nonempty = 0;
    auto blank_at = [text](std::size_t i) {
        return kCharClass[static_cast<unsigned char>(text[i])] == CharClass::blank;
    };
    int64_t index = 0;
    std::size_t start = 0;
    bool blanks = false;  // the current cell has a blank, so it may need trimming
    // Ends the cell [start, pos): stores it when it is within the slots and not empty.
    auto end_cell = [&](std::size_t pos) -> pltfm_status_t {
        if (index >= slots || pos == start) return PLTFM_SUCCESS;
        const pltfm_status_t rc = check_cell_length(pos - start);
        if (rc != PLTFM_SUCCESS) {
            PLTFM_LOG_AS("pi_csv_line_parse", "error processing value in line %d column %d",
                         line_no, static_cast<int>(index + 1));
            return rc;
        }
        std::size_t b = start, e = pos;
        if (blanks) {
            while (e > b && blank_at(e - 1)) --e;
            while (b < e && blank_at(b)) ++b;
            if (b == e) return PLTFM_SUCCESS;
        }
        store_cell(fields[index].value, text + b, e - b);
        ++nonempty;
        return PLTFM_SUCCESS;
    };
    pltfm_status_t rc = PLTFM_SUCCESS;
    for (std::size_t word = 0; rc == PLTFM_SUCCESS; word += 8) {
        const uint64_t w = bytes::load(text + word);
        const uint64_t commas = bytes::equal(w, ',');
        const uint64_t controls = bytes::below(w, 0x21);  // blanks, line ends and the like
        bytes::store(text + word, bytes::upper(w));
        if (controls == 0) {
            // Only commas to look at: most words of a data line.
            for (uint64_t c = commas; c != 0 && rc == PLTFM_SUCCESS; c &= c - 1) {
                const std::size_t pos = word + bytes::first(c);
                rc = end_cell(pos);
                ++index;
                start = pos + 1;
                blanks = false;
            }
            continue;
        }
        for (uint64_t special = commas | controls; special != 0 && rc == PLTFM_SUCCESS;
             special &= special - 1) {
            const std::size_t pos = word + bytes::first(special);
            const CharClass kind = kCharClass[static_cast<unsigned char>(text[pos])];
            if (kind == CharClass::plain) continue;
            if (kind == CharClass::blank) {
                blanks = true;
                continue;
            }
            rc = end_cell(pos);
            if (rc != PLTFM_SUCCESS) break;
            if (kind == CharClass::end) {
                *nonempty_token_count_p = nonempty;
                if (index >= slots) {
                    return more_cells_than_slots(line_no, index, slots_, false,
                                                 actual_token_count_p);
                }
                *actual_token_count_p = static_cast<int32_t>(index + 1);
                return PLTFM_SUCCESS;
            }
            ++index;
            start = pos + 1;
            blanks = false;
        }
    }
    *nonempty_token_count_p = nonempty;
    return rc;
}

}  // namespace pltfm::csv
