// The library logs every step: while a benchmark case runs, its standard error goes to
// /dev/null.
#pragma once

#include <fcntl.h>
#include <unistd.h>

namespace pltfm::bench {

class Quiet {
  public:
    Quiet() : saved_(::dup(STDERR_FILENO)) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
    ~Quiet() {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    Quiet(const Quiet &) = delete;
    Quiet &operator=(const Quiet &) = delete;

  private:
    int saved_;
};

}  // namespace pltfm::bench
