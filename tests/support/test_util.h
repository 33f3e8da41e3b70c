// Small helpers shared by the tests: a temporary directory removed on scope exit, file
// writing, and capture of the library's log lines (standard error).
#pragma once

#include <string>
#include <string_view>

#include "scratch_dir.h"

namespace pltfm::test {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction;
// a failure to create it fails the test.
class TempDir : public ScratchDir {
public:
    TempDir();
    // path() + "/" + relative
    std::string operator/(std::string_view relative) const;
};

// Creates parent directories as needed and writes the bytes; fails the test on error.
void write_file(const std::string &path, std::string_view contents);
std::string read_file(const std::string &path);
void make_dirs(const std::string &path);

// A unix stream socket bound to `path` and listening with `backlog`; -1 on failure. For tests
// that play a server the library must survive (one that never answers, one that fails half-way).
int listen_on_unix_socket(const std::string &path, int backlog);

// Redirects file descriptor 2 into a temporary file while alive; text() returns what was
// written since construction. Library log lines go to standard error with write(2).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::string text() const;
    bool contains(std::string_view needle) const { return text().find(needle) != std::string::npos; }

private:
    int saved_fd_ = -1;
    std::string file_;
};

}  // namespace pltfm::test
