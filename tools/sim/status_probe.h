// What `pltfmctl status` says about the simulated switch. pltfm-sim runs the operator's tool
// as an operator would, in its own process against the switch's Redis and platform tree (the
// environment the simulation set up: PLTFM_ROOT, PLTFM_REDIS or the redis-cli on PATH), and
// keeps its JSON document; the tables it prints are drawn from that document by the tool's
// own code.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace pltfm::sim {

struct StatusSnapshot {
    std::string after;  // the step it was taken after
    int exit_code = -1;
    nlohmann::json doc;  // every port; {"ok": false, "error": ...} when the tool failed
    std::string error;   // why there is no document
};

// Runs `pltfmctl status --json` (the tool at `pltfmctl`).
StatusSnapshot take_status(const std::string &pltfmctl, const std::string &after);

nlohmann::json snapshot_json(const StatusSnapshot &s);

}  // namespace pltfm::sim
