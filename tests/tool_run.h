// Runs a built tool as a separate process and collects its exit status, standard output and
// standard error, for the tests of pltfmctl and pltfm-sim.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_util.h"

namespace pltfm::test {

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

inline std::string shell_quote(const std::string &arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs build/tools/<name> with `args`, standard input empty.
inline ToolRun run_tool(const std::string &name, const std::vector<std::string> &args) {
    TempDir dir;
    std::string cmd = shell_quote(std::string(PLTFM_BINARY_DIR) + "/tools/" + name);
    for (const auto &a : args) cmd += " " + shell_quote(a);
    cmd += " >" + shell_quote(dir / "out") + " 2>" + shell_quote(dir / "err") + " </dev/null";
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(dir / "out"),
            read_file(dir / "err")};
}

}  // namespace pltfm::test
