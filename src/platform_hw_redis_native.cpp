// The native transport: the library's command texts answered without a process, Redis
// commands over one persistent hiredis connection (behind a lock, shared by the SDK's thread
// and the insertion thread) and the port configuration pipeline from the file itself.
#include "platform_hw_redis_native.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "log.h"
#include "platform_hw_port_config.h"
#include "platform_hw_redis_hiredis.h"
#include "platform_hw_redis_stall.h"

namespace pltfm::redis {

Connection::~Connection() {
    if (ctx_ != nullptr) redisFree(ctx_);
}

bool Connection::connect() {
    redisContext *c = connect_within_limit(endpoint_);
    if (c == nullptr || c->err != 0) {
        timed_out_ = c != nullptr && no_answer(*c);
        // Logged once per failure: a server that stays away does not fill the log.
        if (!reported_)
            PLTFM_LOG("Redis connection to %s failed: %s", endpoint_.text.c_str(),
                      c == nullptr ? "out of memory" : why(*c).c_str());
        reported_ = true;
        if (c != nullptr) redisFree(c);
        return false;
    }
    ctx_ = c;
    timed_out_ = false;
    owner_ = ::getpid();
    db_ = -1;
    return true;
}

void Connection::drop(const char *what) {
    timed_out_ = no_answer(*ctx_);
    if (!reported_)
        PLTFM_LOG("Redis connection to %s %s: %s", endpoint_.text.c_str(), what,
                  why(*ctx_).c_str());
    reported_ = true;
    redisFree(ctx_);
    ctx_ = nullptr;
}

bool Connection::ready() {
    if (ctx_ != nullptr && owner_ != ::getpid()) {
        // Inherited from the parent process: closing our copy leaves the parent's intact.
        redisFree(ctx_);
        ctx_ = nullptr;
    }
    return ctx_ != nullptr || connect();
}

Connection::Answer Connection::answered(std::optional<std::string> printed) {
    if (!printed) return Answer{std::nullopt, timed_out_};
    // The connection is made again once it answers (not when a connection to a server that
    // does not answer is merely accepted).
    if (reported_) PLTFM_LOG("Redis connection to %s made again", endpoint_.text.c_str());
    reported_ = false;
    return Answer{std::move(printed), false};
}

Connection::Answer Connection::run(const Command &command) {
    const bool reused = ctx_ != nullptr && owner_ == ::getpid();
    if (!ready()) return Answer{std::nullopt, timed_out_};
    SigpipeBlock no_sigpipe;
    std::optional<std::string> printed = exchange(command);
    // A connection that sat idle may have been closed by the server (a restart, a client
    // kill): the command goes once more over a fresh one. hget and hset may run twice. Not
    // after a timeout: a server that does not answer gets one limit per access, not two.
    if (!printed && reused && ctx_ == nullptr && !timed_out_ && connect())
        printed = exchange(command);
    return answered(std::move(printed));
}

Connection::Answer Connection::ping() {
    if (!ready()) return Answer{std::nullopt, timed_out_};
    SigpipeBlock no_sigpipe;
    void *raw = redisCommand(ctx_, "PING");
    if (raw == nullptr) {
        drop("lost");
        return Answer{std::nullopt, timed_out_};
    }
    const reply_ptr reply(static_cast<redisReply *>(raw));
    std::string printed;
    render(*reply, printed);
    return answered(std::move(printed));
}

std::optional<std::string> Connection::exchange(const Command &command) {
    char db[12];
    std::snprintf(db, sizeof db, "%d", command.db);
    const bool select = db_ != command.db;
    const char *select_argv[] = {"SELECT", db};
    const bool hset = command.kind == Command::Kind::hset;
    std::vector<const char *> argv = {hset ? "HSET" : "HGET", command.key.c_str(),
                                      command.field.c_str()};
    std::vector<std::size_t> lens = {4, command.key.size(), command.field.size()};
    if (hset) {
        argv.push_back(command.value.c_str());
        lens.push_back(command.value.size());
        // One push_back at a time: a range insert makes an unoptimised build emit (and
        // export) a standard-library object the library must not export.
        for (const auto &[field, value] : command.more) {
            argv.push_back(field.c_str());
            argv.push_back(value.c_str());
            lens.push_back(field.size());
            lens.push_back(value.size());
        }
    }
    // Both go out together: one round trip also when the database changes.
    if ((select && redisAppendCommandArgv(ctx_, 2, select_argv, nullptr) != REDIS_OK) ||
        redisAppendCommandArgv(ctx_, static_cast<int>(argv.size()), argv.data(), lens.data()) !=
            REDIS_OK) {
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
        Connection::Answer answer;
        if (command->kind == Command::Kind::port_config) {
            answer.printed = hw::port_config::fourth_column(command->path, command->pattern);
        } else {
            std::lock_guard<std::mutex> hold(lock_);
            // It waited for the connection behind an access that found Redis stalled.
            if (AccessUnderWay::abandoned()) return Outcome::not_sent;
            answer = connection_.run(*command);
            // Before the connection is free again: the access waiting for it gives up.
            if (answer.timed_out) stall_policy().timed_out_now(AccessUnderWay::name_or(cmd));
        }
        if (answer.timed_out) return Outcome::timed_out;
        const auto &printed = answer.printed;
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

    Outcome probe() override {
        std::lock_guard<std::mutex> hold(lock_);
        const Connection::Answer answer = connection_.ping();
        if (answer.timed_out) return Outcome::timed_out;
        return answer.printed ? Outcome::line : Outcome::no_output;
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
