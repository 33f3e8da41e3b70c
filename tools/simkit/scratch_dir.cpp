// Temporary directory and file helpers without a test framework.
#include "scratch_dir.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace pltfm::test {

namespace fs = std::filesystem;

ScratchDir::ScratchDir(std::string_view prefix) {
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/" + std::string(prefix) + "XXXXXX";
    if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
}

ScratchDir::~ScratchDir() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

bool create_dirs(const std::string &path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return !ec;
}

bool write_bytes(const std::string &path, std::string_view contents) {
    if (!create_dirs(fs::path(path).parent_path().string())) return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace pltfm::test
