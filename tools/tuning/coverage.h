// Coverage of configured ports by a tuning tree: for every port of a port_config.ini and every
// cable type, the lookup port pre-initialisation would make (vendor GENERIC, the port's
// lane-speed class, front port, lane count and start lane), made by the library's own lookup.
#pragma once

#include <string>
#include <vector>

#include "board_ports.h"
#include "pi_database_internal.h"

namespace pltfm::tuning {

enum class CoverageStatus {
    covered,          // one lane block per lane of the port
    no_lane_class,    // speed / lanes is no lane-speed class: the library refuses the port
    no_rows,          // the lookup finds nothing: the port gets no tuning
    too_few_lanes,    // fewer lane lines than the port has lanes: the others get zeros
    lanes_misplaced,  // blocks found, but not the port's lanes in order (position lookup)
    too_many_values,  // more values than pre-initialisation's 280: the lookup fails
};
const char *coverage_status_text(CoverageStatus status);

struct CoverageCell {
    tools::Port port;
    std::string cable_type;
    std::string speed, encoding;  // the port's lane-speed class; empty for no_lane_class
    CoverageStatus status = CoverageStatus::no_rows;
    // For no_rows: the first key the tree lacks, e.g. "FRONT PORT 5", "GENERIC rows".
    std::string missing;
    std::vector<std::string> lanes;  // lane texts of the blocks the lookup returned
    bool hole() const { return status != CoverageStatus::covered; }
};

struct Coverage {
    std::size_t ports = 0;
    std::vector<std::string> cable_types;
    std::vector<CoverageCell> cells;  // port by port, each with every cable type
    std::size_t hole_count() const;
};

// The cable types that have rows in the tree, sorted.
std::vector<std::string> cable_types_in(const database::Tree &tree);
// The cable types module identification answers: OPTICS, DAC_1M, DAC_3M, RJ45.
std::vector<std::string> identified_cable_types();

Coverage check_coverage(const database::Tree &tree, const std::vector<tools::Port> &ports,
                        const std::vector<std::string> &cable_types);

}  // namespace pltfm::tuning
