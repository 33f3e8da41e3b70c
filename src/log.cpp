// One formatted log line per write(2) on standard error.
#include "log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pltfm::log {

namespace {
// Longer lines are cut; no message of the library comes near this.
constexpr size_t kMaxLine = 8192;

// A daemon may load the library with its standard input, output or error closed. The
// library's own files, pipes and its Redis connection would then get descriptors 0 to 2, and
// the log, written to descriptor 2, could land in one of them: in a module's EEPROM file, or
// in the Redis connection, whose server then drops it, so that the next log line ends the
// host with SIGPIPE. Each standard descriptor that is closed when the library is loaded is
// opened on /dev/null instead: the library's descriptors are then never 0 to 2, and its log
// goes nowhere, as it would to a closed standard error.
__attribute__((constructor)) void reserve_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int null = ::open("/dev/null", O_RDWR);
        if (null < 0) return;
        // Another thread of the host may have taken `fd` meanwhile: leave it to that one.
        if (null != fd) ::close(null);
    }
}
}  // namespace

void write_line_v(const char *file, int line, const char *func, const char *fmt, va_list ap) {
    char buf[kMaxLine];
    int head = std::snprintf(buf, sizeof buf, "%s:%d %s: ", file, line, func);
    if (head < 0) return;
    size_t used =
        static_cast<size_t>(head) < sizeof buf ? static_cast<size_t>(head) : sizeof buf - 1;
    int body = std::vsnprintf(buf + used, sizeof buf - used, fmt, ap);
    if (body > 0)
        used += static_cast<size_t>(body) < sizeof buf - used ? static_cast<size_t>(body)
                                                              : sizeof buf - used - 1;
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
