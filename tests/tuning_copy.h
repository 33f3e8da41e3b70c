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

// A line's cells (the tuning files have no quoting).
inline std::vector<std::string> cells_of(const std::string &line) {
    std::vector<std::string> cells;
    std::stringstream in(line);
    for (std::string c; std::getline(in, c, ',');) cells.push_back(c);
    return cells;
}

// Sets the cell at 1-based `column` of 1-based `line`.
inline void set_cell(const std::string &path, int line, int column, const std::string &text) {
    auto lines = file_lines(path);
    ASSERT_LE(static_cast<std::size_t>(line), lines.size()) << path;
    std::vector<std::string> cells = cells_of(lines[static_cast<std::size_t>(line - 1)]);
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

// Line of front port `port`, lane `lane` in a sample file of eight-lane ports: five header
// lines, then per port its lanes and a separator line.
inline int sample_line(int port, int lane) {
    return 6 + 9 * port + lane;
}

// The sample directory with three slips a reviewer looks for: the DAC_1M rows of front port 5
// deleted (a hole), TX_EQ_PRE1 of OPTICS 50G/400G front port 7 lane 2 set to -20 where its
// lane holds -2 to -6 (an outlier), and DAC_3M front port 13 given port 12's values (a repeat).
inline void make_flawed_copy(const std::string &dir) {
    copy_sample(dir);
    delete_lines(dir + "/generic_dac_1m.csv", sample_line(5, 0) - 1, sample_line(5, 7));
    set_cell(dir + "/generic_optics.csv", sample_line(7, 2), 31, "-20");  // 50G group's first
    const std::string dac3 = dir + "/generic_dac_3m.csv";
    auto lines = file_lines(dac3);
    for (int lane = 0; lane < 8; ++lane) {
        auto from = cells_of(lines[static_cast<std::size_t>(sample_line(12, lane) - 1)]);
        auto &to = lines[static_cast<std::size_t>(sample_line(13, lane) - 1)];
        auto cells = cells_of(to);
        std::copy(from.begin() + 3, from.end(), cells.begin() + 3);
        to.clear();
        for (std::size_t i = 0; i < cells.size(); ++i) to += (i ? "," : "") + cells[i];
    }
    write_lines(dac3, lines);
}

// The sample directory with one empty value cell (front port 2 lane 7 of DAC_3M, line 31):
// the whole directory fails to load.
inline void make_broken_copy(const std::string &dir) {
    copy_sample(dir);
    set_cell(dir + "/generic_dac_3m.csv", sample_line(2, 7), 10, "");
}

// Heatmap cells a directory gives: every value cell of every data line (all but the first
// three cells of lines 6 and later that are not separator lines).
inline std::size_t value_cells(const std::string &dir) {
    std::size_t n = 0;
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        const auto lines = file_lines(e.path().string());
        for (std::size_t i = 5; i < lines.size(); ++i)
            if (lines[i].find_first_not_of(',') != std::string::npos)
                n += cells_of(lines[i]).size() - 3;
    }
    return n;
}

inline ::testing::AssertionResult has(const std::string &text, const std::string &needle) {
    if (text.find(needle) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << needle << "\" in:\n" << text;
}

}  // namespace pltfm::test
