// Temporary directories, file helpers and log capture for the tests.
#include "test_util.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace pltfm::test {


TempDir::TempDir() : ScratchDir("pltfm-test-") {
    if (!ok()) ADD_FAILURE() << "cannot create a temporary directory";
}

std::string TempDir::operator/(std::string_view relative) const {
    return path() + "/" + std::string(relative);
}

void make_dirs(const std::string &path) {
    if (!create_dirs(path)) ADD_FAILURE() << "cannot create directory " << path;
}

void write_file(const std::string &path, std::string_view contents) {
    if (!write_bytes(path, contents)) ADD_FAILURE() << "cannot write " << path;
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

int listen_on_unix_socket(const std::string &path, int backlog) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace pltfm::test
