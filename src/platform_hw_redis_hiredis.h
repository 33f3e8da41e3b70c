// What both hiredis connections of the native mode share (the command connection and the
// keyspace event subscription): connecting within the answer limit, telling a silent server
// from a failing one, redis-cli's rendering of a reply, and SIGPIPE kept away from the host.
#pragma once

#include <hiredis/hiredis.h>
#include <signal.h>

#include <memory>
#include <string>

#include "platform_hw_redis_transport.h"

namespace pltfm::redis {

// Connects with the answer limit on connecting and on every later answer, the descriptor
// close-on-exec. Null when out of memory; otherwise check err.
redisContext *connect_within_limit(const Endpoint &endpoint);

// The read or write timeout of the socket expired, or connecting took longer than allowed.
bool no_answer(const redisContext &c);
// Why the connection failed, for a log line ("no answer within 1 s" for a silent server).
std::string why(const redisContext &c);

struct ReplyFree {
    void operator()(redisReply *r) const { freeReplyObject(r); }
};
using reply_ptr = std::unique_ptr<redisReply, ReplyFree>;

// What redis-cli prints for a reply when its output is not a terminal.
void render(const redisReply &r, std::string &out);

// Writing to a connection the server closed raises SIGPIPE, which would end the SDK's
// process. The signal is blocked for the calling thread while a command runs, and one it
// raised is taken off the thread's pending set before the mask is restored.
class SigpipeBlock {
  public:
    SigpipeBlock();
    ~SigpipeBlock();
    SigpipeBlock(const SigpipeBlock &) = delete;
    SigpipeBlock &operator=(const SigpipeBlock &) = delete;

  private:
    sigset_t pipe_{}, saved_{};
    bool was_pending_ = false;
};

}  // namespace pltfm::redis
