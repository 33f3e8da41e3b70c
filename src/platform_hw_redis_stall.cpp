// The stall rule (see the header): one small state machine, healthy or stalled since a
// moment, with the time of the next retry.
#include "platform_hw_redis_stall.h"

#include "log.h"

namespace pltfm::redis {

namespace {

double seconds_between(StallPolicy::Clock::time_point from, StallPolicy::Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

StallPolicy::Turn StallPolicy::before_access() {
    std::lock_guard<std::mutex> hold(m_);
    if (!stalled_) return Turn::go;
    const auto now = Clock::now();
    // The insertion thread makes the retries while it runs; the SDK's thread never waits.
    const bool monitor_runs = pass_seen_ && now - last_pass_ <= kMonitorActive;
    if (monitor_runs || retrying_ || now < next_retry_) return Turn::skip;
    retrying_ = true;
    return Turn::retry;
}

void StallPolicy::after_access(Turn turn, Outcome outcome, const char *what) {
    std::lock_guard<std::mutex> hold(m_);
    const auto now = Clock::now();
    if (turn == Turn::retry) retrying_ = false;
    // Given up because another access found Redis stalled: says nothing new of the server.
    if (outcome == Outcome::not_sent) return;
    if (outcome == Outcome::timed_out) {
        if (!stalled_)
            stall_locked(now, what);
        else
            next_retry_ = now + interval_;
        return;
    }
    // Any other outcome is the server's (or the command's) own doing at once: no stall.
    if (stalled_) end_locked(now, outcome);
}

void StallPolicy::timed_out_now(const char *what) {
    std::lock_guard<std::mutex> hold(m_);
    if (!stalled_) stall_locked(Clock::now(), what);
}

void StallPolicy::retry_from_monitor(const std::function<Outcome()> &probe) {
    {
        std::lock_guard<std::mutex> hold(m_);
        const auto now = Clock::now();
        last_pass_ = now;
        pass_seen_ = true;
        if (!stalled_ || retrying_ || now < next_retry_) return;
        retrying_ = true;
    }
    Outcome outcome = Outcome::timed_out;
    try {
        outcome = probe();
    } catch (...) {
        // Out of memory inside the transport: try again at the next retry.
    }
    after_access(Turn::retry, outcome, "PING");
}

bool StallPolicy::stalled() const {
    std::lock_guard<std::mutex> hold(m_);
    return stalled_;
}

unsigned long StallPolicy::recoveries() const {
    std::lock_guard<std::mutex> hold(m_);
    return recoveries_;
}

void StallPolicy::stall_locked(Clock::time_point now, const char *what) {
    stalled_ = true;
    since_ = now;
    next_retry_ = now + interval_;
    PLTFM_LOG_AS("pltfm_redis_read",
                 "Redis does not answer (no reply in time to %s): Redis accesses fail at once "
                 "until a retry, at most one a second, gets an answer",
                 what);
}

void StallPolicy::end_locked(Clock::time_point now, Outcome outcome) {
    stalled_ = false;
    ++recoveries_;
    if (outcome == Outcome::line)
        PLTFM_LOG_AS("pltfm_redis_read", "Redis answers again after %.1f s without an answer",
                     seconds_between(since_, now));
    else
        PLTFM_LOG_AS("pltfm_redis_read",
                     "Redis no longer stalls after %.1f s: it fails at once now (refused or "
                     "an error); Redis accesses are tried again",
                     seconds_between(since_, now));
}

void StallPolicy::reset_for_test() {
    std::lock_guard<std::mutex> hold(m_);
    stalled_ = false;
    retrying_ = false;
    pass_seen_ = false;
    recoveries_ = 0;
}

void StallPolicy::set_retry_interval_for_test(std::chrono::milliseconds interval) {
    std::lock_guard<std::mutex> hold(m_);
    interval_ = interval;
}

thread_local bool AccessUnderWay::ordinary_ = false;
thread_local const char *AccessUnderWay::name_ = nullptr;

StallPolicy &stall_policy() {
    // Never destroyed: the insertion thread may use it while the process exits.
    static auto *policy = new StallPolicy;
    return *policy;
}

}  // namespace pltfm::redis
