// pltfmctl lint DIR: loads a tuning directory with the library's loader (both passes, every
// rule), shows the library's messages on standard error and a one-line verdict.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands.h"
#include "names.h"
#include "platform_database.h"
#include "stderr_capture.h"
#include "text_lines.h"

namespace pltfm::ctl {

namespace {

struct LintOptions {
    std::string dir;
    bool json = false;
};

// The files of `dir` that the loader reads: regular files named *.csv (any letter case)
// with names of at least 6 characters.
std::vector<std::string> tuning_files(const std::string &dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) {
        if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
        const std::string name = entry.path().filename().string();
        if (name.size() < 6) continue;
        std::string ext = name.substr(name.size() - 4);
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (ext == ".csv") out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

int run_lint(const LintOptions &opt) {
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
    const std::vector<std::string> files = tuning_files(opt.dir);
    const bool valid = rc == PLTFM_SUCCESS;

    std::cerr << messages << std::flush;
    if (opt.json) {
        nlohmann::json out = {
            {"directory", opt.dir},
            {"valid", valid},
            {"status", rc},
            {"status_name", tools::status_name(rc)},
            {"tuning_files", files},
            {"has_rows", has_rows},
            {"messages", tools::split_lines(messages)},
        };
        std::cout << out.dump(2) << '\n';
    } else if (valid) {
        std::cout << opt.dir << ": valid (" << files.size() << " tuning file"
                  << (files.size() == 1 ? "" : "s")
                  << (has_rows ? "" : ", no data rows: the database would be empty") << ")\n";
    } else {
        std::cout << opt.dir << ": INVALID (" << tools::status_name(rc) << ", rc=" << rc
                  << "; the library's messages above name the file and line)\n";
    }
    return valid ? kExitOk : kExitInvalid;
}

}  // namespace

Runner add_lint(CLI::App &app) {
    auto opt = std::make_shared<LintOptions>();
    CLI::App *sub = app.add_subcommand(
        "lint", "Check a tuning directory with the library's own loader (exit 0 valid, 1 invalid)");
    sub->add_option("DIR", opt->dir, "Tuning directory (the files *.csv in it)")
        ->required()
        ->check(CLI::ExistingDirectory);
    sub->add_flag("--json", opt->json, "Print the verdict and the messages as JSON on stdout");
    sub->footer(
        "The library's messages go to standard error, the verdict to standard output.\n"
        "Exit status: 0 the directory loads, 1 it does not, 2 usage error.");
    return [opt] { return run_lint(*opt); };
}

}  // namespace pltfm::ctl
