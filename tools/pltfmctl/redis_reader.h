// Reads whole hashes and key lists from the switch's Redis for pltfmctl's views of the live
// switch, which the library's own read (the first line of one HGET) cannot give. Redis is
// reached as the library reaches it: over a connection to the server PLTFM_REDIS names, else
// through the redis-cli found on PATH. Reads only; every access is bounded in time as the
// library's are, so a server that does not answer ends the command instead of hanging it.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pltfm::ctl {

using Hash = std::map<std::string, std::string>;

class RedisReader {
  public:
    // Chooses the way from PLTFM_REDIS, as the library does.
    RedisReader();
    ~RedisReader();
    RedisReader(const RedisReader &) = delete;
    RedisReader &operator=(const RedisReader &) = delete;

    // What one read gave: the answer, or why there is none. `answered` is false when Redis
    // could not be reached or did not answer in time; an error reply (a key of another type)
    // is answered, with `error` set.
    template <class T>
    struct Result {
        bool answered = false;
        std::string error;
        T value{};
        bool ok() const { return answered && error.empty(); }
    };

    // Every key of database `db` that matches `pattern` (SCAN), sorted.
    Result<std::vector<std::string>> keys(int db, const std::string &pattern);
    // The fields of the hash `key` in database `db`; empty when there is no such key.
    Result<Hash> hash(int db, const std::string &key);

    // How Redis is reached, for messages: "redis-cli on PATH" or "unix:/run/redis.sock
    // (PLTFM_REDIS)".
    std::string way() const;

    class Backend;

  private:
    std::unique_ptr<Backend> backend_;
};

}  // namespace pltfm::ctl
