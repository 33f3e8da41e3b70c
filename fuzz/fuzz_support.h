// Helpers of the fuzz harnesses: reading an input front to back, a private scratch directory,
// property checks that abort (so libFuzzer and the replay tests report them), and the shape
// checks of a loaded tuning tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pi_database_internal.h"

// A property every input must keep; a broken one aborts with the condition's text.
#define FUZZ_CHECK(cond) ::pltfm::fuzz::check((cond), #cond, __FILE__, __LINE__)

namespace pltfm::fuzz {

void check(bool ok, const char *what, const char *file, int line);

// Consumes an input: numbers from the front, then the rest.
class Input {
  public:
    Input(const uint8_t *data, std::size_t size) : data_(data), size_(data ? size : 0) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(byte()) << (8 * i);
        return v;
    }
    std::size_t remaining() const { return size_ - pos_; }
    // The next n bytes (fewer at the end).
    std::string_view take(std::size_t n) {
        const std::size_t k = n < remaining() ? n : remaining();
        std::string_view out(reinterpret_cast<const char *>(data_) + pos_, k);
        pos_ += k;
        return out;
    }
    std::string_view rest() { return take(remaining()); }

  private:
    const uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A directory of this process, created at first use and removed at exit.
const std::string &scratch_dir();
// Replaces the file's contents; aborts when it cannot be written.
void write_file(const std::string &path, std::string_view bytes);

// The input as the tuning directory <scratch>/tuning: one file, or two when the text holds
// the line "=====" (the part before it, and the part after). Returns the directory.
const std::string &tuning_dir_from(std::string_view text);
// A directory with one valid tuning file of one row (port "1", lane "0", TX_EQ_MAIN "40").
const std::string &baseline_dir();

// Checks the shape every loaded tree has (levels and their keys, terminated upper-case key
// texts, one tuning list per lane led by its lane marker, no repeated key text in a list)
// and returns the number of rows (lanes with a tuning list).
std::size_t check_tree(const database::Tree &tree);

// TX_EQ_MAIN of the baseline's port through the live facade, or "rc <status>".
std::string baseline_lookup();

}  // namespace pltfm::fuzz

namespace pltfm::fuzz {

// The loader exercised on one input (see tuning_dir_from): a load into a tree of its own,
// a lookup of every port, a reload that swaps the result live, and the teardown. With
// fail_at > 0 the fail_at-th counted allocation of each load fails: a load that met it fails
// with PLTFM_MEMORY and leaves no tree, and a failed reload leaves the live tree as it was.
void exercise_loader(std::string_view text, unsigned long fail_at);

}  // namespace pltfm::fuzz
