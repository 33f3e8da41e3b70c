// Strict reading of the library's command texts (see the header).
#include "platform_hw_redis_command.h"

#include <climits>

#include "paths.h"

namespace pltfm::redis {

namespace {

// A cursor over the command text; each step consumes what it matched or fails.
class Reader {
  public:
    explicit Reader(std::string_view text) : rest_(text) {}

    bool literal(std::string_view word) {
        if (rest_.substr(0, word.size()) != word) return false;
        rest_.remove_prefix(word.size());
        return true;
    }
    // A decimal number without sign that fits an int.
    bool number(int &out) {
        std::size_t n = 0;
        long long v = 0;
        while (n < rest_.size() && rest_[n] >= '0' && rest_[n] <= '9') {
            v = v * 10 + (rest_[n] - '0');
            if (v > INT_MAX) return false;
            ++n;
        }
        if (n == 0) return false;
        out = static_cast<int>(v);
        rest_.remove_prefix(n);
        return true;
    }
    // "..." whose content the shell passes on unchanged: no '"', '\\', '$' or '`' inside.
    bool quoted(std::string &out) {
        if (!literal("\"")) return false;
        const auto end = rest_.find('"');
        if (end == std::string_view::npos) return false;
        const std::string_view inner = rest_.substr(0, end);
        if (inner.find_first_of("\\$`") != std::string_view::npos) return false;
        out = std::string(inner);
        rest_.remove_prefix(end + 1);
        return true;
    }
    // A word up to the next blank that may stand unquoted: a safe absolute path.
    bool path(std::string &out) {
        const auto end = rest_.find(' ');
        const std::string_view word = rest_.substr(0, end);
        if (!paths::is_safe_path(word)) return false;
        out = std::string(word);
        rest_.remove_prefix(word.size());
        return true;
    }
    // Decimal digits, as written.
    bool digits(std::string &out) {
        std::size_t n = 0;
        while (n < rest_.size() && rest_[n] >= '0' && rest_[n] <= '9') ++n;
        if (n == 0) return false;
        out = std::string(rest_.substr(0, n));
        rest_.remove_prefix(n);
        return true;
    }
    bool at_end() const { return rest_.empty(); }

  private:
    std::string_view rest_;
};

std::optional<Command> parse_hash(Reader r) {
    Command c;
    if (!r.number(c.db)) return std::nullopt;
    if (r.literal(" hget ")) {
        c.kind = Command::Kind::hget;
        if (r.quoted(c.key) && r.literal(" ") && r.quoted(c.field) && r.at_end()) return c;
    } else if (r.literal(" hset ")) {
        c.kind = Command::Kind::hset;
        if (!r.quoted(c.key) || !r.literal(" ") || !r.quoted(c.field) || !r.literal(" ") ||
            !r.quoted(c.value))
            return std::nullopt;
        while (!r.at_end()) {
            std::pair<std::string, std::string> pair;
            if (!r.literal(" ") || !r.quoted(pair.first) || !r.literal(" ") ||
                !r.quoted(pair.second))
                return std::nullopt;
            c.more.push_back(std::move(pair));
        }
        return c;
    }
    return std::nullopt;
}

std::optional<Command> parse_port_config(Reader r) {
    Command c;
    c.kind = Command::Kind::port_config;
    std::string n;
    if (r.digits(n) && r.literal(" \" ") && r.path(c.path) && r.literal(" | awk '{print $4}'") &&
        r.at_end()) {
        c.pattern = "Ethernet" + n + " ";
        return c;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Command> parse_command(std::string_view cmd) {
    Reader r(cmd);
    if (r.literal("redis-cli -n ")) return parse_hash(r);
    if (r.literal("grep \"Ethernet")) return parse_port_config(r);
    return std::nullopt;
}

}  // namespace pltfm::redis
