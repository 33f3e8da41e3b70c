// In-process reading of port_config.ini with the matching rule of the grep | awk pipeline,
// keeping the file's contents between calls while it stays unchanged.
#include "platform_hw_port_config.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

namespace pltfm::hw::port_config {

namespace {

// The file as last read, with what identifies that version of it.
struct Cached {
    std::string path;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec mtime{}, ctime{};
    std::string contents;
};

bool same_version(const Cached &c, const std::string &path, const struct stat &st) {
    return c.path == path && c.dev == st.st_dev && c.ino == st.st_ino && c.size == st.st_size &&
           c.mtime.tv_sec == st.st_mtim.tv_sec && c.mtime.tv_nsec == st.st_mtim.tv_nsec &&
           c.ctime.tv_sec == st.st_ctim.tv_sec && c.ctime.tv_nsec == st.st_ctim.tv_nsec;
}

// grep runs in the environment's locale; under a UTF-8 one a line with an encoding error
// makes it treat the file as binary.
bool utf8_locale() {
    const char *value = nullptr;
    for (const char *name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        value = std::getenv(name);
        if (value != nullptr && *value != '\0') break;
    }
    if (value == nullptr) return false;
    std::string v;
    for (const char *p = value; *p; ++p)
        if (*p != '-') v += static_cast<char>(*p >= 'A' && *p <= 'Z' ? *p + 32 : *p);
    return v.find("utf8") != std::string::npos;
}

bool valid_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        unsigned cp = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            len = 2, cp = b & 0x1Fu;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, cp = b & 0x0Fu;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, cp = b & 0x07u;
        } else {
            return false;
        }
        if (i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0u) != 0x80u) return false;
            cp = (cp << 6) | (c & 0x3Fu);
        }
        const unsigned min = len == 2 ? 0x80u : len == 3 ? 0x800u : 0x10000u;
        if (cp < min || cp > 0x10FFFFu || (cp >= 0xD800u && cp <= 0xDFFFu)) return false;
        i += len;
    }
    return true;
}

// awk's default field splitting: runs of blanks (space, tab) separate, leading ones ignored.
std::string fourth_field(std::string_view line) {
    int field = 0;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == line.size()) break;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (++field == 4) return std::string(line.substr(start, i - start));
    }
    return {};
}

std::mutex g_lock;
// Never destroyed, like the library's other tables a thread may use while the process exits.
Cached &g_cached = *new Cached;  // guarded by g_lock

}  // namespace

std::optional<std::string> fourth_column(const std::string &path, std::string_view pattern) {
    std::lock_guard<std::mutex> hold(g_lock);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    if (!same_version(g_cached, path, st)) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::nullopt;
        g_cached = Cached{path,
                          st.st_dev,
                          st.st_ino,
                          st.st_size,
                          st.st_mtim,
                          st.st_ctim,
                          std::string(std::istreambuf_iterator<char>(in), {})};
    }
    const std::string &text = g_cached.contents;
    if (text.find('\0') != std::string::npos) return std::nullopt;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        if (line.find(pattern) != std::string_view::npos) {
            if (utf8_locale() && !valid_utf8(line)) return std::nullopt;
            return fourth_field(line) + "\n";
        }
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace pltfm::hw::port_config
