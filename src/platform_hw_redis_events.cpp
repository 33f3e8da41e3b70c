// The keyspace event subscription of the native mode (see the header).
#include "platform_hw_redis_events.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "intf_name.h"
#include "log.h"
#include "platform_hw_redis_hiredis.h"
#include "platform_hw_redis_stall.h"

namespace pltfm::redis {

namespace {

constexpr std::string_view kChannelPrefix = "__keyspace@6__:";
constexpr std::string_view kStatusPrefix = "TRANSCEIVER_STATUS|";
constexpr std::string_view kInfoPrefix = "TRANSCEIVER_INFO|";
constexpr const char *kStatusPattern = "__keyspace@6__:TRANSCEIVER_STATUS|*";
constexpr const char *kInfoPattern = "__keyspace@6__:TRANSCEIVER_INFO|*";

constexpr auto kAttemptInterval = std::chrono::seconds(1);
// While the server's notifications are off (or CONFIG is refused), look again now and then:
// an operator may turn them on without restarting the switch.
constexpr auto kOffInterval = std::chrono::seconds(60);

bool is(const redisReply &r, int type) {
    return r.type == type;
}

std::string text_of(const redisReply &r) {
    return (r.type == REDIS_REPLY_STRING || r.type == REDIS_REPLY_STATUS ||
            r.type == REDIS_REPLY_ERROR)
               ? std::string(r.str, r.len)
               : std::string();
}

}  // namespace

std::string event_interface(std::string_view channel) {
    if (channel.substr(0, kChannelPrefix.size()) != kChannelPrefix) return {};
    std::string_view key = channel.substr(kChannelPrefix.size());
    if (key.substr(0, kStatusPrefix.size()) == kStatusPrefix)
        key.remove_prefix(kStatusPrefix.size());
    else if (key.substr(0, kInfoPrefix.size()) == kInfoPrefix)
        key.remove_prefix(kInfoPrefix.size());
    else
        return {};
    // Only a name the library could have stored for a port.
    if (key.empty() || key.size() >= 24) return {};
    const std::string name(key);
    return pltfm::is_safe_intf_name(name.c_str()) ? name : std::string();
}

bool keyspace_flags_suffice(std::string_view flags) {
    const auto has = [flags](char c) { return flags.find(c) != std::string_view::npos; };
    return has('K') && (has('A') || (has('g') && has('h')));
}

KeyspaceEvents::~KeyspaceEvents() {
    if (ctx_ != nullptr && owner_ == ::getpid()) redisFree(ctx_);
}

void KeyspaceEvents::unavailable_locked(Why why, const std::string &detail) {
    if (why == last_) return;
    last_ = why;
    switch (why) {
        case Why::cannot_connect:
            PLTFM_LOG_AS("pltfm_transceiver_hw_oir_monitor",
                         "Redis keyspace events: no connection to %s (%s); module changes are "
                         "seen by the once-a-second poll",
                         endpoint_.text.c_str(), detail.c_str());
            break;
        case Why::config_refused:
            PLTFM_LOG_AS("pltfm_transceiver_hw_oir_monitor",
                         "Redis keyspace events: CONFIG GET notify-keyspace-events is refused "
                         "(%s); module changes are seen by the once-a-second poll only",
                         detail.c_str());
            break;
        case Why::flags_off:
            PLTFM_LOG_AS("pltfm_transceiver_hw_oir_monitor",
                         "Redis keyspace events are off (notify-keyspace-events \"%s\"; needs K "
                         "with A, or K with g and h); module changes are seen by the "
                         "once-a-second poll only",
                         detail.c_str());
            break;
        case Why::lost:
        case Why::none:
            break;
    }
}

void KeyspaceEvents::lose_locked(const char *what) {
    const std::string reason = ctx_ != nullptr ? why(*ctx_) : std::string("closed");
    PLTFM_LOG_AS("pltfm_transceiver_hw_oir_monitor",
                 "Redis keyspace events %s (%s); module changes are seen by the poll until the "
                 "subscription is made again",
                 what, reason.c_str());
    if (ctx_ != nullptr) redisFree(ctx_);
    ctx_ = nullptr;
    last_ = Why::lost;
    next_attempt_ = {};  // the next pass subscribes again at once
}

bool KeyspaceEvents::subscribe_locked() {
    redisContext *c = connect_within_limit(endpoint_);
    if (c == nullptr || c->err != 0) {
        unavailable_locked(Why::cannot_connect, c == nullptr ? "out of memory" : why(*c));
        if (c != nullptr) redisFree(c);
        return false;
    }
    SigpipeBlock no_sigpipe;
    const reply_ptr config(
        static_cast<redisReply *>(redisCommand(c, "CONFIG GET notify-keyspace-events")));
    if (!config) {
        unavailable_locked(Why::cannot_connect, why(*c));
        redisFree(c);
        return false;
    }
    if (is(*config, REDIS_REPLY_ERROR) || !is(*config, REDIS_REPLY_ARRAY) ||
        config->elements != 2) {
        unavailable_locked(Why::config_refused, is(*config, REDIS_REPLY_ERROR)
                                                    ? text_of(*config)
                                                    : std::string("an unexpected reply"));
        redisFree(c);
        return false;
    }
    const std::string flags = text_of(*config->element[1]);
    if (!keyspace_flags_suffice(flags)) {
        unavailable_locked(Why::flags_off, flags);
        redisFree(c);
        return false;
    }
    if (redisAppendCommand(c, "PSUBSCRIBE %s %s", kStatusPattern, kInfoPattern) != REDIS_OK) {
        unavailable_locked(Why::cannot_connect, why(*c));
        redisFree(c);
        return false;
    }
    for (int confirmed = 0; confirmed < 2; ++confirmed) {
        void *raw = nullptr;
        if (redisGetReply(c, &raw) != REDIS_OK) {
            unavailable_locked(Why::cannot_connect, why(*c));
            redisFree(c);
            return false;
        }
        const reply_ptr reply(static_cast<redisReply *>(raw));
        if (!is(*reply, REDIS_REPLY_ARRAY) || reply->elements != 3 ||
            text_of(*reply->element[0]) != "psubscribe") {
            unavailable_locked(Why::config_refused, is(*reply, REDIS_REPLY_ERROR)
                                                        ? text_of(*reply)
                                                        : std::string("PSUBSCRIBE not confirmed"));
            redisFree(c);
            return false;
        }
    }
    ctx_ = c;
    owner_ = ::getpid();
    last_ = Why::none;
    return true;
}

KeyspaceEvents::Subscription KeyspaceEvents::ensure() {
    std::lock_guard<std::mutex> hold(m_);
    if (ctx_ != nullptr && owner_ != ::getpid()) {
        // Inherited from the parent process: closing our copy leaves the parent's intact, and
        // a forked child subscribes on its own.
        redisFree(ctx_);
        ctx_ = nullptr;
        ever_subscribed_ = false;
        last_ = Why::none;
        next_attempt_ = {};
    }
    if (ctx_ != nullptr) return Subscription::subscribed;
    const auto now = Clock::now();
    // A stalled server is not asked: the retry of the stall says when it answers again.
    if (now < next_attempt_ || stall_policy().stalled()) return Subscription::none;
    const bool made = subscribe_locked();
    next_attempt_ = now + ((last_ == Why::flags_off || last_ == Why::config_refused)
                               ? std::chrono::duration_cast<Clock::duration>(kOffInterval)
                               : std::chrono::duration_cast<Clock::duration>(kAttemptInterval));
    if (!made) return Subscription::none;
    const bool again = ever_subscribed_;
    ever_subscribed_ = true;
    PLTFM_LOG_AS("pltfm_transceiver_hw_oir_monitor",
                 again ? "Redis keyspace events of the transceiver records subscribed again on "
                         "%s; one pass looks at every port afresh"
                       : "Redis keyspace events of the transceiver records subscribed on %s: "
                         "module changes are seen as they happen",
                 endpoint_.text.c_str());
    return again ? Subscription::made_again : Subscription::subscribed;
}

bool KeyspaceEvents::subscribed() {
    std::lock_guard<std::mutex> hold(m_);
    return ctx_ != nullptr && owner_ == ::getpid();
}

bool KeyspaceEvents::take_buffered_locked(std::vector<std::string> &interfaces) {
    for (;;) {
        void *raw = nullptr;
        if (redisGetReplyFromReader(ctx_, &raw) != REDIS_OK) return false;
        if (raw == nullptr) return true;
        const reply_ptr reply(static_cast<redisReply *>(raw));
        if (!is(*reply, REDIS_REPLY_ARRAY) || reply->elements < 1) continue;
        if (text_of(*reply->element[0]) != "pmessage" || reply->elements != 4) continue;
        const std::string name = event_interface(text_of(*reply->element[2]));
        if (!name.empty()) interfaces.push_back(name);
    }
}

bool KeyspaceEvents::wait(std::chrono::milliseconds wait, std::vector<std::string> &interfaces) {
    std::lock_guard<std::mutex> hold(m_);
    if (ctx_ == nullptr || owner_ != ::getpid()) return false;
    // Events read along with an earlier PING's answer wait in the buffer.
    const std::size_t before = interfaces.size();
    if (!take_buffered_locked(interfaces)) {
        lose_locked("lost");
        return false;
    }
    if (interfaces.size() > before) return true;
    pollfd p{ctx_->fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(wait.count()));
    if (ready < 0) return errno == EINTR;
    if (ready == 0) return true;
    if (redisBufferRead(ctx_) != REDIS_OK || !take_buffered_locked(interfaces)) {
        lose_locked("lost");
        return false;
    }
    return true;
}

bool KeyspaceEvents::drain(std::vector<std::string> &interfaces) {
    std::lock_guard<std::mutex> hold(m_);
    if (ctx_ == nullptr || owner_ != ::getpid()) return false;
    SigpipeBlock no_sigpipe;
    // The server answers the PING after every event it published before it: what stands
    // before the pong is everything sent so far.
    if (redisAppendCommand(ctx_, "PING") != REDIS_OK) {
        lose_locked("lost");
        return false;
    }
    bool pong = false;
    while (!pong) {
        void *raw = nullptr;
        if (redisGetReply(ctx_, &raw) != REDIS_OK) {
            lose_locked("lost");
            return false;
        }
        const reply_ptr reply(static_cast<redisReply *>(raw));
        if (!is(*reply, REDIS_REPLY_ARRAY) || reply->elements < 1) continue;
        const std::string kind = text_of(*reply->element[0]);
        if (kind == "pong") pong = true;
        if (kind == "pmessage" && reply->elements == 4) {
            const std::string name = event_interface(text_of(*reply->element[2]));
            if (!name.empty()) interfaces.push_back(name);
        }
    }
    return true;
}

namespace {

// Made with the transport (never freed, as the transport): the insertion thread may use it
// while the process exits.
std::atomic<KeyspaceEvents *> g_events{nullptr};
std::atomic<bool> g_events_chosen{false};
std::mutex g_events_guard;

}  // namespace

KeyspaceEvents *keyspace_events() {
    if (g_events_chosen.load()) return g_events.load();
    std::lock_guard<std::mutex> hold(g_events_guard);
    if (!g_events_chosen.load()) {
        if (const auto endpoint = native_endpoint()) g_events = new KeyspaceEvents(*endpoint);
        g_events_chosen = true;
    }
    return g_events.load();
}

void events_reset_for_test() {
    std::lock_guard<std::mutex> hold(g_events_guard);
    // The old source stays alive (and reachable): a thread of an earlier test may still hold it.
    static auto *retired = new std::vector<KeyspaceEvents *>;
    if (KeyspaceEvents *old = g_events.load()) retired->push_back(old);
    g_events = nullptr;
    g_events_chosen = false;
}

}  // namespace pltfm::redis
