// The command texts the library hands to pltfm_redis_read and pltfm_redis_write, read back
// into what they ask for, so that the native transport can answer them without a shell:
// "redis-cli -n <db> hget \"<key>\" \"<field>\"", the same with hset and one or more field and
// value pairs, and the
// port configuration pipeline "grep \"Ethernet<n> \" <path> | awk '{print $4}'".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pltfm::redis {

struct Command {
    enum class Kind { hget, hset, port_config } kind = Kind::hget;
    int db = 0;
    std::string key, field, value;  // hget, hset (value: hset only)
    // hset: further field and value pairs after the first, as one HSET sets them together.
    std::vector<std::pair<std::string, std::string>> more;
    std::string pattern;            // port_config: what grep looks for, "Ethernet<n> "
    std::string path;               // port_config: the file
};

// The request of a command text of one of the three forms, exactly as the shell would see
// it; nullopt for any other text (a quoted word holding a character the shell would expand
// or unescape, extra words, other spacing).
std::optional<Command> parse_command(std::string_view cmd);

}  // namespace pltfm::redis
