// PLTFM_REDIS: validation of the endpoint and the choice of the transport, made once per
// process at the first Redis access.
#include "platform_hw_redis_transport.h"

#include <arpa/inet.h>
#include <sys/un.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "log.h"
#include "paths.h"
#include "platform_hw_redis_events.h"
#include "platform_hw_redis_stall.h"

namespace pltfm::redis {

namespace {

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

std::optional<Endpoint> parse_unix(std::string_view path, std::string &why) {
    // The length limit is the kernel's socket address; the characters are those PLTFM_ROOT
    // allows, which every OS socket path we know of keeps to.
    if (!paths::is_safe_path(path)) {
        why = "the socket path must be absolute, of letters, digits, '/', '_', '-' and '.'";
        return std::nullopt;
    }
    if (path.size() >= sizeof(sockaddr_un{}.sun_path)) {
        why = "the socket path is longer than 107 characters";
        return std::nullopt;
    }
    Endpoint e;
    e.kind = Endpoint::Kind::unix_socket;
    e.path = std::string(path);
    return e;
}

std::optional<Endpoint> parse_tcp(std::string_view rest, std::string &why) {
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos) {
        why = "expected tcp:HOST:PORT";
        return std::nullopt;
    }
    std::string_view host = rest.substr(0, colon);
    const std::string_view port = rest.substr(colon + 1);
    const int number =
        all_digits(port) && port.size() <= 5 ? std::atoi(std::string(port).c_str()) : 0;
    if (number < 1 || number > 65535) {
        why = "the port must be a number from 1 to 65535";
        return std::nullopt;
    }
    Endpoint e;
    e.kind = Endpoint::Kind::tcp;
    e.port = number;
    in6_addr v6{};
    in_addr v4{};
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        const std::string inner(host.substr(1, host.size() - 2));
        if (inet_pton(AF_INET6, inner.c_str(), &v6) == 1) {
            e.host = inner;
            return e;
        }
    } else if (host == "localhost" || inet_pton(AF_INET, std::string(host).c_str(), &v4) == 1) {
        e.host = std::string(host);
        return e;
    }
    why = "the host must be an IPv4 address, an IPv6 address in brackets or localhost";
    return std::nullopt;
}

// The transport in use; never freed (the insertion thread may use it while the process
// exits). Replaced only by the test hook, which keeps the old one alive.
std::atomic<Transport *> g_transport{nullptr};
std::once_flag g_once;
// The native connection's endpoint, written with g_transport (under g_once, or by the test
// hook while no library thread runs).
std::optional<Endpoint> g_endpoint;

std::atomic<long long> g_native_bound_ms{kNativeAnswerBound.count()};
std::atomic<long long> g_cli_bound_ms{kRedisCliBound.count()};

void choose() {
    g_endpoint.reset();
    const char *env = std::getenv("PLTFM_REDIS");
    if (env == nullptr || *env == '\0') {
        g_transport = &pipe_transport();
        return;
    }
    std::string why;
    const auto endpoint = parse_endpoint(env, why);
    if (!endpoint) {
        PLTFM_LOG("PLTFM_REDIS ignored: \"%s\": %s; Redis is reached through redis-cli", env,
                  why.c_str());
        g_transport = &pipe_transport();
        return;
    }
    PLTFM_LOG("Redis is reached over a persistent connection to %s (PLTFM_REDIS)", env);
    g_endpoint = endpoint;
    g_transport = make_native_transport(*endpoint).release();
}

}  // namespace

std::optional<Endpoint> parse_endpoint(std::string_view value, std::string &why) {
    std::optional<Endpoint> e;
    if (value.substr(0, 5) == "unix:") {
        e = parse_unix(value.substr(5), why);
    } else if (value.substr(0, 4) == "tcp:") {
        e = parse_tcp(value.substr(4), why);
    } else {
        why = "expected unix:/path/to/redis.sock or tcp:HOST:PORT";
    }
    if (e) e->text = std::string(value);
    return e;
}

Transport &transport() {
    std::call_once(g_once, [] { choose(); });
    return *g_transport.load();
}

bool native() {
    return &transport() != &pipe_transport();
}

std::optional<Endpoint> native_endpoint() {
    transport();
    return g_endpoint;
}

std::chrono::milliseconds native_answer_bound() {
    return std::chrono::milliseconds(g_native_bound_ms.load());
}

std::chrono::milliseconds redis_cli_bound() {
    return std::chrono::milliseconds(g_cli_bound_ms.load());
}

void set_bounds_for_test(std::chrono::milliseconds native, std::chrono::milliseconds cli) {
    g_native_bound_ms = native.count();
    g_cli_bound_ms = cli.count();
}

void reload_for_test() {
    std::call_once(g_once, [] {});
    // Replaced transports stay reachable: a thread of an earlier test may still hold one.
    static auto *retired = new std::vector<Transport *>;
    Transport *old = g_transport.load();  // null when no access chose one yet
    if (old != nullptr && old != &pipe_transport()) retired->push_back(old);
    choose();
    stall_policy().reset_for_test();
    events_reset_for_test();
}

}  // namespace pltfm::redis
