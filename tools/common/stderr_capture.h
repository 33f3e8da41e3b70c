// Captures what is written to file descriptor 2 (where the library logs) into a temporary
// file while alive, so a tool can parse the library's messages and still show them.
#pragma once

#include <string>

namespace pltfm::tools {

class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();  // restores fd 2
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    bool ok() const { return saved_fd_ >= 0; }
    // Restores fd 2 and returns everything captured; later calls return the same text.
    const std::string &finish();

private:
    int saved_fd_ = -1;
    int file_fd_ = -1;
    bool finished_ = false;
    std::string text_;
};

}  // namespace pltfm::tools
