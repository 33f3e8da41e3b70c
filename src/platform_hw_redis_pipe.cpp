// The pipe transport: every command runs through the shell with its output in a pipe, and the
// first line it prints is read; the rest of its output is discarded. A command that has not
// finished within the bound (a redis-cli waiting on a server that does not answer) is ended:
// its process group is killed, the pipe closed and the child reaped.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform_hw_redis_stall.h"
#include "platform_hw_redis_transport.h"
#include "unique_fd.h"

extern char **environ;

namespace pltfm::redis {

namespace {

using Clock = std::chrono::steady_clock;

// While a command waits for output, how often it looks whether another access has found
// Redis stalled meanwhile (it then gives up instead of waiting out its bound).
constexpr int kStallLookMs = 20;

using pltfm::Fd;

class SpawnActions {
  public:
    SpawnActions() { ok_ = posix_spawn_file_actions_init(&a_) == 0; }
    ~SpawnActions() {
        if (ok_) posix_spawn_file_actions_destroy(&a_);
    }
    SpawnActions(const SpawnActions &) = delete;
    SpawnActions &operator=(const SpawnActions &) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t *get() { return &a_; }

  private:
    posix_spawn_file_actions_t a_{};
    bool ok_ = false;
};

class SpawnAttr {
  public:
    SpawnAttr() { ok_ = posix_spawnattr_init(&a_) == 0; }
    ~SpawnAttr() {
        if (ok_) posix_spawnattr_destroy(&a_);
    }
    SpawnAttr(const SpawnAttr &) = delete;
    SpawnAttr &operator=(const SpawnAttr &) = delete;
    bool ok() const { return ok_; }
    posix_spawnattr_t *get() { return &a_; }

  private:
    posix_spawnattr_t a_{};
    bool ok_ = false;
};

int remaining_ms(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60000));
}

// Waits for the child until the deadline; false when it is still running then.
bool reaped_by(pid_t pid, Clock::time_point deadline) {
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return true;
        if (r < 0 && errno != EINTR) return true;  // not ours to wait for (SIGCHLD ignored)
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(10000));
    }
}

void end_child(pid_t pid) {
    ::kill(-pid, SIGKILL);  // the shell and everything it started: its own process group
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// Runs `cmd` with `sh -c` in a process group of its own and reads its first line into
// `out` as fgets(out, size, ...) on a popen pipe would. A command that has not finished
// within the bound, or that is given up because Redis was found stalled meanwhile, is ended.
Outcome run(const char *cmd, char *out, int size) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return Outcome::cannot_start;
    Fd read_end(fds[0]);
    Fd write_end(fds[1]);
    // With standard output closed (a daemon), the pipe may get descriptor 1 itself, which a
    // dup2 onto 1 would leave close-on-exec: move it above the standard three first.
    if (write_end.get() <= STDERR_FILENO) {
        const int moved = ::fcntl(write_end.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0) return Outcome::cannot_start;
        write_end.reset(moved);
    }
    SpawnActions actions;
    SpawnAttr attr;
    if (!actions.ok() || !attr.ok() ||
        posix_spawn_file_actions_adddup2(actions.get(), write_end.get(), STDOUT_FILENO) != 0 ||
        posix_spawnattr_setflags(attr.get(), POSIX_SPAWN_SETPGROUP) != 0 ||
        posix_spawnattr_setpgroup(attr.get(), 0) != 0)
        return Outcome::cannot_start;
    char sh[] = "sh", dash_c[] = "-c";
    char *argv[] = {sh, dash_c, const_cast<char *>(cmd), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", actions.get(), attr.get(), argv, environ) != 0)
        return Outcome::cannot_start;
    write_end.reset();

    const auto deadline = Clock::now() + redis_cli_bound();
    // fgets with room for no character stores the terminator without reading.
    const std::size_t room = size > 1 ? static_cast<std::size_t>(size) - 1 : 0;
    std::string line;
    bool done = room == 0;
    bool timed_out = false;
    bool abandoned = false;
    while (!done) {
        pollfd p{read_end.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, std::min(remaining_ms(deadline), kStallLookMs));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0 && AccessUnderWay::abandoned()) {
            abandoned = true;
            break;
        }
        if (ready == 0 && remaining_ms(deadline) > 0) continue;
        if (ready <= 0) {
            timed_out = true;
            break;
        }
        char buf[512];
        const ssize_t n = ::read(read_end.get(), buf, std::min(sizeof buf, room - line.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // end of output
        line.append(buf, static_cast<std::size_t>(n));
        const std::size_t feed = line.find('\n');
        if (feed != std::string::npos) {
            line.resize(feed + 1);
            done = true;
        }
        if (line.size() >= room) done = true;
    }
    // As pclose does: the rest of the output is discarded, and the command is waited for.
    read_end.reset();
    if (abandoned) {
        end_child(pid);
        return Outcome::not_sent;
    }
    if (timed_out || !reaped_by(pid, deadline)) {
        end_child(pid);
        return Outcome::timed_out;
    }
    if (room == 0) {
        out[0] = '\0';
        return Outcome::line;
    }
    if (line.empty()) return Outcome::no_output;
    std::memcpy(out, line.data(), line.size());
    out[line.size()] = '\0';
    return Outcome::line;
}

class PipeTransport final : public Transport {
  public:
    Outcome first_line(const char *cmd, char *out, int size) override {
        return run(cmd, out, size);
    }
    Outcome probe() override {
        char reply[16];
        return run("redis-cli ping", reply, sizeof reply);
    }
};

}  // namespace

Transport &pipe_transport() {
    // Never destroyed: the insertion thread may run a command while the process exits.
    static auto *pipe = new PipeTransport;
    return *pipe;
}

}  // namespace pltfm::redis
