// Both-modes runner: child processes of the test binary itself, transcripts compared line by
// line.
#include "both_modes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "platform_hw_redis_transport.h"
#include "test_util.h"

namespace pltfm::test::modes {

namespace fs = std::filesystem;

namespace {

constexpr const char *kModeVar = "PLTFM_TEST_REDIS_MODE";
constexpr const char *kTranscriptVar = "PLTFM_TEST_TRANSCRIPT";

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string tail(const std::string &text, std::size_t max) {
    return text.size() <= max ? text : "...\n" + text.substr(text.size() - max);
}

// Starts this binary on the current test alone, in `mode`, its output into `out`.
pid_t start_child(const std::string &test, const char *mode, const std::string &transcript,
                  const std::string &out) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::setenv(kModeVar, mode, 1);
    ::setenv(kTranscriptVar, transcript.c_str(), 1);
    const std::string filter = "--gtest_filter=" + test;
    ::execl("/proc/self/exe", "both-modes-child", filter.c_str(), static_cast<char *>(nullptr));
    ::_exit(127);
}

}  // namespace

bool parent() {
    return std::getenv(kModeVar) == nullptr;
}

Mode mode() {
    const char *m = std::getenv(kModeVar);
    return m != nullptr && std::string(m) == "native" ? Mode::native : Mode::cli;
}

const char *mode_name() {
    return mode() == Mode::native ? "native" : "cli";
}

bool run_both() {
    if (!parent()) return false;
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string test = std::string(info->test_suite_name()) + "." + info->name();
    TempDir dir;
    const char *names[] = {"cli", "native"};
    pid_t pids[2];
    for (int m = 0; m < 2; ++m)
        pids[m] = start_child(test, names[m], dir / (std::string(names[m]) + ".transcript"),
                              dir / (std::string(names[m]) + ".out"));
    for (int m = 0; m < 2; ++m) {
        int status = 0;
        if (pids[m] < 0) {
            ADD_FAILURE() << "cannot start the " << names[m] << " run";
            continue;
        }
        while (::waitpid(pids[m], &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ADD_FAILURE() << "the " << names[m] << " run failed (status " << status << "):\n"
                          << tail(read_file(dir / (std::string(names[m]) + ".out")), 12000);
    }
    EXPECT_FALSE(fs::exists(dir / "native.transcript.redis-cli"))
        << "native mode ran redis-cli:\n"
        << read_file(dir / "native.transcript.redis-cli");
    const std::string cli = read_file(dir / "cli.transcript");
    const std::string native = read_file(dir / "native.transcript");
    EXPECT_FALSE(cli.empty()) << "the cli run noted nothing";
    const std::string diff = first_difference(cli, native);
    EXPECT_TRUE(diff.empty()) << diff;
    return true;
}

std::string first_difference(const std::string &cli, const std::string &native,
                             std::string_view heading) {
    const auto a = lines_of(cli), b = lines_of(native);
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    if (i == a.size() && i == b.size()) return "";
    std::ostringstream o;
    o << "the two modes differ at transcript line " << i + 1;
    if (!heading.empty())
        for (std::size_t k = std::min(i + 1, a.size()); k-- > 0;)
            if (a[k].starts_with(heading)) {
                o << " (" << a[k] << ")";
                break;
            }
    o << ":\n";
    for (std::size_t k = i >= 3 ? i - 3 : 0; k < i; ++k) o << "  both:   " << a[k] << "\n";
    o << "  cli:    " << (i < a.size() ? a[i] : "(end)") << "\n";
    o << "  native: " << (i < b.size() ? b[i] : "(end)") << "\n";
    return o.str();
}

void use(RedisServer &redis) {
    if (mode() == Mode::cli) {
        redis.use_on_path();
        return;
    }
    const char *transcript = std::getenv(kTranscriptVar);
    const std::string marker = std::string(transcript ? transcript : "/dev/null") + ".redis-cli";
    const std::string bin = fs::path(redis.socket_path()).parent_path() / "native-bin";
    write_file(bin + "/redis-cli", "#!/bin/sh\necho \"redis-cli $*\" >> '" + marker + "'\n");
    fs::permissions(bin + "/redis-cli", fs::perms::owner_all);
    const char *old = std::getenv("PATH");
    ::setenv("PATH", (bin + ":" + (old ? old : "/usr/bin:/bin")).c_str(), 1);
    select(Mode::native, redis.socket_path());
}

void select(Mode mode, const std::string &socket) {
    if (mode == Mode::native)
        ::setenv("PLTFM_REDIS", ("unix:" + socket).c_str(), 1);
    else
        ::unsetenv("PLTFM_REDIS");
    pltfm::redis::reload_for_test();
}

void note(const std::string &text) {
    const char *path = std::getenv(kTranscriptVar);
    if (path == nullptr) return;
    // Each run has its own scratch directories: their random part is not an observation.
    static const std::regex scratch("pltfm-(fake|redis|test)-[A-Za-z0-9]{6}");
    const std::string same = std::regex_replace(text, scratch, "pltfm-$1-XXXXXX");
    std::ofstream(path, std::ios::app) << same << (same.empty() || same.back() != '\n' ? "\n" : "");
}

std::string comparable_log(const std::string &log) {
    std::string out;
    for (const auto &line : lines_of(log)) {
        if (line.rfind("platform_hw_redis_native.cpp:", 0) == 0 ||
            line.rfind("platform_hw_redis_transport.cpp:", 0) == 0 ||
            line.rfind("platform_hw_redis_events.cpp:", 0) == 0 ||
            line.rfind("Could not connect to Redis", 0) == 0 || line.rfind("grep: ", 0) == 0)
            continue;
        // How long a stall lasted depends on each transport's bound.
        static const std::regex stall_length("answers again after [0-9.]+ s");
        out += std::regex_replace(line, stall_length, "answers again after (some) s") + "\n";
    }
    return out;
}

void note_log(const std::string &label, const std::string &log) {
    note("log of " + label + ":\n" + comparable_log(log) + "end of log");
}

void note_world(const RedisServer &redis, const FakePlatform &fake) {
    std::ostringstream o;
    for (int db : {0, 4, 6}) {
        const RedisReply keys = redis.command(db, {"KEYS", "*"});
        std::vector<std::string> names;
        for (const auto &k : keys.elements) names.push_back(k.text);
        std::sort(names.begin(), names.end());
        for (const auto &key : names) {
            o << "db " << db << " " << key << ":";
            const RedisReply all = redis.command(db, {"HGETALL", key});
            for (const auto &e : all.elements) o << " \"" << e.text << "\"";
            o << "\n";
        }
    }
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto &e : fs::recursive_directory_iterator(fake.root(), ec))
        if (e.is_regular_file() && e.path().filename() == "eeprom") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto &f : files)
        o << fs::relative(f, fake.root()).string() << ": " << digest(read_file(f)) << "\n";
    note(o.str());
}

std::string digest(std::string_view bytes) {
    unsigned long long h = 14695981039346656037ULL;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ULL;
    std::ostringstream o;
    o << std::hex << h;
    return o.str();
}

}  // namespace pltfm::test::modes
