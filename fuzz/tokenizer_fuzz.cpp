// The line tokenizer on any line: byte 0 gives the number of slots (0 to 15), the rest is the
// line. Both forms (heap texts per slot, and the value fields of data lines) must agree
// with each other and with a plain reference split: cell count, statuses, and every stored
// cell trimmed, upper-cased and never longer than 80 raw characters.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "pi_csvfile_internal.h"

namespace {

using pltfm::csv::kMaxCellLength;

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// The cells of the line up to its first NUL, CR or LF, raw.
std::vector<std::string> reference_split(const std::string &line) {
    const std::string text = line.substr(0, line.find_first_of(std::string("\r\n\0", 3)));
    std::vector<std::string> cells(1);
    for (char c : text) {
        if (c == ',')
            cells.emplace_back();
        else
            cells.back().push_back(c);
    }
    return cells;
}

std::string normalised(std::string cell) {
    while (!cell.empty() && blank(cell.back())) cell.pop_back();
    std::size_t b = 0;
    while (b < cell.size() && blank(cell[b])) ++b;
    cell.erase(0, b);
    for (char &c : cell)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return cell;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pltfm::fuzz::Input in(data, size);
    const int32_t slots = in.byte() % 16;
    const std::string line(in.rest());  // terminated copy

    pltfm::csv::LineEntry entry;
    pltfm::csv::FlatLine flat;
    FUZZ_CHECK(entry.allocate(7, slots));
    flat.allocate(slots);
    int32_t cells = -1, nonempty = -1, flat_cells = -1, flat_nonempty = -1;
    // Twice into the same entry: the second parse frees the texts of the first.
    pltfm::csv::pi_csv_line_parse(line.c_str(), entry.get(), &cells, &nonempty, true);
    const pltfm_status_t rc =
        pltfm::csv::pi_csv_line_parse(line.c_str(), entry.get(), &cells, &nonempty, true);
    // Fields that no cell is stored into keep this filler.
    std::vector<pltfm_attr_t> fields(16);
    for (pltfm_attr_t &f : fields) std::memset(f.value, 'x', sizeof f.value);
    const pltfm_status_t flat_rc =
        flat.parse(line.c_str(), 7, fields.data(), &flat_cells, &flat_nonempty);

    const std::vector<std::string> ref = reference_split(line);
    const std::size_t stored = std::min<std::size_t>(ref.size(), static_cast<std::size_t>(slots));
    bool too_long = false;
    for (std::size_t i = 0; i < stored; ++i) too_long = too_long || ref[i].size() > kMaxCellLength;

    FUZZ_CHECK(rc == flat_rc);
    FUZZ_CHECK(nonempty == flat_nonempty);
    if (too_long) {
        FUZZ_CHECK(rc == PLTFM_CONFIG);
        return 0;
    }
    FUZZ_CHECK(rc == (ref.size() > static_cast<std::size_t>(slots) ? PLTFM_LENGTH_MISMATCH
                                                                   : PLTFM_SUCCESS));
    FUZZ_CHECK(cells == static_cast<int32_t>(ref.size()) && flat_cells == cells);
    int32_t filled = 0;
    for (int32_t c = 1; c <= slots; ++c) {
        const std::size_t i = static_cast<std::size_t>(c - 1);
        const std::string want = i < ref.size() ? normalised(ref[i]) : "";
        const char *got = entry.cell(c);
        FUZZ_CHECK(want.empty() ? got == nullptr : (got != nullptr && want == got));
        // As a value field: the first 23 characters, zero after them; untouched when empty.
        const char *field = fields[i].value;
        if (want.empty()) {
            for (std::size_t k = 0; k < PLTFM_ATTR_VALUE_LEN; ++k) FUZZ_CHECK(field[k] == 'x');
        } else {
            const std::string cut = want.substr(0, PLTFM_ATTR_VALUE_LEN - 1);
            FUZZ_CHECK(std::memcmp(field, cut.data(), cut.size()) == 0);
            for (std::size_t k = cut.size(); k < PLTFM_ATTR_VALUE_LEN; ++k)
                FUZZ_CHECK(field[k] == '\0');
        }
        filled += got != nullptr;
    }
    FUZZ_CHECK(filled == nonempty);
    return 0;
}
