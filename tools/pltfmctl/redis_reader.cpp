// The two ways of reading Redis (see the header): a hiredis connection to PLTFM_REDIS, or one
// redis-cli process per command with its reply printed as CSV, which quotes every string and
// escapes its special bytes, so that values of any content read back exactly.
#include "redis_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform_hw_redis_hiredis.h"
#include "platform_hw_redis_transport.h"
#include "unique_fd.h"

extern char **environ;

namespace pltfm::ctl {

namespace {

using Clock = std::chrono::steady_clock;

// One element of a reply, nested arrays flattened in order.
struct Item {
    enum class Kind { text, nil, integer, error } kind = Kind::text;
    std::string text;
};
using Reply = RedisReader::Result<std::vector<Item>>;

std::string first_line(const std::string &text) {
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

// ---- redis-cli ----

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// redis-cli --csv: the elements of a reply joined with ','; a string in double quotes with
// \n \r \t \a \b \" \\ and \xHH escapes, an integer bare, a nil as NULL, an error as ERROR
// followed by its quoted text. False when the line is not of that form.
bool parse_csv(const std::string &line, std::vector<Item> &items) {
    std::size_t i = 0;
    bool error_next = false;
    while (i < line.size()) {
        Item item;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                const char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c != '\\') {
                    item.text += c;
                    continue;
                }
                if (i >= line.size()) return false;
                const char e = line[i++];
                switch (e) {
                    case 'n':
                        item.text += '\n';
                        break;
                    case 'r':
                        item.text += '\r';
                        break;
                    case 't':
                        item.text += '\t';
                        break;
                    case 'a':
                        item.text += '\a';
                        break;
                    case 'b':
                        item.text += '\b';
                        break;
                    case 'x': {
                        if (i + 1 >= line.size()) return false;
                        const int hi = hex_digit(line[i]), lo = hex_digit(line[i + 1]);
                        if (hi < 0 || lo < 0) return false;
                        item.text += static_cast<char>(hi * 16 + lo);
                        i += 2;
                        break;
                    }
                    default:
                        item.text += e;
                        break;  // \" and \\ .
                }
            }
            if (!closed) return false;
            if (error_next) item.kind = Item::Kind::error;
            error_next = false;
        } else {
            const std::size_t end = std::min(line.find(',', i), line.size());
            const std::string word = line.substr(i, end - i);
            i = end;
            if (word == "ERROR") {
                error_next = true;
                if (i >= line.size()) return false;
                ++i;
                continue;
            }
            item.kind = word == "NULL" ? Item::Kind::nil : Item::Kind::integer;
            item.text = word;
        }
        items.push_back(std::move(item));
        if (i < line.size()) {
            if (line[i] != ',') return false;
            ++i;
        }
    }
    return !error_next;
}

using pltfm::Fd;

struct Output {
    bool started = false;
    bool timed_out = false;
    std::string out, err;
};

// Runs argv (searched on PATH, no shell) in a process group of its own and collects what it
// prints, ending it when it runs longer than `bound`.
Output run_bounded(std::vector<std::string> args, std::chrono::milliseconds bound) {
    Output r;
    int out_pipe[2], err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) return r;
    Fd out_read(out_pipe[0]), out_write(out_pipe[1]);
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) return r;
    Fd err_read(err_pipe[0]), err_write(err_pipe[1]);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return r;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return r;
    }
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const bool spawned =
        posix_spawn_file_actions_adddup2(&actions, out_write.get(), STDOUT_FILENO) == 0 &&
        posix_spawn_file_actions_adddup2(&actions, err_write.get(), STDERR_FILENO) == 0 &&
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP) == 0 &&
        posix_spawnattr_setpgroup(&attr, 0) == 0 &&
        posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (!spawned) return r;
    r.started = true;
    out_write.reset();
    err_write.reset();

    const auto deadline = Clock::now() + bound;
    bool out_open = true, err_open = true;
    while (out_open || err_open) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            r.timed_out = true;
            break;
        }
        pollfd p[2] = {{out_open ? out_read.get() : -1, POLLIN, 0},
                       {err_open ? err_read.get() : -1, POLLIN, 0}};
        const int ready = ::poll(p, 2, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) break;
        for (int k = 0; k < 2; ++k) {
            if (p[k].fd < 0 || p[k].revents == 0) continue;
            char buf[4096];
            const ssize_t n = ::read(p[k].fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                (k == 0 ? out_open : err_open) = false;
                continue;
            }
            (k == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
        }
    }
    if (r.timed_out) ::kill(-pid, SIGKILL);
    int status = 0;
    // The outputs are closed: the process ends (or was killed) now.
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return r;
}

}  // namespace

class RedisReader::Backend {
  public:
    virtual ~Backend() = default;
    virtual Reply run(int db, const std::vector<std::string> &args) = 0;
    virtual std::string way() const = 0;
};

