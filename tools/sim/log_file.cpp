// fd 2 redirection and log searches.
#include "log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace pltfm::sim {

bool LogFile::redirect(const std::string &path) {
    path_ = path;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::fflush(stderr);
    saved_fd_ = fcntl(2, F_DUPFD_CLOEXEC, 3);
    const bool ok = saved_fd_ >= 0 && dup2(fd, 2) >= 0;
    close(fd);
    return ok;
}

std::string LogFile::text() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream buf;
    buf << in.rdbuf();
    return buf.str();
}

std::size_t LogFile::size() const {
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(path_, ec);
    return ec ? 0 : static_cast<std::size_t>(bytes);
}

std::optional<std::string> LogFile::find_after(std::size_t offset, const std::string &needle) const {
    const std::string all = text();
    if (offset > all.size()) return std::nullopt;
    const std::size_t at = all.find(needle, offset);
    if (at == std::string::npos) return std::nullopt;
    const std::size_t start = all.rfind('\n', at);
    const std::size_t begin = start == std::string::npos ? 0 : start + 1;
    const std::size_t end = all.find('\n', at);
    return all.substr(begin, (end == std::string::npos ? all.size() : end) - begin);
}

std::optional<std::string> LogFile::find_last(const std::string &needle) const {
    const std::string all = text();
    const std::size_t at = all.rfind(needle);
    if (at == std::string::npos) return std::nullopt;
    const std::size_t start = all.rfind('\n', at);
    const std::size_t begin = start == std::string::npos ? 0 : start + 1;
    const std::size_t end = all.find('\n', at);
    return all.substr(begin, (end == std::string::npos ? all.size() : end) - begin);
}

}  // namespace pltfm::sim
