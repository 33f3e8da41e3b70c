// Steps of the run and their slices of the library's log.
#include "timeline.h"

#include <algorithm>

#include "text_lines.h"

namespace pltfm::sim {

void Timeline::begin(double seconds, const std::string &title, std::size_t log_offset) {
    steps_.push_back({seconds, title, {}, log_offset});
}

void Timeline::note(const std::string &text) {
    if (steps_.empty()) return;
    for (std::string line : tools::split_lines(text)) {
        // The console indents notes by two spaces under their step.
        if (line.rfind("  ", 0) == 0) line.erase(0, 2);
        steps_.back().notes.push_back(line);
    }
}

nlohmann::json Timeline::json(const std::string &log) const {
    nlohmann::json out = nlohmann::json::array();
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        const std::size_t from = std::min(steps_[i].log_offset, log.size());
        const std::size_t to =
            i + 1 < steps_.size() ? std::min(steps_[i + 1].log_offset, log.size()) : log.size();
        out.push_back({{"t", steps_[i].seconds},
                       {"title", steps_[i].title},
                       {"notes", steps_[i].notes},
                       {"log", tools::split_lines(log.substr(from, to > from ? to - from : 0))}});
    }
    return out;
}

}  // namespace pltfm::sim
