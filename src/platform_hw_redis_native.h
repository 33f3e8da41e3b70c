// The native transport's connection to the OS's Redis server (hiredis): one persistent
// connection, made on first use and made again on the access after it was lost, with a
// one-second limit on connecting and on every answer.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "platform_hw_redis_command.h"
#include "platform_hw_redis_transport.h"

struct redisContext;

namespace pltfm::redis {

class Connection {
  public:
    explicit Connection(Endpoint endpoint) : endpoint_(std::move(endpoint)) {}
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // What an exchange gave: what redis-cli would have printed for the reply, its line feed
    // included (a nil as an empty line, an error as its text, an integer in decimal), or
    // nothing when no answer came, with `timed_out` set when the server took the request
    // (or the connection) and kept silent beyond the limit.
    struct Answer {
        std::optional<std::string> printed;
        bool timed_out = false;
    };
    // Runs an hget or hset in the command's database. Not thread-safe: one caller at a time.
    Answer run(const Command &command);
    // PING, for the retry of a stalled server.
    Answer ping();

  private:
    bool connect();
    // Makes a connection when there is none (a forked child makes its own); false when none
    // could be made.
    bool ready();
    // After an exchange: a first answer since a failure is logged once.
    Answer answered(std::optional<std::string> printed);
    // One command (after a SELECT when the database changes) on ctx_; drops ctx_ when no
    // answer came.
    std::optional<std::string> exchange(const Command &command);
    void drop(const char *what);

    Endpoint endpoint_;
    redisContext *ctx_ = nullptr;
    pid_t owner_ = 0;         // the process that made ctx_ (a forked child makes its own)
    int db_ = -1;             // database selected on ctx_, -1 when unknown
    bool reported_ = false;   // a failure was logged and nothing was answered since
    bool timed_out_ = false;  // the last failure was a limit that expired
};

}  // namespace pltfm::redis
