// CPU time of this process and its waited-for children, from getrusage.
#include "cpu_time.h"

#include <sys/resource.h>

#include <initializer_list>

namespace pltfm::test {

double process_cpu_ms() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        ::getrusage(who, &u);
        total += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
                 static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
    }
    return total;
}

}  // namespace pltfm::test
