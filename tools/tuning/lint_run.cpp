// One lint run over a directory.
#include "lint_run.h"

#include <algorithm>
#include <cctype>

#include "lint_checks.h"
#include "loaded_tree.h"

namespace pltfm::tuning {

LintResult lint_directory(const std::string &dir,
                          const std::optional<std::vector<tools::Port>> &ports,
                          std::vector<std::string> cable_types) {
    LintResult out;
    const LoadedTree tree(dir);
    out.status = tree.status();
    out.messages = tree.messages();
    out.has_rows = tree.tree().serdes_db_p != nullptr;
    out.rows = read_tuning_rows(dir);
    out.findings = run_file_checks(dir, out.rows);
    if (!ports || !out.valid()) return out;

    for (auto &t : cable_types)
        std::transform(t.begin(), t.end(), t.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    if (cable_types.empty()) cable_types = cable_types_in(tree.tree());
    // A directory without rows leaves every port without tuning for every cable type.
    if (cable_types.empty()) cable_types = identified_cable_types();
    out.coverage = check_coverage(tree.tree(), *ports, cable_types);
    auto more = check_port_lanes(*out.coverage, out.rows);
    out.findings.insert(out.findings.end(), more.begin(), more.end());
    return out;
}

}  // namespace pltfm::tuning
