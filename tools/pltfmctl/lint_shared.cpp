// Port configuration and JSON of lint findings and coverage.
#include "lint_shared.h"

#include <iostream>

namespace pltfm::ctl {

void add_lint_inputs(CLI::App &sub, LintInputs &in, const std::string &coverage_use) {
    sub.add_option("DIR", in.dir, "Tuning directory (the files *.csv in it)")
        ->required()
        ->check(CLI::ExistingDirectory);
    sub.add_option("--port-config", in.port_config,
                   "port_config.ini of the switch: " + coverage_use)
        ->check(CLI::ExistingFile);
    sub.add_option("--cable-types", in.cable_types,
                   "Cable types the coverage covers (default: those in DIR), e.g. "
                   "OPTICS,DAC_1M,DAC_3M")
        ->delimiter(',');
}

std::optional<tuning::LintResult> lint_inputs(const std::string &command, const LintInputs &in) {
    std::optional<std::vector<tools::Port>> ports;
    if (!in.port_config.empty()) {
        tools::PortConfig config = tools::read_port_config(in.port_config);
        if (!config.readable || config.ports.empty()) {
            std::cerr << "pltfmctl " << command << ": " << in.port_config
                      << (config.readable ? " lists no port of this board" : " cannot be read")
                      << '\n';
            return std::nullopt;
        }
        ports = std::move(config.ports);
    }
    return tuning::lint_directory(in.dir, ports, in.cable_types);
}

nlohmann::json findings_json(const std::vector<tuning::Finding> &findings) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto &f : findings)
        out.push_back(
            {{"check", f.check}, {"file", f.file}, {"line", f.line}, {"message", f.message}});
    return out;
}

nlohmann::json coverage_json(const tuning::Coverage &cov) {
    nlohmann::json cells = nlohmann::json::array();
    for (const auto &c : cov.cells) {
        cells.push_back({{"port", c.port.intf},
                         {"front_port", c.port.front_port},
                         {"start_lane", c.port.start_lane},
                         {"lanes", c.port.lanes},
                         {"speed", c.port.speed},
                         {"lane_speed", c.speed},
                         {"encoding", c.encoding},
                         {"cable_type", c.cable_type},
                         {"status", tuning::coverage_status_text(c.status)},
                         {"hole", c.hole()},
                         {"missing", c.missing},
                         {"lane_lines", c.lanes}});
    }
    return {{"cable_types", cov.cable_types},
            {"ports", cov.ports},
            {"holes", cov.hole_count()},
            {"cells", cells}};
}

}  // namespace pltfm::ctl
