// Throughput of the tuning loader over generated directories of about 1 MB and 4 MB (bytes
// per second of tuning files read), and the two pathological files whose load once grew with
// the square of their rows: 100,000 distinct front ports, and one port with 100,000 lanes.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "pi_database_internal.h"
#include "scratch_dir.h"
#include "tuning_files.h"

namespace {

using pltfm::test::ScratchDir;

// A generated directory kept for the whole run; `bytes` is what it holds.
struct Dir {
    std::unique_ptr<ScratchDir> scratch;
    std::size_t bytes = 0;
};

Dir sized_dir(std::size_t bytes) {
    Dir d{std::make_unique<ScratchDir>("pltfm-bench-"), 0};
    d.bytes = pltfm::test::write_tuning_dir(d.scratch->path(), bytes);
    return d;
}

Dir one_file_dir(const std::string &text) {
    Dir d{std::make_unique<ScratchDir>("pltfm-bench-"), text.size()};
    if (!pltfm::test::write_bytes(d.scratch->path() + "/table.csv", text)) d.bytes = 0;
    return d;
}

// Loads the directory into a tree of its own and frees it, once per iteration.
void load(benchmark::State &state, const Dir &dir) {
    if (dir.bytes == 0) {
        state.SkipWithError("the directory could not be written");
        return;
    }
    for (auto _ : state) {
        pltfm::database::Tree tree;
        if (pltfm::database::pi_database_init(tree, dir.scratch->path().c_str()) != PLTFM_SUCCESS) {
            state.SkipWithError("the directory did not load");
            break;
        }
        pltfm::database::discard(tree);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dir.bytes));
}

void BM_LoadDirectory1MB(benchmark::State &state) {
    static const Dir dir = sized_dir(1 << 20);
    load(state, dir);
}
BENCHMARK(BM_LoadDirectory1MB)->Unit(benchmark::kMillisecond);

void BM_LoadDirectory4MB(benchmark::State &state) {
    static const Dir dir = sized_dir(4 << 20);
    load(state, dir);
}
BENCHMARK(BM_LoadDirectory4MB)->Unit(benchmark::kMillisecond);

void BM_LoadManyFrontPorts(benchmark::State &state) {
    static const Dir dir = one_file_dir(pltfm::test::many_ports_table(100000));
    load(state, dir);
}
BENCHMARK(BM_LoadManyFrontPorts)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LoadOnePortManyLanes(benchmark::State &state) {
    static const Dir dir = one_file_dir(pltfm::test::many_lanes_table(100000));
    load(state, dir);
}
BENCHMARK(BM_LoadOnePortManyLanes)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
