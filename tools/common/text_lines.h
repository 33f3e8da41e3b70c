// Small text helpers of the tools.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pltfm::tools {

// The lines of `text` without their line feeds; no empty last line for a final line feed.
inline std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        out.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace pltfm::tools
