// The pipe transport: every command runs through the shell in a read pipe (popen) and the
// first line it prints is read; the rest of its output is discarded.
#include <cstdio>
#include <memory>

#include "platform_hw_redis_transport.h"

namespace pltfm::redis {

namespace {

// pclose waits for the command, so no zombie is left behind.
struct PipeCloser {
    void operator()(FILE *f) const { ::pclose(f); }
};
using pipe_ptr = std::unique_ptr<FILE, PipeCloser>;

class PipeTransport final : public Transport {
  public:
    Outcome first_line(const char *cmd, char *out, int size) override {
        // The pipe's descriptor is close-on-exec, so commands started by other threads
        // meanwhile do not inherit it.
        pipe_ptr pipe(::popen(cmd, "re"));
        if (!pipe) return Outcome::cannot_start;
        if (std::fgets(out, size, pipe.get()) == nullptr) return Outcome::no_output;
        return Outcome::line;
    }
};

}  // namespace

Transport &pipe_transport() {
    // Never destroyed: the insertion thread may run a command while the process exits.
    static auto *pipe = new PipeTransport;
    return *pipe;
}

}  // namespace pltfm::redis
