// One formatted log line per write(2) on standard error.
#include "log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pltfm::log {

namespace {
// Longer lines are cut; no message of the library comes near this.
constexpr size_t kMaxLine = 8192;
}  // namespace

void write_line_v(const char *file, int line, const char *func, const char *fmt, va_list ap) {
    char buf[kMaxLine];
    int head = std::snprintf(buf, sizeof buf, "%s:%d %s: ", file, line, func);
    if (head < 0) return;
    size_t used = static_cast<size_t>(head) < sizeof buf ? static_cast<size_t>(head) : sizeof buf - 1;
    int body = std::vsnprintf(buf + used, sizeof buf - used, fmt, ap);
    if (body > 0) used += static_cast<size_t>(body) < sizeof buf - used ? static_cast<size_t>(body) : sizeof buf - used - 1;
    if (used >= sizeof buf - 1) used = sizeof buf - 2;
    buf[used++] = '\n';
    const int saved_errno = errno;  // logging must not disturb the caller's errno
    const char *p = buf;
    while (used > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, used);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        p += n;
        used -= static_cast<size_t>(n);
    }
    errno = saved_errno;
}

void write_line(const char *file, int line, const char *func, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    write_line_v(file, line, func, fmt, ap);
    va_end(ap);
}

}  // namespace pltfm::log
