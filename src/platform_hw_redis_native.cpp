// The native transport: the library's command texts answered without a process, Redis
// commands over one persistent hiredis connection (behind a lock, shared by the SDK's thread
// and the insertion thread) and the port configuration pipeline from the file itself.
#include "platform_hw_redis_native.h"

#include <fcntl.h>
#include <hiredis/hiredis.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "log.h"
#include "platform_hw_port_config.h"

namespace pltfm::redis {

namespace {

constexpr timeval kTimeout{1, 0};  // connecting, and waiting for each answer

// Writing to a connection the server closed raises SIGPIPE, which would end the SDK's
// process. The signal is blocked for the calling thread while a command runs, and one it
// raised is taken off the thread's pending set before the mask is restored.
class SigpipeBlock {
  public:
    SigpipeBlock() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &saved_);
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeBlock() {
        sigset_t pending;
        sigpending(&pending);
        if (!was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec none{0, 0};
            while (sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock &) = delete;
    SigpipeBlock &operator=(const SigpipeBlock &) = delete;

  private:
    sigset_t pipe_{}, saved_{};
    bool was_pending_ = false;
};

struct ReplyFree {
    void operator()(redisReply *r) const { freeReplyObject(r); }
};
using reply_ptr = std::unique_ptr<redisReply, ReplyFree>;

// What redis-cli prints for a reply when its output is not a terminal.
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

// The read or write timeout of the socket expired.
bool no_answer(const redisContext &c) {
    return c.err == REDIS_ERR_IO && std::strcmp(c.errstr, std::strerror(EAGAIN)) == 0;
}

std::string why(const redisContext &c) {
    return no_answer(c) ? "no answer within 1 s" : c.errstr;
}

}  // namespace

Connection::~Connection() {
    if (ctx_ != nullptr) redisFree(ctx_);
}

bool Connection::connect() {
    redisContext *c =
        endpoint_.kind == Endpoint::Kind::unix_socket
            ? redisConnectUnixWithTimeout(endpoint_.path.c_str(), kTimeout)
            : redisConnectWithTimeout(endpoint_.host.c_str(), endpoint_.port, kTimeout);
    if (c == nullptr || c->err != 0 || redisSetTimeout(c, kTimeout) != REDIS_OK) {
        if (!reported_)
            PLTFM_LOG("Redis connection to %s failed: %s", endpoint_.text.c_str(),
                      c == nullptr ? "out of memory" : why(*c).c_str());
        reported_ = true;
        if (c != nullptr) redisFree(c);
        return false;
    }
    // Commands the host process starts must not inherit the connection.
    ::fcntl(c->fd, F_SETFD, ::fcntl(c->fd, F_GETFD) | FD_CLOEXEC);
    if (reported_) PLTFM_LOG("Redis connection to %s made again", endpoint_.text.c_str());
    reported_ = false;
    ctx_ = c;
    timed_out_ = false;
    owner_ = ::getpid();
    db_ = -1;
    return true;
}

void Connection::drop(const char *what) {
    timed_out_ = no_answer(*ctx_);
    PLTFM_LOG("Redis connection to %s %s: %s", endpoint_.text.c_str(), what, why(*ctx_).c_str());
    reported_ = true;
    redisFree(ctx_);
    ctx_ = nullptr;
}

std::optional<std::string> Connection::run(const Command &command) {
    if (ctx_ != nullptr && owner_ != ::getpid()) {
        // Inherited from the parent process: closing our copy leaves the parent's intact.
        redisFree(ctx_);
        ctx_ = nullptr;
    }
    const bool reused = ctx_ != nullptr;
    if (ctx_ == nullptr && !connect()) return std::nullopt;
    SigpipeBlock no_sigpipe;
    std::optional<std::string> printed = exchange(command);
    // A connection that sat idle may have been closed by the server (a restart, a client
    // kill): the command goes once more over a fresh one. hget and hset may run twice. Not
    // after a timeout: a server that does not answer gets one second per access, not two.
    if (!printed && reused && ctx_ == nullptr && !timed_out_ && connect())
        printed = exchange(command);
    return printed;
}

std::optional<std::string> Connection::exchange(const Command &command) {
    char db[12];
    std::snprintf(db, sizeof db, "%d", command.db);
    const bool select = db_ != command.db;
    const char *select_argv[] = {"SELECT", db};
    const bool hset = command.kind == Command::Kind::hset;
    const char *argv[] = {hset ? "HSET" : "HGET", command.key.c_str(), command.field.c_str(),
                          command.value.c_str()};
    const size_t lens[] = {4, command.key.size(), command.field.size(), command.value.size()};
    // Both go out together: one round trip also when the database changes.
    if ((select && redisAppendCommandArgv(ctx_, 2, select_argv, nullptr) != REDIS_OK) ||
        redisAppendCommandArgv(ctx_, hset ? 4 : 3, argv, lens) != REDIS_OK) {
        drop("lost");
        return std::nullopt;
    }

    void *raw = nullptr;
    if (select) {
        if (redisGetReply(ctx_, &raw) != REDIS_OK) {
            drop("lost");
            return std::nullopt;
        }
        const reply_ptr selected(static_cast<redisReply *>(raw));
        if (selected->type == REDIS_REPLY_ERROR) {
            // The command queued behind the failed SELECT is answered but not used.
            PLTFM_LOG("Redis SELECT %d failed on %s: %s", command.db, endpoint_.text.c_str(),
                      selected->str);
            if (redisGetReply(ctx_, &raw) != REDIS_OK)
                drop("lost");
            else
                freeReplyObject(raw);
            return std::nullopt;
        }
        db_ = command.db;
    }
    if (redisGetReply(ctx_, &raw) != REDIS_OK) {
        drop("lost");
        return std::nullopt;
    }
    const reply_ptr reply(static_cast<redisReply *>(raw));
    std::string printed;
    render(*reply, printed);
    return printed;
}

namespace {

class NativeTransport final : public Transport {
  public:
    explicit NativeTransport(const Endpoint &endpoint) : connection_(endpoint) {}

    Outcome first_line(const char *cmd, char *out, int size) override {
        const auto command = parse_command(cmd);
        if (!command) {
            PLTFM_LOG("Not a command of the library; native Redis mode does not run it: %s", cmd);
            return Outcome::cannot_start;
        }
        std::optional<std::string> printed;
        if (command->kind == Command::Kind::port_config) {
            printed = hw::port_config::fourth_column(command->path, command->pattern);
        } else {
            std::lock_guard<std::mutex> hold(lock_);
            printed = connection_.run(*command);
        }
        // fgets with room for no character stores the terminator without reading.
        if (size == 1) {
            out[0] = '\0';
            return Outcome::line;
        }
        if (!printed || printed->empty()) return Outcome::no_output;
        const std::size_t room = static_cast<std::size_t>(size) - 1;
        const std::size_t feed = printed->find('\n');
        const std::size_t n =
            std::min(room, feed == std::string::npos ? printed->size() : feed + 1);
        std::memcpy(out, printed->data(), n);
        out[n] = '\0';
        return Outcome::line;
    }

  private:
    std::mutex lock_;        // one command at a time on the connection
    Connection connection_;  // guarded by lock_
};

}  // namespace

std::unique_ptr<Transport> make_native_transport(const Endpoint &endpoint) {
    return std::make_unique<NativeTransport>(endpoint);
}

}  // namespace pltfm::redis
