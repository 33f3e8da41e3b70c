// fd 2 capture through an unlinked temporary file.
#include "stderr_capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace pltfm::tools {

StderrCapture::StderrCapture() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/pltfmctl-log.XXXXXX";
    file_fd_ = mkstemp(pattern.data());
    if (file_fd_ < 0) return;
    unlink(pattern.c_str());
    std::fflush(stderr);
    saved_fd_ = dup(2);
    if (saved_fd_ < 0 || dup2(file_fd_, 2) < 0) {
        if (saved_fd_ >= 0) close(saved_fd_);
        saved_fd_ = -1;
    }
}

StderrCapture::~StderrCapture() {
    finish();
    if (file_fd_ >= 0) close(file_fd_);
}

const std::string &StderrCapture::finish() {
    if (finished_) return text_;
    finished_ = true;
    if (saved_fd_ < 0) return text_;
    std::fflush(stderr);
    dup2(saved_fd_, 2);
    close(saved_fd_);
    saved_fd_ = -1;
    if (lseek(file_fd_, 0, SEEK_SET) == 0) {
        char buf[4096];
        ssize_t n;
        while ((n = read(file_fd_, buf, sizeof buf)) > 0) text_.append(buf, static_cast<std::size_t>(n));
    }
    return text_;
}

}  // namespace pltfm::tools
