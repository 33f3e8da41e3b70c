// pltfmctl report DIR: the lint run of a tuning directory (the loader's verdict, the findings,
// the coverage of configured ports) and its rows as heatmaps per cable type, vendor and
// lane-speed class, with holes, outliers and repeated ports; as one self-contained HTML page
// and/or as JSON.
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "heatmaps.h"
#include "html_page.h"
#include "json_text.h"
#include "lint_run.h"
#include "lint_shared.h"
#include "names.h"
#include "text_lines.h"

namespace pltfm::ctl {

namespace {

struct ReportOptions {
    LintInputs in;
    std::string html;
    bool json = false;
};

// The value of a cell: its text, null for a hole, false for a lane the board does not have.
nlohmann::json cell_json(const tuning::Cell &cell) {
    switch (cell.kind) {
        case tuning::CellKind::value:
            return cell.text;
        case tuning::CellKind::hole:
            return nullptr;
        case tuning::CellKind::off_board:
            break;
    }
    return false;
}

nlohmann::json group_json(const tuning::HeatmapGroup &g, const tuning::TuningRows &rows,
                          const std::map<std::string, std::size_t> &file_index) {
    // Where each (front port, lane) row comes from: [file index, line], or null.
    nlohmann::json sources = nlohmann::json::array();
    for (std::size_t r = 0; r < g.front_ports.size(); ++r) {
        nlohmann::json line = nlohmann::json::array();
        for (std::size_t c = 0; c < g.lanes.size(); ++c) {
            nlohmann::json src = nullptr;
            if (g.row_at[r][c]) {
                const tuning::TuningRow &row = rows.rows[*g.row_at[r][c]];
                src = {file_index.at(row.file), row.line};
            }
            line.push_back(src);
        }
        sources.push_back(line);
    }
    nlohmann::json attributes = nlohmann::json::array();
    for (const tuning::AttributeGrid &a : g.attributes) {
        nlohmann::json values = nlohmann::json::array(), outliers = nlohmann::json::array();
        for (std::size_t r = 0; r < a.cells.size(); ++r) {
            nlohmann::json line = nlohmann::json::array();
            for (std::size_t c = 0; c < a.cells[r].size(); ++c) {
                const tuning::Cell &cell = a.cells[r][c];
                line.push_back(cell_json(cell));
                if (cell.outlier)
                    outliers.push_back({{"front_port", g.front_ports[r]},
                                        {"lane", g.lanes[c]},
                                        {"value", cell.text},
                                        {"median", *cell.median},
                                        {"z", *cell.z}});
            }
            values.push_back(line);
        }
        attributes.push_back(
            {{"name", a.name}, {"numeric", a.numeric}, {"values", values}, {"outliers", outliers}});
    }
    nlohmann::json holes = nlohmann::json::array();
    for (const auto &[port, lane] : g.holes)
        holes.push_back({{"front_port", port}, {"lane", lane}});
    return {{"cable_type", g.cable_type}, {"vendor", g.vendor},
            {"speed", g.speed},           {"encoding", g.encoding},
            {"files", g.files},           {"front_ports", g.front_ports},
            {"lanes", g.lanes},           {"sources", sources},
            {"attributes", attributes},   {"holes", holes},
            {"duplicates", g.duplicates}};
}

nlohmann::json report_json(const ReportOptions &opt, const tuning::LintResult &lint,
                           const std::vector<tuning::HeatmapGroup> &groups,
                           const tuning::OutlierRule &rule) {
    std::map<std::string, std::size_t> file_index;
    for (std::size_t i = 0; i < lint.rows.files.size(); ++i) file_index[lint.rows.files[i]] = i;
    std::size_t cells = 0, hole_cells = 0, holes = 0, outliers = 0, duplicates = 0;
    nlohmann::json jgroups = nlohmann::json::array();
    for (const tuning::HeatmapGroup &g : groups) {
        for (const tuning::AttributeGrid &a : g.attributes) {
            for (const auto &line : a.cells) {
                for (const tuning::Cell &cell : line) {
                    cells += cell.kind == tuning::CellKind::value ? 1 : 0;
                    hole_cells += cell.kind == tuning::CellKind::hole ? 1 : 0;
                }
            }
        }
        holes += g.holes.size();
        outliers += g.outliers();
        duplicates += g.duplicates.size();
        jgroups.push_back(group_json(g, lint.rows, file_index));
    }
    const std::size_t coverage_holes = lint.coverage ? lint.coverage->hole_count() : 0;
    return {
        {"directory", opt.in.dir},
        {"valid", lint.valid()},
        {"status", lint.status},
        {"status_name", tools::status_name(lint.status)},
        {"messages", tools::split_lines(lint.messages)},
        {"files", lint.rows.files},
        {"port_config",
         opt.in.port_config.empty() ? nlohmann::json() : nlohmann::json(opt.in.port_config)},
        {"findings", findings_json(lint.findings)},
        {"coverage", lint.coverage ? coverage_json(*lint.coverage) : nlohmann::json()},
        {"outlier_rule", {{"cutoff", rule.cutoff}, {"min_values", rule.min_values}}},
        {"groups", jgroups},
        {"counts",
         {{"groups", groups.size()},
          {"rows", lint.valid() ? lint.rows.rows.size() : 0},
          {"cells", cells},
          {"hole_cells", hole_cells},
          {"holes", holes},
          {"outliers", outliers},
          {"duplicates", duplicates},
          {"coverage_holes", coverage_holes},
          {"findings", lint.findings.size()}}},
        {"clean", lint.clean() && holes == 0 && outliers == 0 && duplicates == 0},
    };
}

int run_report(const ReportOptions &opt) {
    if (opt.html.empty() && !opt.json) {
        std::cerr << "pltfmctl report: say where the page goes (--html OUT.html) or ask for "
                     "--json\n";
        return kExitUsage;
    }
    const std::optional<tuning::LintResult> run = lint_inputs("report", opt.in);
    if (!run) return kExitUsage;
    const tuning::LintResult &lint = *run;
    const tuning::OutlierRule rule;
    // A directory that does not load gets no pictures: the switch would not use its rows.
    const std::vector<tuning::HeatmapGroup> groups = lint.valid()
                                                         ? tuning::build_heatmaps(lint.rows, rule)
                                                         : std::vector<tuning::HeatmapGroup>{};
    const nlohmann::json doc = report_json(opt, lint, groups, rule);

    if (!opt.html.empty()) {
        const std::string error = tools::write_page(
            opt.html, tools::html_page(tools::PageKind::tuning_report,
                                       "Tuning report: " + opt.in.dir, tools::json_text(doc)));
        if (!error.empty()) {
            std::cerr << "pltfmctl report: " << error << '\n';
            return kExitUsage;
        }
    }
    if (opt.json) {
        std::cout << tools::json_text(doc, 2) << '\n';
    } else {
        const auto &c = doc["counts"];
        std::cout << opt.html << ": " << opt.in.dir << " "
                  << (lint.valid()
                          ? "loads"
                          : "does not load (" + doc["status_name"].get<std::string>() + ")")
                  << "; " << c["groups"] << " groups, " << c["cells"] << " heatmap cells, "
                  << c["holes"] << " holes, " << c["outliers"] << " outliers, " << c["duplicates"]
                  << " repeated-port sets, " << c["findings"] << " findings";
        if (lint.coverage) std::cout << ", " << c["coverage_holes"] << " coverage holes";
        std::cout << '\n';
    }
    return doc["clean"].get<bool>() ? kExitOk : kExitInvalid;
}

}  // namespace

Runner add_report(CLI::App &app) {
    auto opt = std::make_shared<ReportOptions>();
    CLI::App *sub = app.add_subcommand(
        "report", "Draw a tuning directory as heatmaps with its holes, outliers and lint results");
    add_lint_inputs(*sub, opt->in, "also show every configured port's coverage");
    sub->add_option("--html", opt->html,
                    "Write the report as one self-contained HTML page (opens offline)");
    sub->add_flag("--json", opt->json, "Print the report's data as JSON");
    sub->footer(
        "Outliers: values whose robust z-score (distance to the median of the same lane over\n"
        "the comparable front ports, in median absolute deviations) exceeds 3.5.\n"
        "Exit status: 0 the directory loads and nothing was flagged, 1 it does not load or\n"
        "there are findings, holes, outliers or repeated ports (the page is written anyway),\n"
        "2 usage error or the page cannot be written.");
    return [opt] { return run_report(*opt); };
}

}  // namespace pltfm::ctl
