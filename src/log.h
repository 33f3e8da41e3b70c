// The library's log line: "<source file>:<line> <function>: <message>\n" on standard error,
// written with one write() per line so that lines of concurrent threads never interleave.
#pragma once

#include <cstdarg>

namespace pltfm::log {

void write_line(const char *file, int line, const char *func, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
void write_line_v(const char *file, int line, const char *func, const char *fmt, va_list ap)
    __attribute__((format(printf, 4, 0)));

}  // namespace pltfm::log

// Logs as the enclosing function.
#define PLTFM_LOG(...) ::pltfm::log::write_line(__FILE_NAME__, __LINE__, __func__, __VA_ARGS__)
// Logs on behalf of a named operation (a shared helper reporting for its caller).
#define PLTFM_LOG_AS(func, ...) ::pltfm::log::write_line(__FILE_NAME__, __LINE__, (func), __VA_ARGS__)
