// The tuning loader's line reader: one buffer, refilled after the lines handed over so far,
// doubled when a line does not fit.
#include "line_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "alloc.h"

namespace pltfm::csv {

LineReader::LineReader(int fd, std::size_t first_size) noexcept
    : fd_(fd), first_size_(first_size > 0 ? first_size : 1) {}

LineReader::~LineReader() {
    mem::release(buf_);
}

bool LineReader::next() noexcept {
    for (;;) {
        if (begin_ < end_) {
            char *const unread = buf_ + begin_;
            if (auto *lf = static_cast<char *>(std::memchr(unread, '\n', end_ - begin_))) {
                *lf = '\0';
                line_ = unread;
                begin_ = static_cast<std::size_t>(lf - buf_) + 1;
                return true;
            }
            if (eof_) {
                buf_[end_] = '\0';  // a last line without a line feed
                line_ = unread;
                begin_ = end_;
                return true;
            }
        } else if (eof_) {
            return false;
        }
        if (!fill()) return false;
    }
}

// Reads more after the unread part, moved to the front; false on an error.
bool LineReader::fill() noexcept {
    if (begin_ > 0) {
        std::memmove(buf_, buf_ + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == size_ && !grow()) return false;
    ssize_t n;
    do {
        n = ::read(fd_, buf_ + end_, size_ - end_);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        error_ = errno != 0 ? errno : EIO;
        return false;
    }
    eof_ = n == 0;
    end_ += static_cast<std::size_t>(n);
    return true;
}

// Doubles the buffer (one byte more for the NUL after a last line).
bool LineReader::grow() noexcept {
    const std::size_t size = size_ == 0 ? first_size_ : size_ * 2;
    auto *buf = static_cast<char *>(mem::alloc_uninitialised(size + 1));
    if (buf == nullptr || size < size_) {
        mem::release(buf);
        error_ = ENOMEM;
        return false;
    }
    if (end_ > 0) std::memcpy(buf, buf_, end_);
    mem::release(buf_);
    buf_ = buf;
    size_ = size;
    return true;
}

}  // namespace pltfm::csv
