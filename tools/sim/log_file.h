// The library's log as the simulation keeps it: fd 2 redirected into a file whose path is
// printed, and searches over what the library has written since a given point.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace pltfm::sim {

class LogFile {
public:
    // Opens (truncates) the file and redirects fd 2 into it; the previous fd 2 stays
    // reachable through saved_stderr() for the simulation's own errors.
    bool redirect(const std::string &path);
    const std::string &path() const { return path_; }
    int saved_stderr() const { return saved_fd_; }

    // Everything written so far.
    std::string text() const;
    // Its size in bytes without reading it; 0 when the file cannot be examined.
    std::size_t size() const;
    // First line written after `offset` that contains `needle`.
    std::optional<std::string> find_after(std::size_t offset, const std::string &needle) const;
    // Last line that contains `needle`.
    std::optional<std::string> find_last(const std::string &needle) const;

private:
    std::string path_;
    int saved_fd_ = -1;
};

}  // namespace pltfm::sim
