// The subcommands of pltfmctl. Each registers itself on the application and, when chosen,
// runs and returns the process exit code: 0 success, 1 invalid input or nothing found,
// 2 usage error.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace pltfm::ctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitInvalid = 1;
inline constexpr int kExitUsage = 2;

using Runner = std::function<int()>;

Runner add_lint(CLI::App &app);
Runner add_lookup(CLI::App &app);
Runner add_eeprom(CLI::App &app);
Runner add_diff(CLI::App &app);
Runner add_explain(CLI::App &app);
Runner add_report(CLI::App &app);
Runner add_status(CLI::App &app);

}  // namespace pltfm::ctl