namespace {

class CliBackend final : public RedisReader::Backend {
  public:
    Reply run(int db, const std::vector<std::string> &args) override {
        std::vector<std::string> argv = {"redis-cli", "--csv", "-n", std::to_string(db)};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto bound = redis::redis_cli_bound();
        const Output o = run_bounded(argv, bound);
        Reply r;
        if (!o.started) {
            r.error = "redis-cli could not be started (is it on PATH?)";
            return r;
        }
        if (o.timed_out) {
            char text[64];
            std::snprintf(text, sizeof text, "redis-cli got no answer within %g s",
                          static_cast<double>(bound.count()) / 1000.0);
            r.error = text;
            return r;
        }
        if (o.out.empty()) {
            const std::string why = first_line(o.err);
            r.error = why.empty() ? "redis-cli printed nothing" : why;
            return r;
        }
        r.answered = true;
        if (!parse_csv(first_line(o.out), r.value))
            r.error = "redis-cli printed a reply that is not CSV: " + first_line(o.out);
        else if (!r.value.empty() && r.value.front().kind == Item::Kind::error)
            r.error = r.value.front().text;
        return r;
    }
    std::string way() const override { return "redis-cli on PATH"; }
};

void flatten(const redisReply &reply, std::vector<Item> &items) {
    switch (reply.type) {
        case REDIS_REPLY_ARRAY:
            for (std::size_t i = 0; i < reply.elements; ++i) flatten(*reply.element[i], items);
            return;
        case REDIS_REPLY_NIL:
            items.push_back({Item::Kind::nil, ""});
            return;
        case REDIS_REPLY_INTEGER:
            items.push_back({Item::Kind::integer, std::to_string(reply.integer)});
            return;
        case REDIS_REPLY_ERROR:
            items.push_back({Item::Kind::error, std::string(reply.str, reply.len)});
            return;
        default:
            items.push_back({Item::Kind::text, std::string(reply.str, reply.len)});
            return;
    }
}

class NativeBackend final : public RedisReader::Backend {
  public:
    explicit NativeBackend(redis::Endpoint endpoint) : endpoint_(std::move(endpoint)) {}
    ~NativeBackend() override {
        if (ctx_ != nullptr) redisFree(ctx_);
    }
    Reply run(int db, const std::vector<std::string> &args) override {
        Reply r;
        redis::SigpipeBlock block;
        if (ctx_ == nullptr) {
            ctx_ = redis::connect_within_limit(endpoint_);
            if (ctx_ == nullptr || ctx_->err != 0) {
                r.error = "cannot reach " + endpoint_.text + ": " +
                          (ctx_ != nullptr ? redis::why(*ctx_) : std::string("out of memory"));
                drop();
                return r;
            }
            db_ = -1;
        }
        if (db != db_) {
            const Reply selected = exchange({"SELECT", std::to_string(db)});
            if (!selected.ok()) return selected;
            db_ = db;
        }
        return exchange(args);
    }
    std::string way() const override { return endpoint_.text + " (PLTFM_REDIS)"; }

  private:
    Reply exchange(const std::vector<std::string> &args) {
        std::vector<const char *> argv;
        std::vector<std::size_t> lengths;
        for (const std::string &a : args) {
            argv.push_back(a.data());
            lengths.push_back(a.size());
        }
        Reply r;
        redis::reply_ptr reply(static_cast<redisReply *>(
            redisCommandArgv(ctx_, static_cast<int>(argv.size()), argv.data(), lengths.data())));
        if (reply == nullptr) {
            r.error = endpoint_.text + ": " + redis::why(*ctx_);
            drop();
            return r;
        }
        r.answered = true;
        flatten(*reply, r.value);
        if (reply->type == REDIS_REPLY_ERROR) r.error = std::string(reply->str, reply->len);
        return r;
    }
    void drop() {
        if (ctx_ != nullptr) redisFree(ctx_);
        ctx_ = nullptr;
    }

    redis::Endpoint endpoint_;
    redisContext *ctx_ = nullptr;
    int db_ = -1;
};

}  // namespace

RedisReader::RedisReader() {
    const char *env = std::getenv("PLTFM_REDIS");
    std::string why;
    if (env != nullptr && *env != '\0') {
        if (auto endpoint = redis::parse_endpoint(env, why)) {
            backend_ = std::make_unique<NativeBackend>(std::move(*endpoint));
            return;
        }
    }
    backend_ = std::make_unique<CliBackend>();
}

RedisReader::~RedisReader() = default;

std::string RedisReader::way() const {
    return backend_->way();
}

RedisReader::Result<std::vector<std::string>> RedisReader::keys(int db,
                                                                const std::string &pattern) {
    Result<std::vector<std::string>> out;
    std::string cursor = "0";
    do {
        const Reply r = backend_->run(db, {"SCAN", cursor, "MATCH", pattern, "COUNT", "1000"});
        out.answered = r.answered;
        out.error = r.error;
        if (!r.ok()) return out;
        if (r.value.empty()) {
            out.error = "SCAN gave no cursor";
            return out;
        }
        cursor = r.value.front().text;
        for (std::size_t i = 1; i < r.value.size(); ++i) out.value.push_back(r.value[i].text);
    } while (cursor != "0");
    std::sort(out.value.begin(), out.value.end());
    out.value.erase(std::unique(out.value.begin(), out.value.end()), out.value.end());
    return out;
}

RedisReader::Result<Hash> RedisReader::hash(int db, const std::string &key) {
    Result<Hash> out;
    const Reply r = backend_->run(db, {"HGETALL", key});
    out.answered = r.answered;
    out.error = r.error;
    if (!r.ok()) return out;
    for (std::size_t i = 0; i + 1 < r.value.size(); i += 2)
        out.value[r.value[i].text] = r.value[i + 1].text;
    return out;
}

}  // namespace pltfm::ctl
