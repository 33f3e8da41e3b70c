// A self-contained HTML page of the tools: the style sheet and the scripts inline, the data as
// JSON in a script element, nothing fetched from anywhere (the page opens offline).
#pragma once

#include <string>

namespace pltfm::tools {

enum class PageKind {
    tuning_report,  // pltfmctl report
    switch_run,     // pltfm-sim --html
};

// The page's text; `json` is the data the page's script draws (any JSON text).
std::string html_page(PageKind kind, const std::string &title, const std::string &json);

// Writes `text` to `path` (through a temporary file beside it, renamed into place); an error
// text, empty on success.
std::string write_page(const std::string &path, const std::string &text);

}  // namespace pltfm::tools
