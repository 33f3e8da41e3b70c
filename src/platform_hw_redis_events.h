// Module events in native mode: a connection of its own, subscribed to the keyspace events of
// the state database's transceiver records ("__keyspace@6__:TRANSCEIVER_STATUS|*" and
// "__keyspace@6__:TRANSCEIVER_INFO|*"), so that the insertion thread hears of a module change
// within milliseconds instead of at its next pass. The subscription is made only when the
// server already sends such events: the library reads notify-keyspace-events and never
// changes the server's configuration. The source only says which interface an event is about;
// the insertion thread decides what it means.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform_hw_redis_transport.h"

struct redisContext;

namespace pltfm::redis {

// The interface a keyspace event channel is about: "Ethernet8" for
// "__keyspace@6__:TRANSCEIVER_STATUS|Ethernet8" or "...TRANSCEIVER_INFO|Ethernet8"; empty for
// any other channel.
std::string event_interface(std::string_view channel);

// Whether notify-keyspace-events sends what the subscription needs: keyspace events (K) of
// hash commands (h) and of generic ones such as DEL (g); "A" stands for every class.
bool keyspace_flags_suffice(std::string_view flags);

class KeyspaceEvents {
  public:
    explicit KeyspaceEvents(Endpoint endpoint) : endpoint_(std::move(endpoint)) {}
    ~KeyspaceEvents();
    KeyspaceEvents(const KeyspaceEvents &) = delete;
    KeyspaceEvents &operator=(const KeyspaceEvents &) = delete;

    enum class Subscription {
        none,        // not subscribed: events are off, refused, or the server is away
        subscribed,  // subscribed, as before
        made_again,  // subscribed again after the subscription was lost: events were missed
    };
    // Makes the subscription when there is none (at most one attempt a second; once a minute
    // while the server's notifications are off). Call once per pass of the insertion thread.
    Subscription ensure();
    bool subscribed();

    // Waits up to `wait` for events and appends the interfaces they are about (in arrival
    // order, repeats included). False when the subscription was lost meanwhile.
    bool wait(std::chrono::milliseconds wait, std::vector<std::string> &interfaces);
    // Reads every event the server sent before this call (a PING round trip marks the point),
    // appending their interfaces. False when not subscribed or the subscription was lost.
    bool drain(std::vector<std::string> &interfaces);

  private:
    using Clock = std::chrono::steady_clock;
    enum class Why { none, cannot_connect, config_refused, flags_off, lost };
    bool subscribe_locked();
    // Reads the replies that stand complete in the connection's buffer.
    bool take_buffered_locked(std::vector<std::string> &interfaces);
    void lose_locked(const char *what);
    // One line when the reason for having no subscription changes.
    void unavailable_locked(Why why, const std::string &detail);

    Endpoint endpoint_;
    std::mutex m_;                  // guards every field below
    redisContext *ctx_ = nullptr;   // the subscribed connection
    pid_t owner_ = 0;               // the process that made ctx_
    Why last_ = Why::none;          // why the last attempt failed (for one line per change)
    bool ever_subscribed_ = false;  // a later subscription is "made again"
    Clock::time_point next_attempt_{};
};

// The event source of this process: null in pipe mode.
KeyspaceEvents *keyspace_events();
// Test hook: forget the event source (with reload_for_test).
void events_reset_for_test();

}  // namespace pltfm::redis
