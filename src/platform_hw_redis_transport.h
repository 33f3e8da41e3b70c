// How pltfm_redis_read and pltfm_redis_write reach Redis: through `redis-cli` in a shell
// pipe (the default), or over a persistent connection when PLTFM_REDIS names the server's
// socket. The choice is made once, here; callers of the two primitives never see it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pltfm::redis {

// What running a command gave, as the pipe's reader sees it.
enum class Outcome {
    line,          // the first output line stands in the caller's buffer
    cannot_start,  // the command could not be started (or was refused)
    no_output,     // the command printed nothing (no answer, lost connection, timeout)
};

class Transport {
  public:
    virtual ~Transport() = default;
    // Runs `cmd` and reads the first line it prints into `out` as fgets(out, size, ...) does:
    // at most size - 1 bytes, the line feed kept when it fits, then a terminator.
    // `size` is at least 1.
    virtual Outcome first_line(const char *cmd, char *out, int size) = 0;
};

// A PLTFM_REDIS value that passed validation.
struct Endpoint {
    enum class Kind { unix_socket, tcp } kind = Kind::unix_socket;
    std::string path;  // socket path (unix)
    std::string host;  // IP address or "localhost" (tcp)
    int port = 0;      // 1 to 65535 (tcp)
    std::string text;  // the value as given, for messages
};

// Parses "unix:/absolute/path" or "tcp:HOST:PORT" (HOST an IPv4 address, an IPv6 address in
// brackets, or localhost). nullopt with `why` set when the value is not one of them.
std::optional<Endpoint> parse_endpoint(std::string_view value, std::string &why);

// The transport of this process: chosen from PLTFM_REDIS at first use.
Transport &transport();
// True when the process reaches Redis over a native connection.
bool native();

Transport &pipe_transport();
std::unique_ptr<Transport> make_native_transport(const Endpoint &endpoint);

// Test hook: read PLTFM_REDIS again (the previous transport stays alive, never freed).
void reload_for_test();

}  // namespace pltfm::redis
