// Helpers of the native mode's hiredis connections (see the header).
#include "platform_hw_redis_hiredis.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pltfm::redis {

namespace {

timeval answer_timeout() {
    const long long ms = native_answer_bound().count();
    return timeval{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
}

}  // namespace

redisContext *connect_within_limit(const Endpoint &endpoint) {
    const timeval limit = answer_timeout();
    redisContext *c = endpoint.kind == Endpoint::Kind::unix_socket
                          ? redisConnectUnixWithTimeout(endpoint.path.c_str(), limit)
                          : redisConnectWithTimeout(endpoint.host.c_str(), endpoint.port, limit);
    if (c == nullptr || c->err != 0) return c;
    if (redisSetTimeout(c, limit) != REDIS_OK) return c;
    // Commands the host process starts must not inherit the connection.
    ::fcntl(c->fd, F_SETFD, ::fcntl(c->fd, F_GETFD) | FD_CLOEXEC);
    return c;
}

bool no_answer(const redisContext &c) {
    return c.err == REDIS_ERR_IO && (std::strcmp(c.errstr, std::strerror(EAGAIN)) == 0 ||
                                     std::strcmp(c.errstr, std::strerror(ETIMEDOUT)) == 0);
}

std::string why(const redisContext &c) {
    if (!no_answer(c)) return c.errstr;
    char text[48];
    std::snprintf(text, sizeof text, "no answer within %g s",
                  static_cast<double>(native_answer_bound().count()) / 1000.0);
    return text;
}

void render(const redisReply &r, std::string &out) {
    switch (r.type) {
        case REDIS_REPLY_STRING:
        case REDIS_REPLY_STATUS:
        case REDIS_REPLY_ERROR:
            out.append(r.str, r.len);
            out += '\n';
            break;
        case REDIS_REPLY_INTEGER: {
            char number[24];
            std::snprintf(number, sizeof number, "%lld\n", r.integer);
            out += number;
            break;
        }
        case REDIS_REPLY_NIL:
            out += '\n';
            break;
        case REDIS_REPLY_ARRAY:
            for (std::size_t i = 0; i < r.elements; ++i) render(*r.element[i], out);
            break;
        default:
            break;
    }
}

SigpipeBlock::SigpipeBlock() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &saved_);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
}

SigpipeBlock::~SigpipeBlock() {
    sigset_t pending;
    sigpending(&pending);
    if (!was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
        const timespec none{0, 0};
        while (sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace pltfm::redis
