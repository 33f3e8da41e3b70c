// The scenario's steps as they happen, for the run's page: each step's title and start time,
// what the simulation said during it, and the library's log lines written while it ran.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace pltfm::sim {

class Timeline {
  public:
    // A new step; `log_offset` is the size of the library's log when it begins.
    void begin(double seconds, const std::string &title, std::size_t log_offset);
    // A line (or lines) the simulation said, for the current step.
    void note(const std::string &text);

    // [{"t", "title", "notes", "log"}]; a step's log is the text of `log` from its offset to
    // the next step's.
    nlohmann::json json(const std::string &log) const;

  private:
    struct Step {
        double seconds = 0;
        std::string title;
        std::vector<std::string> notes;
        std::size_t log_offset = 0;
    };
    std::vector<Step> steps_;
};

}  // namespace pltfm::sim
