// What the lint and report commands share: their arguments (the directory, the port
// configuration and the cable types of the coverage), the lint run on them, and the JSON of
// the findings and of the coverage of configured ports.
#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "coverage.h"
#include "finding.h"
#include "lint_run.h"

namespace pltfm::ctl {

struct LintInputs {
    std::string dir;
    std::string port_config;
    std::vector<std::string> cable_types;
};

// DIR, --port-config (whose help ends in `coverage_use`) and --cable-types.
void add_lint_inputs(CLI::App &sub, LintInputs &in, const std::string &coverage_use);

// The lint run of the inputs; nullopt after a message on standard error ("pltfmctl
// <command>: ...") when the port configuration cannot be read or lists no port of this board.
std::optional<tuning::LintResult> lint_inputs(const std::string &command, const LintInputs &in);

// [{"check", "file", "line", "message"}]
nlohmann::json findings_json(const std::vector<tuning::Finding> &findings);

// {"cable_types", "ports", "holes", "cells": [{"port", "front_port", ..., "hole", ...}]}
nlohmann::json coverage_json(const tuning::Coverage &cov);

}  // namespace pltfm::ctl
