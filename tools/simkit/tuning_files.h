// Generated tuning files: tables shaped like the sample directory (three column groups, one
// line per port lane) in any number, and the two pathological shapes that once made loading
// quadratic (many front ports, one port with many lanes). No library code in here.
#pragma once

#include <cstddef>
#include <string>

namespace pltfm::test {

// One group, `rows` data lines: every line its own front port ("0", "1", ...), lane 0.
std::string many_ports_table(int rows);
// One group, `rows` data lines: front port 0, lanes 0, 1, 2, ...
std::string many_lanes_table(int rows);

// Writes sample-shaped tables of distinct vendors into dir until about `bytes` bytes are
// written; returns the bytes written (0 when a file could not be written).
std::size_t write_tuning_dir(const std::string &dir, std::size_t bytes);

}  // namespace pltfm::test
