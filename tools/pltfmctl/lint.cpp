// pltfmctl lint DIR: loads a tuning directory with the library's loader (both passes, every
// rule), shows the library's messages on standard error and a one-line verdict; then the
// checks the loader does not make (lane order, keys never looked up, values translation would
// change, entries skipped silently) and, with a port_config.ini, the coverage of its ports.
#include <algorithm>
#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "board_ports.h"
#include "commands.h"
#include "coverage.h"
#include "lint_checks.h"
#include "loaded_tree.h"
#include "names.h"
#include "platform_database.h"
#include "stderr_capture.h"
#include "text_lines.h"
#include "tuning_rows.h"

namespace pltfm::ctl {

namespace {

struct LintOptions {
    std::string dir;
    std::string port_config;
    std::vector<std::string> cable_types;
    bool json = false;
};

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

// The holes as a table: port, front port, lanes, class, cable type, and why.
void print_holes(std::ostream &out, const tuning::Coverage &cov) {
    const std::size_t ports = cov.ports;
    std::string types;
    for (const auto &t : cov.cable_types) types += (types.empty() ? "" : ", ") + t;
    out << "coverage: " << ports << " port" << (ports == 1 ? "" : "s") << " x "
        << cov.cable_types.size() << " cable type" << (cov.cable_types.size() == 1 ? "" : "s")
        << " (" << types << "): " << cov.hole_count() << " hole"
        << (cov.hole_count() == 1 ? "" : "s") << '\n';
    if (cov.hole_count() == 0) return;
    out << std::left << "  " << std::setw(12) << "PORT" << std::setw(11) << "FRONT PORT"
        << std::setw(7) << "LANES" << std::setw(15) << "CLASS" << std::setw(11) << "CABLE TYPE"
        << "PROBLEM\n";
    for (const auto &c : cov.cells) {
        if (!c.hole()) continue;
        std::string problem = tuning::coverage_status_text(c.status);
        if (!c.missing.empty()) problem += ": " + c.missing;
        if (c.status == tuning::CoverageStatus::no_lane_class)
            problem += ": " + std::to_string(c.port.speed) + " over " +
                       std::to_string(c.port.lanes) + " lanes";
        if (c.status == tuning::CoverageStatus::too_few_lanes ||
            c.status == tuning::CoverageStatus::lanes_misplaced) {
            std::string lanes;
            for (const auto &l : c.lanes) lanes += (lanes.empty() ? "" : ",") + l;
            problem += ": lane lines " + (lanes.empty() ? std::string("none") : lanes);
        }
        const std::string cls = c.speed.empty() ? "-" : c.speed + " " + c.encoding;
        out << "  " << std::setw(12) << c.port.intf << std::setw(11) << c.port.front_port
            << std::setw(7)
            << (std::to_string(c.port.start_lane) + "-" +
                std::to_string(c.port.start_lane + c.port.lanes - 1))
            << std::setw(15) << cls << std::setw(11) << c.cable_type << problem << '\n';
    }
    out << std::right;
}

int run_lint(const LintOptions &opt) {
    std::optional<tools::PortConfig> config;
    if (!opt.port_config.empty()) {
        config = tools::read_port_config(opt.port_config);
        if (!config->readable || config->ports.empty()) {
            std::cerr << "pltfmctl lint: " << opt.port_config
                      << (config->readable ? " lists no port of this board" : " cannot be read")
                      << '\n';
            return kExitUsage;
        }
    }

    pltfm_status_t rc;
    std::string messages;
    {
        tools::StderrCapture capture;
        rc = pltfm_parser_database_init(opt.dir.c_str());
        messages = capture.finish();
    }
    bool has_rows = false;
    if (rc == PLTFM_SUCCESS) {
        // A load that added no row leaves the database empty; teardown then says so.
        tools::StderrCapture quiet;
        has_rows = pltfm_parser_database_deinit() == PLTFM_SUCCESS;
    }
    const bool valid = rc == PLTFM_SUCCESS;

    const tuning::TuningRows rows = tuning::read_tuning_rows(opt.dir);
    std::vector<tuning::Finding> findings = tuning::run_file_checks(opt.dir, rows);
    std::optional<tuning::Coverage> coverage;
    if (config && valid) {
        const tuning::LoadedTree tree(opt.dir);
        std::vector<std::string> types = opt.cable_types;
        for (auto &t : types)
            std::transform(t.begin(), t.end(), t.begin(),
                           [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
        if (types.empty()) types = tuning::cable_types_in(tree.tree());
        // A directory without rows leaves every port without tuning for every cable type.
        if (types.empty()) types = tuning::identified_cable_types();
        coverage = tuning::check_coverage(tree.tree(), config->ports, types);
        auto more = tuning::check_port_lanes(*coverage, rows);
        findings.insert(findings.end(), more.begin(), more.end());
    }
    const std::size_t holes = coverage ? coverage->hole_count() : 0;
    const bool clean = valid && findings.empty() && holes == 0;

    std::cerr << messages << std::flush;
    if (opt.json) {
        nlohmann::json jfindings = nlohmann::json::array();
        for (const auto &f : findings)
            jfindings.push_back(
                {{"check", f.check}, {"file", f.file}, {"line", f.line}, {"message", f.message}});
        nlohmann::json out = {
            {"directory", opt.dir},
            {"valid", valid},
            {"status", rc},
            {"status_name", tools::status_name(rc)},
            {"tuning_files", rows.files},
            {"has_rows", has_rows},
            {"messages", tools::split_lines(messages)},
            {"findings", jfindings},
            {"coverage", coverage ? coverage_json(*coverage) : nlohmann::json()},
            {"clean", clean},
        };
        std::cout << out.dump(2) << '\n';
        return clean ? kExitOk : kExitInvalid;
    }

    for (const auto &f : findings) std::cout << tuning::located(f) << " [" << f.check << "]\n";
    if (coverage)
        print_holes(std::cout, *coverage);
    else if (config)
        std::cout << "coverage: not checked, the directory does not load\n";
    if (valid) {
        std::cout << opt.dir << ": valid (" << rows.files.size() << " tuning file"
                  << (rows.files.size() == 1 ? "" : "s")
                  << (has_rows ? "" : ", no data rows: the database would be empty") << ")\n";
    } else {
        std::cout << opt.dir << ": INVALID (" << tools::status_name(rc) << ", rc=" << rc
                  << "; the library's messages above name the file and line)\n";
    }
    std::cout << findings.size() << " finding" << (findings.size() == 1 ? "" : "s");
    if (coverage) std::cout << ", " << holes << " coverage hole" << (holes == 1 ? "" : "s");
    std::cout << '\n';
    return clean ? kExitOk : kExitInvalid;
}

}  // namespace

Runner add_lint(CLI::App &app) {
    auto opt = std::make_shared<LintOptions>();
    CLI::App *sub = app.add_subcommand(
        "lint", "Check a tuning directory with the library's own loader and further checks");
    sub->add_option("DIR", opt->dir, "Tuning directory (the files *.csv in it)")
        ->required()
        ->check(CLI::ExistingDirectory);
    sub->add_option("--port-config", opt->port_config,
                    "port_config.ini of the switch: also check every configured port's coverage")
        ->check(CLI::ExistingFile);
    sub->add_option("--cable-types", opt->cable_types,
                    "Cable types the coverage covers (default: those in DIR), e.g. "
                    "OPTICS,DAC_1M,DAC_3M")
        ->delimiter(',');
    sub->add_flag("--json", opt->json,
                  "Print the verdict, messages, findings and coverage as JSON");
    sub->footer(
        "Findings name file and line. Checks: lane-order, duplicate-lane, unused-key, value,\n"
        "skipped-entry; with --port-config also port-lanes and the coverage holes.\n"
        "The library's messages go to standard error, the rest to standard output.\n"
        "Exit status: 0 the directory loads and nothing was found, 1 it does not load or\n"
        "there are findings or holes, 2 usage error.");
    return [opt] { return run_lint(*opt); };
}

}  // namespace pltfm::ctl
