// The checks of `pltfmctl lint` beyond the loader's own rules, each returning findings that
// name file and line: lane order and duplicated lanes, keys no lookup ever asks for, values
// that translation silently turns into other numbers, entries the loader skips without a
// word, and (with the ports of a port_config.ini) ports left with too few lane lines.
#pragma once

#include <string>
#include <vector>

#include "coverage.h"
#include "finding.h"
#include "tuning_rows.h"

namespace pltfm::tuning {

// A port's lane lines must read 0, 1, 2, ... in file order (lookups take lanes by
// position); the same lane twice fails the load, and is located here with both lines.
std::vector<Finding> check_lane_order(const TuningRows &rows);

// Cable types, lane-speed classes (with their encoding) and front ports that the library
// never looks up: their rows can never reach a port.
std::vector<Finding> check_unused_keys(const TuningRows &rows);

// Values that reach the SDK as something else: a number that is not a whole number or does
// not fit the record's field, an effort other than LOW, MEDIUM and HIGH, a boolean other than
// TRUE and FALSE. Each row goes through the library's translation.
std::vector<Finding> check_values(const TuningRows &rows);

// Entries named *.csv that the loader skips silently (symbolic links, directories and other
// non-regular files, names shorter than 6 characters).
std::vector<Finding> check_skipped_entries(const std::string &dir);

// Covered ports whose lookup returns fewer lane lines than the port has lanes, or lanes
// other than the port's in order, located at the port's lane lines.
std::vector<Finding> check_port_lanes(const Coverage &coverage, const TuningRows &rows);

// Every check that needs no port list, in a stable order (file, line, check).
std::vector<Finding> run_file_checks(const std::string &dir, const TuningRows &rows);

}  // namespace pltfm::tuning
