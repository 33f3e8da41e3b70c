// pltfmctl: the operator's tool for tuning directories and module EEPROM images. It runs the
// library's own loader, lookup, translation and module identification, so what it reports is
// what the switch would do.
#include <cstdio>
#include <iostream>

#include "commands.h"

int main(int argc, char **argv) {
    CLI::App app{
        "pltfmctl: check and compare tuning directories, look ports up, explain what the library\n"
        "decides for a port, show what every port of the running switch got, decode module\n"
        "EEPROMs, draw a tuning directory as an HTML report"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Print the help of every subcommand");

    const pltfm::ctl::Runner lint = pltfm::ctl::add_lint(app);
    const pltfm::ctl::Runner lookup = pltfm::ctl::add_lookup(app);
    const pltfm::ctl::Runner eeprom = pltfm::ctl::add_eeprom(app);
    const pltfm::ctl::Runner diff = pltfm::ctl::add_diff(app);
    const pltfm::ctl::Runner explain = pltfm::ctl::add_explain(app);
    const pltfm::ctl::Runner report = pltfm::ctl::add_report(app);
    const pltfm::ctl::Runner status = pltfm::ctl::add_status(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return pltfm::ctl::kExitUsage;
    }

    int rc = pltfm::ctl::kExitUsage;
    if (app.got_subcommand("lint")) rc = lint();
    if (app.got_subcommand("lookup")) rc = lookup();
    if (app.got_subcommand("eeprom")) rc = eeprom();
    if (app.got_subcommand("diff")) rc = diff();
    if (app.got_subcommand("explain")) rc = explain();
    if (app.got_subcommand("report")) rc = report();
    if (app.got_subcommand("status")) rc = status();
    std::cout.flush();
    std::fflush(stdout);
    return rc;
}
