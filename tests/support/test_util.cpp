// Temporary directories, file helpers and log capture for the tests.
#include "test_util.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace pltfm::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/pltfm-test-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::operator/(std::string_view relative) const {
    return path_ + "/" + std::string(relative);
}

void make_dirs(const std::string &path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) ADD_FAILURE() << "create_directories " << path << ": " << ec.message();
}

void write_file(const std::string &path, std::string_view contents) {
    make_dirs(fs::path(path).parent_path().string());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

LogCapture::LogCapture() {
    char templ[] = "/tmp/pltfm-log-XXXXXX";
    int fd = ::mkstemp(templ);
    if (fd < 0) {
        ADD_FAILURE() << "mkstemp failed";
        return;
    }
    file_ = templ;
    saved_fd_ = ::dup(STDERR_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
}

LogCapture::~LogCapture() {
    if (saved_fd_ >= 0) {
        ::dup2(saved_fd_, STDERR_FILENO);
        ::close(saved_fd_);
    }
    if (!file_.empty()) ::unlink(file_.c_str());
}

std::string LogCapture::text() const { return file_.empty() ? std::string() : read_file(file_); }

}  // namespace pltfm::test
