// One finding of a check on a tuning directory: which check, where (file and line; line 0
// for a finding about a whole file or directory entry) and what, in the operator's words.
#pragma once

#include <string>

namespace pltfm::tuning {

struct Finding {
    std::string
        check;  // "lane-order", "duplicate-lane", "value", "unused-key", "skipped-entry", ...
    std::string file;
    int line = 0;
    std::string message;
};

// "file:line: message" (no line part for line 0).
inline std::string located(const Finding &f) {
    std::string out = f.file;
    if (f.line > 0) out += ":" + std::to_string(f.line);
    return out + ": " + f.message;
}

}  // namespace pltfm::tuning
