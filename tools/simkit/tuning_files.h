// Generated tuning files: tables shaped like the sample directory (three column groups, one
// line per port lane) in any number, and the two pathological shapes that once made loading
// quadratic (many front ports, one port with many lanes). No library code in here.
#pragma once

#include <cstddef>
#include <string>

namespace pltfm::test {

// One table for `cable` and `vendor`: groups 10G/40G NRZ, 25G/100G NRZ and 50G/400G PAM4,
// front ports 0 to ports - 1 with `lanes` lanes each (lanes 0, 1, ... in order), a separator
// line between ports. Values follow simple formulas of port and lane.
std::string tuning_table(const std::string &cable, const std::string &vendor, int ports, int lanes);

// One group, `rows` data lines: every line its own front port ("0", "1", ...), lane 0.
std::string many_ports_table(int rows);
// One group, `rows` data lines: front port 0, lanes 0, 1, 2, ...
std::string many_lanes_table(int rows);

// Writes sample-shaped tables of distinct vendors into dir until about `bytes` bytes are
// written; returns the bytes written (0 when a file could not be written).
std::size_t write_tuning_dir(const std::string &dir, std::size_t bytes);

}  // namespace pltfm::test
