// How pltfm_redis_read and pltfm_redis_write reach Redis: through `redis-cli` in a shell
// pipe (the default), or over a persistent connection when PLTFM_REDIS names the server's
// socket. The choice is made once, here; callers of the two primitives never see it.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pltfm::redis {

// What running a command gave, as the pipe's reader sees it.
enum class Outcome {
    line,          // the first output line stands in the caller's buffer
    cannot_start,  // the command could not be started (or was refused)
    no_output,     // the command printed nothing (refused, error, lost connection)
    timed_out,     // no answer within the bound: the server took the request and kept silent
    not_sent,      // given up unanswered: another access found Redis stalled meanwhile
};

// How long an access may wait for Redis: the native connection's limit for connecting and
// for each answer, and the time a redis-cli (or any command of the pipe) may run before it
// is ended. A command that does not finish within it counts as unanswered.
inline constexpr std::chrono::milliseconds kNativeAnswerBound{1000};
inline constexpr std::chrono::milliseconds kRedisCliBound{2000};
std::chrono::milliseconds native_answer_bound();
std::chrono::milliseconds redis_cli_bound();
// Test hook: shorter bounds, so that tests of a silent server take milliseconds.
void set_bounds_for_test(std::chrono::milliseconds native, std::chrono::milliseconds cli);

class Transport {
  public:
    virtual ~Transport() = default;
    // Runs `cmd` and reads the first line it prints into `out` as fgets(out, size, ...) does:
    // at most size - 1 bytes, the line feed kept when it fits, then a terminator.
    // `size` is at least 1.
    virtual Outcome first_line(const char *cmd, char *out, int size) = 0;
    // Asks the server for a sign of life (PING), for the retry of a stalled Redis: line when
    // it answered, timed_out when it kept silent, anything else when it failed at once.
    virtual Outcome probe() = 0;
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
// The endpoint of the native connection; nullopt in pipe mode.
std::optional<Endpoint> native_endpoint();

Transport &pipe_transport();
std::unique_ptr<Transport> make_native_transport(const Endpoint &endpoint);

// Test hook: read PLTFM_REDIS again (the previous transport stays alive, never freed), and
// forget a stall of the previous one.
void reload_for_test();

}  // namespace pltfm::redis
