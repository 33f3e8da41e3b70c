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

    // Runs an hget or hset in the command's database and returns what redis-cli would have
    // printed for the reply, its line feed included: a nil as an empty line, an error as its
    // text, an integer in decimal. nullopt when no answer came (server down, connection
    // lost, no answer within the limit). Not thread-safe: one caller at a time.
    std::optional<std::string> run(const Command &command);

  private:
    bool connect();
    // One command (after a SELECT when the database changes) on ctx_; drops ctx_ when no
    // answer came.
    std::optional<std::string> exchange(const Command &command);
    void drop(const char *what);

    Endpoint endpoint_;
    redisContext *ctx_ = nullptr;
    pid_t owner_ = 0;         // the process that made ctx_ (a forked child makes its own)
    int db_ = -1;             // database selected on ctx_, -1 when unknown
    bool reported_ = false;   // a failure was logged and no connection was made since
    bool timed_out_ = false;  // ctx_ was dropped because an answer did not come in time
};

}  // namespace pltfm::redis
