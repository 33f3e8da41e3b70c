// Private redis-server for tests and the simulated switch: start, wrapper script, RESP client.
#include "redis_server.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace pltfm::test {

namespace {

constexpr const char *kServerBinary = "/usr/bin/redis-server";
constexpr const char *kClientBinary = "/usr/bin/redis-cli";

// Owns a connected unix socket.
class Connection {
public:
    explicit Connection(const std::string &path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (path.size() >= sizeof addr.sun_path) {
            close_fd();
            return;
        }
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        if (::connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) close_fd();
    }
    ~Connection() { close_fd(); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool ok() const { return fd_ >= 0; }

    bool send_command(const std::vector<std::string> &args) {
        std::string out = "*" + std::to_string(args.size()) + "\r\n";
        for (const auto &a : args) out += "$" + std::to_string(a.size()) + "\r\n" + a + "\r\n";
        const char *p = out.data();
        size_t left = out.size();
        while (left > 0) {
            ssize_t n = ::write(fd_, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            left -= static_cast<size_t>(n);
        }
        return true;
    }

    RedisReply read_reply() {
        RedisReply r;
        std::string line;
        if (!read_line(line) || line.empty()) {
            r.text = "connection closed";
            return r;
        }
        const char type = line[0];
        std::string rest = line.substr(1);
        switch (type) {
            case '+':
                r.kind = RedisReply::Kind::status;
                r.text = rest;
                return r;
            case '-':
                r.kind = RedisReply::Kind::error;
                r.text = rest;
                return r;
            case ':':
                r.kind = RedisReply::Kind::integer;
                r.integer = std::strtoll(rest.c_str(), nullptr, 10);
                return r;
            case '$': {
                long long len = std::strtoll(rest.c_str(), nullptr, 10);
                if (len < 0) {
                    r.kind = RedisReply::Kind::nil;
                    return r;
                }
                std::string data;
                if (!read_exact(static_cast<size_t>(len) + 2, data)) {
                    r.text = "short bulk reply";
                    return r;
                }
                r.kind = RedisReply::Kind::bulk;
                r.text = data.substr(0, static_cast<size_t>(len));
                return r;
            }
            case '*': {
                long long count = std::strtoll(rest.c_str(), nullptr, 10);
                if (count < 0) {
                    r.kind = RedisReply::Kind::nil;
                    return r;
                }
                r.kind = RedisReply::Kind::array;
                for (long long i = 0; i < count; ++i) r.elements.push_back(read_reply());
                return r;
            }
            default:
                r.text = "unknown reply type";
                return r;
        }
    }

private:
    bool fill() {
        char buf[4096];
        for (;;) {
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            pending_.append(buf, static_cast<size_t>(n));
            return true;
        }
    }
    bool read_line(std::string &line) {
        for (;;) {
            auto pos = pending_.find("\r\n");
            if (pos != std::string::npos) {
                line = pending_.substr(0, pos);
                pending_.erase(0, pos + 2);
                return true;
            }
            if (!fill()) return false;
        }
    }
    bool read_exact(size_t n, std::string &data) {
        while (pending_.size() < n)
            if (!fill()) return false;
        data = pending_.substr(0, n);
        pending_.erase(0, n);
        return true;
    }
    void close_fd() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
    std::string pending_;
};

}  // namespace

RedisServer::RedisServer(std::string notify_keyspace_events)
    : notify_(std::move(notify_keyspace_events)) {
    if (!dir_.ok()) {
        error_ = "cannot create a temporary directory";
        return;
    }
    socket_ = dir_.path() + "/redis.sock";
    bin_dir_ = dir_.path() + "/bin";
    const std::string wrapper = bin_dir_ + "/redis-cli";
    if (!write_bytes(wrapper, "#!/bin/sh\nexec " + std::string(kClientBinary) + " -s \"" + socket_ +
                                  "\" \"$@\"\n") ||
        ::chmod(wrapper.c_str(), 0755) != 0) {
        error_ = "cannot write the redis-cli wrapper";
        return;
    }
    start();
}

void RedisServer::start() {
    if (pid_ > 0) return;
    error_.clear();
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        error_ = std::string("fork failed: ") + std::strerror(errno);
        return;
    }
    if (pid_ == 0) {
        // The server must not outlive a crashed test.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        const std::string log = dir_.path() + "/redis.log";
        const char *argv[] = {kServerBinary, "--port", "0", "--unixsocket", socket_.c_str(),
                              "--unixsocketperm", "700", "--save", "", "--appendonly", "no",
                              "--dir", dir_.path().c_str(), "--logfile", log.c_str(),
                              "--daemonize", "no", "--databases", "16",
                              "--notify-keyspace-events", notify_.c_str(), nullptr};
        ::execv(kServerBinary, const_cast<char *const *>(argv));
        ::_exit(127);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "redis-server exited during start-up";
            return;
        }
        Connection c(socket_);
        if (c.ok() && c.send_command({"PING"})) {
            RedisReply r = c.read_reply();
            if (r.kind == RedisReply::Kind::status && r.text == "PONG") return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = "redis-server did not answer within 10 s";
}

RedisServer::~RedisServer() {
    stop();
    if (path_changed_) {
        if (saved_path_) ::setenv("PATH", saved_path_->c_str(), 1);
        else ::unsetenv("PATH");
    }
}

void RedisServer::pause() {
    if (pid_ <= 0 || paused_) return;
    ::kill(pid_, SIGSTOP);
    // Wait until it is stopped, so that the caller's next request meets a frozen server.
    int status = 0;
    while (::waitpid(pid_, &status, WUNTRACED) < 0 && errno == EINTR) {
    }
    paused_ = true;
}

void RedisServer::resume() {
    if (pid_ <= 0 || !paused_) return;
    ::kill(pid_, SIGCONT);
    paused_ = false;
}

void RedisServer::stop() {
    if (pid_ <= 0) return;
    resume();  // a frozen server would not act on SIGTERM
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

void RedisServer::use_on_path() {
    if (!path_changed_) {
        const char *old = std::getenv("PATH");
        if (old) saved_path_ = old;
        path_changed_ = true;
    }
    std::string path = bin_dir_;
    const char *old = std::getenv("PATH");
    path += ":";
    path += old && *old ? old : "/usr/bin:/bin";
    ::setenv("PATH", path.c_str(), 1);
}

RedisReply RedisServer::command(int db, const std::vector<std::string> &args) const {
    Connection c(socket_);
    RedisReply fail;
    if (!c.ok()) {
        fail.text = "cannot connect to " + socket_;
        return fail;
    }
    if (!c.send_command({"SELECT", std::to_string(db)})) {
        fail.text = "write failed";
        return fail;
    }
    RedisReply sel = c.read_reply();
    if (sel.kind != RedisReply::Kind::status) return sel;
    if (!c.send_command(args)) {
        fail.text = "write failed";
        return fail;
    }
    return c.read_reply();
}

bool RedisServer::hset(int db, const std::string &key, const std::string &field,
                       const std::string &value) const {
    return command(db, {"HSET", key, field, value}).kind == RedisReply::Kind::integer;
}

std::optional<std::string> RedisServer::hget(int db, const std::string &key,
                                             const std::string &field) const {
    RedisReply r = command(db, {"HGET", key, field});
    if (r.kind != RedisReply::Kind::bulk) return std::nullopt;
    return r.text;
}

bool RedisServer::del(int db, const std::string &key) const {
    return command(db, {"DEL", key}).kind == RedisReply::Kind::integer;
}

bool RedisServer::set(int db, const std::string &key, const std::string &value) const {
    return command(db, {"SET", key, value}).kind == RedisReply::Kind::status;
}

}  // namespace pltfm::test
