// pltfmctl diff OLD_DIR NEW_DIR: what a rescan from the tuning in OLD_DIR to that in NEW_DIR
// would change, row by row (cable type, vendor, lane speed, encoding, front port, lane) and
// value by value, from the library's own loader and tree comparison; one summary line.
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "commands.h"
#include "json_text.h"
#include "loaded_tree.h"
#include "names.h"
#include "text_lines.h"
#include "tuning_diff.h"

namespace pltfm::ctl {

namespace {

struct DiffOptions {
    std::string old_dir;
    std::string new_dir;
    bool json = false;
};

const char *change_name(database::RowChange c) {
    switch (c) {
        case database::RowChange::added:
            return "added";
        case database::RowChange::removed:
            return "removed";
        case database::RowChange::changed:
            return "changed";
    }
    return "?";
}

char change_mark(database::RowChange c) {
    return c == database::RowChange::added ? '+' : c == database::RowChange::removed ? '-' : '~';
}

nlohmann::json optional_text(const std::optional<std::string> &text) {
    return text ? nlohmann::json(*text) : nlohmann::json();
}

void print_row(std::ostream &out, const tuning::RowDiff &r) {
    const tuning::RowKey &k = r.key;
    out << change_mark(r.change) << ' ' << k.cable_type << ' ' << k.vendor << ' ' << k.speed << ' '
        << k.encoding << " front port " << k.front_port << " lane " << k.lane << ':';
    if (r.change != database::RowChange::changed) {
        for (const auto &v : r.values)
            out << ' ' << v.attribute << '=' << (v.after ? *v.after : v.before.value_or(""));
    } else if (r.values.empty()) {
        out << " the same values in another order";
    } else {
        const char *sep = " ";
        for (const auto &v : r.values) {
            out << sep << v.attribute << ' ' << v.before.value_or("(none)") << " -> "
                << v.after.value_or("(none)");
            sep = ", ";
        }
    }
    out << '\n';
}

int run_diff(const DiffOptions &opt) {
    const tuning::LoadedTree before(opt.old_dir);
    const tuning::LoadedTree after(opt.new_dir);
    bool loads = true;
    for (const auto *side : {&before, &after}) {
        if (side->loaded()) continue;
        const std::string &dir = side == &before ? opt.old_dir : opt.new_dir;
        std::cerr << side->messages() << "pltfmctl diff: " << dir << " does not load ("
                  << tools::status_name(side->status()) << "); run pltfmctl lint\n";
        loads = false;
    }
    if (!loads) {
        if (opt.json) {
            std::cout << tools::json_text({{"old", opt.old_dir},
                                           {"new", opt.new_dir},
                                           {"loads", false},
                                           {"old_loads", before.loaded()},
                                           {"new_loads", after.loaded()}},
                                          2)
                      << '\n';
        }
        return kExitInvalid;
    }

    const tuning::TuningDiff diff = tuning::diff_trees(before.tree(), after.tree());
    const std::string summary = tuning::summary_text(diff);
    if (opt.json) {
        nlohmann::json rows = nlohmann::json::array();
        for (const auto &r : diff.rows) {
            nlohmann::json values = nlohmann::json::array();
            for (const auto &v : r.values)
                values.push_back({{"attribute", v.attribute},
                                  {"old", optional_text(v.before)},
                                  {"new", optional_text(v.after)}});
            rows.push_back({{"change", change_name(r.change)},
                            {"cable_type", r.key.cable_type},
                            {"vendor", r.key.vendor},
                            {"speed", r.key.speed},
                            {"encoding", r.key.encoding},
                            {"front_port", r.key.front_port},
                            {"lane", r.key.lane},
                            {"values", values}});
        }
        std::cout << tools::json_text(nlohmann::json({{"old", opt.old_dir},
                                                      {"new", opt.new_dir},
                                                      {"loads", true},
                                                      {"same", diff.same()},
                                                      {"rows_added", diff.added},
                                                      {"rows_removed", diff.removed},
                                                      {"rows_changed", diff.changed},
                                                      {"values_changed", diff.values_changed},
                                                      {"summary", summary},
                                                      {"rows", rows}}),
                                      2)
                  << '\n';
    } else {
        for (const auto &r : diff.rows) print_row(std::cout, r);
        std::cout << opt.old_dir << " -> " << opt.new_dir << ": " << summary << '\n';
    }
    return diff.same() ? kExitOk : kExitInvalid;
}

}  // namespace

Runner add_diff(CLI::App &app) {
    auto opt = std::make_shared<DiffOptions>();
    CLI::App *sub = app.add_subcommand(
        "diff", "Show what replacing the tuning of OLD_DIR by NEW_DIR would change, row by row");
    sub->add_option("OLD_DIR", opt->old_dir, "Tuning directory in use")
        ->required()
        ->check(CLI::ExistingDirectory);
    sub->add_option("NEW_DIR", opt->new_dir, "Tuning directory that would replace it")
        ->required()
        ->check(CLI::ExistingDirectory);
    sub->add_flag("--json", opt->json, "Print the changes and the counts as JSON");
    sub->footer(
        "Rows are keyed by cable type, vendor, lane speed, encoding, front port and lane; a\n"
        "line per added (+), removed (-) or changed (~) row, then a summary line.\n"
        "Exit status: 0 no change, 1 changes (or a directory does not load: a rescan would\n"
        "keep the tuning in use), 2 usage error.");
    return [opt] { return run_diff(*opt); };
}

}  // namespace pltfm::ctl
