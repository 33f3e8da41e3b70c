// A tuning directory checked as `pltfmctl lint` checks it: the loader's verdict and messages,
// the rows traced to file and line, the findings of every check and, for configured ports,
// their coverage. The report command draws the same results.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "board_ports.h"
#include "coverage.h"
#include "finding.h"
#include "tuning_rows.h"

namespace pltfm::tuning {

struct LintResult {
    pltfm_status_t status = PLTFM_SUCCESS;  // the loader's verdict on the whole directory
    std::string messages;                   // the loader's messages
    bool has_rows = false;                  // the load added rows
    TuningRows rows;
    std::vector<Finding> findings;
    std::optional<Coverage> coverage;  // with ports, when the directory loads
    bool valid() const { return status == PLTFM_SUCCESS; }
    bool clean() const {
        return valid() && findings.empty() && (!coverage || coverage->hole_count() == 0);
    }
};

// Loads `dir` with the library's loader and runs every check; with `ports`, also their
// coverage for `cable_types` (any letter case; empty: the cable types the directory has, or
// the four the library identifies when it has none).
LintResult lint_directory(const std::string &dir,
                          const std::optional<std::vector<tools::Port>> &ports,
                          std::vector<std::string> cable_types);

}  // namespace pltfm::tuning
