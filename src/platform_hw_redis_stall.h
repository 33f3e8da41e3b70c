// The rule for a Redis that does not answer, the same for both transports. After an access
// that got no answer within its bound, Redis counts as stalled: every further access fails at
// once, exactly as a command that printed nothing (the callers fall back as they always do),
// without touching the server, until a retry gets an answer. Retries are made at most once a
// second, by the insertion thread between its visits, where they cost the SDK's thread
// nothing; while that thread does not run, the first access after the interval is the retry.
// Accesses that fail at once (refused, an error reply) are not a stall and are tried one by
// one as always.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>

#include "platform_hw_redis_transport.h"

namespace pltfm::redis {

class StallPolicy {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kRetryInterval{1000};
    // Retries are left to the insertion thread while its last pass is at most this old.
    static constexpr std::chrono::milliseconds kMonitorActive{3000};

    // What an access may do now: go to the server; go as the retry of a stall; or fail at
    // once because Redis is stalled.
    enum class Turn { go, retry, skip };
    Turn before_access();
    // What an access that went (go or retry) gave; `what` names it in the stall's log line.
    void after_access(Turn turn, Outcome outcome, const char *what);
    // An access has just timed out: Redis counts as stalled from now on. A transport that
    // serialises its accesses says so before the next one may go, so that it gives up
    // (after_access then finds the stall already begun).
    void timed_out_now(const char *what);

    // Called by the insertion thread at the start of every pass, with no lock held: runs
    // `probe` as the retry when Redis is stalled and a retry is due.
    void retry_from_monitor(const std::function<Outcome()> &probe);

    bool stalled() const;
    // Number of stalls that have ended so far (the insertion thread makes owed writes after).
    unsigned long recoveries() const;

    void reset_for_test();
    void set_retry_interval_for_test(std::chrono::milliseconds interval);

  private:
    void stall_locked(Clock::time_point now, const char *what);
    void end_locked(Clock::time_point now, Outcome outcome);

    mutable std::mutex m_;
    bool stalled_ = false;            // guarded by m_, as every field below
    bool retrying_ = false;           // a retry is under way
    Clock::time_point since_{};       // when the stall began
    Clock::time_point next_retry_{};  // earliest moment of the next retry
    Clock::time_point last_pass_{};   // start of the insertion thread's last pass
    bool pass_seen_ = false;
    unsigned long recoveries_ = 0;
    std::chrono::milliseconds interval_ = kRetryInterval;
};

StallPolicy &stall_policy();

// The Redis access the calling thread is making. An ordinary one (let go while Redis answered,
// not the retry) may wait behind, or beside, another access to a server that has just gone
// silent: once that other access times out and Redis counts as stalled, abandoned() tells the
// transport to give it up at once (Outcome::not_sent) instead of waiting out a bound of its
// own on the silent server. Outside such a scope nothing is abandoned.
// `name`, when given, names the access in the stall's log line in place of its command (a
// transport that declares the stall itself asks for it with name_or).
class AccessUnderWay {
  public:
    explicit AccessUnderWay(bool ordinary, const char *name = nullptr)
        : saved_(ordinary_), saved_name_(name_) {
        ordinary_ = ordinary;
        name_ = name;
    }
    ~AccessUnderWay() {
        ordinary_ = saved_;
        name_ = saved_name_;
    }
    AccessUnderWay(const AccessUnderWay &) = delete;
    AccessUnderWay &operator=(const AccessUnderWay &) = delete;

    static bool abandoned() { return ordinary_ && stall_policy().stalled(); }
    static const char *name_or(const char *command) { return name_ != nullptr ? name_ : command; }

  private:
    static thread_local bool ordinary_;
    static thread_local const char *name_;
    bool saved_;
    const char *saved_name_;
};

}  // namespace pltfm::redis
