// The table of `pltfmctl status`, drawn from its JSON document: what each port got as the
// library published it (database 6, PORT_SERDES_STATE|<interface>) beside the OS's view, and
// the disagreements found. pltfmctl prints it, and pltfm-sim prints the same table from the
// document pltfmctl gave it, so both show the same text.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace pltfm::tools {

// Which ports a view shows: every port, only the stale ones, or one interface.
struct StatusFilter {
    bool stale_only = false;
    std::string intf;  // empty: every port
};

// A port of the document is stale: its hash says so and it runs (it was not taken down since,
// which makes its next creation take the new tuning anyway).
bool port_is_stale(const nlohmann::json &port);

// The document with only the ports the filter keeps, its counts ("ports", "flagged", "stale")
// made again for them.
nlohmann::json filter_status(const nlohmann::json &doc, const StatusFilter &filter);

// The table: one line per port, then one line per flag of each flagged port, then a summary.
std::string status_text(const nlohmann::json &doc);

// "4s", "2m05s", "3h07m", "2d04h"; "-" for a negative or missing age.
std::string age_text(double seconds);

}  // namespace pltfm::tools
