// The module-event subscription against servers that fail it half-way: a connection closed
// after CONFIG GET or during PSUBSCRIBE, replies of the wrong shape, a refused PSUBSCRIBE. Each
// must leave the library unsubscribed (it polls), with one line that says why, and must never
// claim a subscription it does not hold. A real redis-server cannot be made to fail this way,
// so a small scripted server on a unix socket plays the Redis side of the exchange.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform_hw_redis_events.h"
#include "test_util.h"

using namespace pltfm::test;
using pltfm::redis::Endpoint;
using pltfm::redis::KeyspaceEvents;

namespace {

// One client at a time. For each command the client sends, the next step of the script is
// played: its bytes are sent back, or the connection is closed when the step is empty. The
// commands received are kept (their first words) for the test to check.
class ScriptedServer {
  public:
    ScriptedServer(const TempDir &dir, std::vector<std::string> script)
        : path_(dir / "scripted.sock"), script_(std::move(script)) {
        listen_fd_ = listen_on_unix_socket(path_, 4);
        ok_ = listen_fd_ >= 0;
        if (ok_) thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedServer() {
        ::shutdown(listen_fd_, SHUT_RDWR);
        ::close(listen_fd_);
        if (thread_.joinable()) thread_.join();
    }
    bool ok() const { return ok_; }
    Endpoint endpoint() const {
        Endpoint e;
        e.path = path_;
        e.text = "unix:" + path_;
        return e;
    }
    // Joined when the script has run out or the client went away.
    std::vector<std::string> commands() {
        if (thread_.joinable()) thread_.join();
        return commands_;
    }

  private:
    void serve() {
        const int fd = ::accept(listen_fd_, nullptr, nullptr);
        if (fd < 0) return;
        std::string pending;
        for (const std::string &step : script_) {
            std::string command;
            if (!read_command(fd, pending, command)) break;
            commands_.push_back(command);
            if (step.empty()) break;
            if (::send(fd, step.data(), step.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(step.size()))
                break;
        }
        ::close(fd);
    }
    // Reads one command of the Redis protocol (an array of bulk strings) and returns its first
    // two words, "CONFIG GET" or "PSUBSCRIBE __keyspace@6__:...".
    static bool read_command(int fd, std::string &pending, std::string &command) {
        for (;;) {
            std::size_t at = 0;
            std::vector<std::string> words;
            if (parse(pending, at, words)) {
                pending.erase(0, at);
                command = words.empty() ? "" : words[0];
                if (words.size() > 1) command += " " + words[1];
                return true;
            }
            char buf[512];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) return false;
            pending.append(buf, static_cast<std::size_t>(n));
        }
    }
    static bool line_at(const std::string &s, std::size_t &at, std::string &line) {
        const std::size_t end = s.find("\r\n", at);
        if (end == std::string::npos) return false;
        line = s.substr(at, end - at);
        at = end + 2;
        return true;
    }
    static bool parse(const std::string &s, std::size_t &at, std::vector<std::string> &words) {
        std::string line;
        if (!line_at(s, at, line) || line.empty() || line[0] != '*') return false;
        const int count = std::stoi(line.substr(1));
        for (int i = 0; i < count; ++i) {
            if (!line_at(s, at, line) || line.empty() || line[0] != '$') return false;
            const std::size_t len = std::stoul(line.substr(1));
            if (s.size() < at + len + 2) return false;
            words.push_back(s.substr(at, len));
            at += len + 2;
        }
        return true;
    }

    std::string path_;
    std::vector<std::string> script_;
    int listen_fd_ = -1;
    bool ok_ = false;
    std::thread thread_;
    std::vector<std::string> commands_;
};

// Replies of the Redis protocol.
std::string bulk(const std::string &s) {
    return "$" + std::to_string(s.size()) + "\r\n" + s + "\r\n";
}
std::string confirmation(const std::string &pattern, int count) {
    return "*3\r\n" + bulk("psubscribe") + bulk(pattern) + ":" + std::to_string(count) + "\r\n";
}

const std::string kFlagsOn = "*2\r\n" + bulk("notify-keyspace-events") + bulk("AKE");
const std::string kFirstConfirmation = confirmation("__keyspace@6__:TRANSCEIVER_STATUS|*", 1);
const std::string kSecondConfirmation = confirmation("__keyspace@6__:TRANSCEIVER_INFO|*", 2);
const std::string kPsubscribe = "PSUBSCRIBE __keyspace@6__:TRANSCEIVER_STATUS|*";

struct Case {
    const char *what;
    std::vector<std::string> script;
    std::vector<std::string> commands;  // what the server must have received
    const char *line;                   // the line the library must log
};

}  // namespace

TEST(KeyspaceSubscription, ServersThatFailItHalfWayLeaveThePollAndSayWhy) {
    const std::vector<Case> cases = {
        {"closed at CONFIG GET", {""}, {"CONFIG GET"}, "Redis keyspace events: no connection to"},
        {"CONFIG GET answered with a status",
         {"+OK\r\n"},
         {"CONFIG GET"},
         "CONFIG GET notify-keyspace-events is refused (an unexpected reply)"},
        {"CONFIG GET refused",
         {"-NOPERM this user has no permissions to run the 'config|get' command\r\n"},
         {"CONFIG GET"},
         "CONFIG GET notify-keyspace-events is refused (NOPERM this user has no permissions"},
        {"closed at PSUBSCRIBE",
         {kFlagsOn, ""},
         {"CONFIG GET", kPsubscribe},
         "Redis keyspace events: no connection to"},
        {"closed after the first confirmation",
         {kFlagsOn, kFirstConfirmation},
         {"CONFIG GET", kPsubscribe},
         "Redis keyspace events: no connection to"},
        {"PSUBSCRIBE refused",
         {kFlagsOn, "-ERR unknown command 'PSUBSCRIBE'\r\n"},
         {"CONFIG GET", kPsubscribe},
         "refused (ERR unknown command 'PSUBSCRIBE')"},
        {"PSUBSCRIBE answered with something else",
         {kFlagsOn, "*3\r\n" + bulk("subscribe") + bulk("x") + ":1\r\n" + kSecondConfirmation},
         {"CONFIG GET", kPsubscribe},
         "refused (PSUBSCRIBE not confirmed)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ScriptedServer server(dir, c.script);
        ASSERT_TRUE(server.ok());
        KeyspaceEvents events(server.endpoint());
        LogCapture log;
        EXPECT_EQ(events.ensure(), KeyspaceEvents::Subscription::none);
        EXPECT_FALSE(events.subscribed());
        std::vector<std::string> heard;
        EXPECT_FALSE(events.drain(heard));
        EXPECT_TRUE(heard.empty());
        EXPECT_EQ(server.commands(), c.commands);
        const std::string text = log.text();
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
        EXPECT_EQ(text.find("subscribed"), std::string::npos) << text;
        // A second pass within the second does not try again, nor says the same again.
        LogCapture again;
        EXPECT_EQ(events.ensure(), KeyspaceEvents::Subscription::none);
        EXPECT_EQ(again.text(), "");
    }
}

// The same exchange played to its end: both confirmations make the subscription, and an
// event the server then publishes names its interface. The last step keeps the connection
// open until the library closes it.
TEST(KeyspaceSubscription, BothConfirmationsMakeIt) {
    TempDir dir;
    const std::string event = "*4\r\n" + bulk("pmessage") +
                              bulk("__keyspace@6__:TRANSCEIVER_STATUS|*") +
                              bulk("__keyspace@6__:TRANSCEIVER_STATUS|Ethernet8") + bulk("hset");
    ScriptedServer server(dir,
                          {kFlagsOn, kFirstConfirmation + kSecondConfirmation + event, "+OK\r\n"});
    ASSERT_TRUE(server.ok());
    KeyspaceEvents events(server.endpoint());
    LogCapture log;
    EXPECT_EQ(events.ensure(), KeyspaceEvents::Subscription::subscribed);
    EXPECT_TRUE(events.subscribed());
    EXPECT_TRUE(log.contains("subscribed on unix:")) << log.text();
    std::vector<std::string> heard;
    EXPECT_TRUE(events.wait(std::chrono::milliseconds(2000), heard));
    EXPECT_EQ(heard, std::vector<std::string>{"Ethernet8"});
}
