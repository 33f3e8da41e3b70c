// One run of pltfmctl status from the simulation.
#include "status_probe.h"

#include <sys/wait.h>

#include <cstdio>

namespace pltfm::sim {

StatusSnapshot take_status(const std::string &pltfmctl, const std::string &after) {
    StatusSnapshot s;
    s.after = after;
    // Its messages go nowhere: a failure still prints a JSON document with the reason.
    const std::string cmd = "'" + pltfmctl + "' status --json 2>/dev/null";
    FILE *pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) {
        s.error = "cannot run " + pltfmctl;
        return s;
    }
    std::string text;
    char buf[8192];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) text.append(buf, n);
    const int status = pclose(pipe);
    s.exit_code = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    s.doc = nlohmann::json::parse(text, nullptr, false);
    if (s.doc.is_discarded() || !s.doc.is_object()) {
        s.doc = nlohmann::json();
        s.error =
            pltfmctl + " status gave no JSON document (exit " + std::to_string(s.exit_code) + ")";
    } else if (!s.doc.value("ok", false)) {
        s.error = "pltfmctl status: " + s.doc.value("error", std::string("failed"));
    }
    return s;
}

nlohmann::json snapshot_json(const StatusSnapshot &s) {
    return {{"after", s.after}, {"exit", s.exit_code}, {"error", s.error}, {"doc", s.doc}};
}

}  // namespace pltfm::sim
