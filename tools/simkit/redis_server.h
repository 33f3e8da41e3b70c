// A private redis-server on a unix socket in a fresh temporary directory (no TCP port, no
// persistence), with a `redis-cli` wrapper script bound to that socket that can be put first
// on PATH, and a small client for seeding and checking hashes. No test framework inside.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace pltfm::test {

// One reply of the server, as the wire protocol gives it.
struct RedisReply {
    enum class Kind { status, error, integer, bulk, nil, array, io_error } kind = Kind::io_error;
    std::string text;  // status, error or bulk text; io_error description
    long long integer = 0;
    std::vector<RedisReply> elements;
};

class RedisServer {
public:
    // Starts /usr/bin/redis-server and waits (up to ~10 s) until it answers PING.
    // The server child gets PR_SET_PDEATHSIG(SIGTERM): when the thread that started it dies,
    // so does the server. Check ok() / error() afterwards. `notify_keyspace_events` is the
    // server's notify-keyspace-events setting ("AKE" as the OS's Redis runs; empty: off).
    explicit RedisServer(std::string notify_keyspace_events = "");
    // Stops the server (SIGTERM, then waits for it) and restores PATH if it was changed.
    ~RedisServer();
    RedisServer(const RedisServer &) = delete;
    RedisServer &operator=(const RedisServer &) = delete;

    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }

    const std::string &socket_path() const { return socket_; }
    // Directory that holds the `redis-cli` wrapper.
    const std::string &bin_dir() const { return bin_dir_; }
    // Puts bin_dir() first on PATH (setenv); the destructor restores the previous PATH.
    void use_on_path();

    // Runs one command on database `db` (SELECT first) over a fresh connection.
    RedisReply command(int db, const std::vector<std::string> &args) const;
    // Convenience wrappers; false / nullopt on any error.
    bool hset(int db, const std::string &key, const std::string &field, const std::string &value) const;
    std::optional<std::string> hget(int db, const std::string &key, const std::string &field) const;
    bool del(int db, const std::string &key) const;
    bool set(int db, const std::string &key, const std::string &value) const;

    // Stops the server now (for tests of an unreachable server).
    void stop();
    // Starts it again after stop(), on the same socket, empty (check ok() afterwards).
    void start();
    // Freezes the server (SIGSTOP): it keeps its socket and takes connections, and answers
    // nothing until resume() (SIGCONT), as a server busy with a save or a replica sync.
    void pause();
    void resume();
    bool paused() const { return paused_; }
    pid_t pid() const { return pid_; }

private:
    ScratchDir dir_{"pltfm-redis-"};
    std::string socket_;
    std::string bin_dir_;
    std::string error_;
    std::string notify_;
    pid_t pid_ = -1;
    bool paused_ = false;
    bool path_changed_ = false;
    std::optional<std::string> saved_path_;
};

}  // namespace pltfm::test
