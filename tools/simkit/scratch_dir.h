// A temporary directory removed with its contents on destruction, and small file helpers,
// for fixtures that tools link too: no test framework here, errors come back as values.
#pragma once

#include <string>
#include <string_view>

namespace pltfm::test {

class ScratchDir {
public:
    // Creates <$TMPDIR or /tmp>/<prefix>XXXXXX; path() is empty when that failed.
    explicit ScratchDir(std::string_view prefix = "pltfm-");
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return path_; }
    bool ok() const { return !path_.empty(); }

private:
    std::string path_;
};

// Creates parent directories and writes the bytes; returns false on any error.
bool write_bytes(const std::string &path, std::string_view contents);
// Creates the directory and its parents; returns false on error.
bool create_dirs(const std::string &path);

}  // namespace pltfm::test
