// Copies of the sample tuning directory for the tool tests, with line and cell edits on their
// files ("broken copies"), and small checks on the tools' output.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace pltfm::test {

inline const std::string kSampleDir = PLTFM_EXAMPLES_DIR "/platform/CSV";

// Copies the sample directory's files into `dir` (created when missing).
inline void copy_sample(const std::string &dir) {
    make_dirs(dir);
    for (const auto &e : std::filesystem::directory_iterator(kSampleDir))
        std::filesystem::copy_file(e.path(), std::filesystem::path(dir) / e.path().filename(),
                                   std::filesystem::copy_options::overwrite_existing);
}

inline std::vector<std::string> file_lines(const std::string &path) {
    std::istringstream in(read_file(path));
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

inline void write_lines(const std::string &path, const std::vector<std::string> &lines) {
    std::string text;
    for (const auto &l : lines) text += l + "\n";
    write_file(path, text);
}

// Sets the cell at 1-based `column` of 1-based `line`.
inline void set_cell(const std::string &path, int line, int column, const std::string &text) {
    auto lines = file_lines(path);
    ASSERT_LE(static_cast<std::size_t>(line), lines.size()) << path;
    std::vector<std::string> cells;
    std::stringstream in(lines[static_cast<std::size_t>(line - 1)]);
    for (std::string c; std::getline(in, c, ',');) cells.push_back(c);
    ASSERT_LE(static_cast<std::size_t>(column), cells.size()) << path << ":" << line;
    cells[static_cast<std::size_t>(column - 1)] = text;
    std::string joined;
    for (std::size_t i = 0; i < cells.size(); ++i) joined += (i ? "," : "") + cells[i];
    // A line of empty trailing cells keeps its commas.
    const std::string &old = lines[static_cast<std::size_t>(line - 1)];
    while (std::count(joined.begin(), joined.end(), ',') < std::count(old.begin(), old.end(), ','))
        joined += ',';
    lines[static_cast<std::size_t>(line - 1)] = joined;
    write_lines(path, lines);
}

// Removes lines first..last (1-based, inclusive).
inline void delete_lines(const std::string &path, int first, int last) {
    auto lines = file_lines(path);
    lines.erase(lines.begin() + first - 1, lines.begin() + last);
    write_lines(path, lines);
}

inline ::testing::AssertionResult has(const std::string &text, const std::string &needle) {
    if (text.find(needle) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << needle << "\" in:\n" << text;
}

}  // namespace pltfm::test
