// pltfmctl lint DIR: loads a tuning directory with the library's loader (both passes, every
// rule), shows the library's messages on standard error and a one-line verdict; then the
// checks the loader does not make (lane order, keys never looked up, values translation would
// change, entries skipped silently) and, with a port_config.ini, the coverage of its ports.
#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "json_text.h"
#include "lint_run.h"
#include "lint_shared.h"
#include "names.h"
#include "text_lines.h"

namespace pltfm::ctl {

namespace {

struct LintOptions {
    LintInputs in;
    bool json = false;
};

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
    const std::optional<tuning::LintResult> run = lint_inputs("lint", opt.in);
    if (!run) return kExitUsage;
    const tuning::LintResult &lint = *run;
    const std::string &dir = opt.in.dir;
    const std::size_t holes = lint.coverage ? lint.coverage->hole_count() : 0;
    const std::size_t files = lint.rows.files.size();

    std::cerr << lint.messages << std::flush;
    if (opt.json) {
        nlohmann::json out = {
            {"directory", dir},
            {"valid", lint.valid()},
            {"status", lint.status},
            {"status_name", tools::status_name(lint.status)},
            {"tuning_files", lint.rows.files},
            {"has_rows", lint.has_rows},
            {"messages", tools::split_lines(lint.messages)},
            {"findings", findings_json(lint.findings)},
            {"coverage", lint.coverage ? coverage_json(*lint.coverage) : nlohmann::json()},
            {"clean", lint.clean()},
        };
        std::cout << tools::json_text(out, 2) << '\n';
        return lint.clean() ? kExitOk : kExitInvalid;
    }

    for (const auto &f : lint.findings) std::cout << tuning::located(f) << " [" << f.check << "]\n";
    if (lint.coverage)
        print_holes(std::cout, *lint.coverage);
    else if (!opt.in.port_config.empty())
        std::cout << "coverage: not checked, the directory does not load\n";
    if (lint.valid()) {
        std::cout << dir << ": valid (" << files << " tuning file" << (files == 1 ? "" : "s")
                  << (lint.has_rows ? "" : ", no data rows: the database would be empty") << ")\n";
    } else {
        std::cout << dir << ": INVALID (" << tools::status_name(lint.status)
                  << ", rc=" << lint.status
                  << "; the library's messages above name the file and line)\n";
    }
    const std::size_t n = lint.findings.size();
    std::cout << n << " finding" << (n == 1 ? "" : "s");
    if (lint.coverage) std::cout << ", " << holes << " coverage hole" << (holes == 1 ? "" : "s");
    std::cout << '\n';
    return lint.clean() ? kExitOk : kExitInvalid;
}

}  // namespace

Runner add_lint(CLI::App &app) {
    auto opt = std::make_shared<LintOptions>();
    CLI::App *sub = app.add_subcommand(
        "lint", "Check a tuning directory with the library's own loader and further checks");
    add_lint_inputs(*sub, opt->in, "also check every configured port's coverage");
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
