// CPU time a run has cost, for the benchmarks and the simulated switch: this process and the
// processes it started and waited for (redis-cli, sh, grep, awk).
#pragma once

namespace pltfm::test {

// User and system CPU milliseconds of this process and of its waited-for children.
double process_cpu_ms();

}  // namespace pltfm::test
