// Cost of loading the sample tuning directory, of one port lookup through the facade (what
// port pre-initialisation pays per port) and of the row comparison a rescan makes between the
// tuning it replaces and the new one.
#include <benchmark/benchmark.h>

#include <cstring>

#include "pi_database_diff.h"
#include "pi_database_internal.h"
#include "platform_database.h"

namespace {

const char *const kSampleDir = PLTFM_EXAMPLES_DIR "/platform/CSV";

pltfm_attr_t key(pltfm_attr_type_t k, const char *value) {
    pltfm_attr_t a{};
    a.key = k;
    std::strncpy(a.value, value, sizeof a.value - 1);
    return a;
}

// Full load (count, list, check and read every file) into a tree of its own, then free it.
void BM_LoadSampleDirectory(benchmark::State &state) {
    for (auto _ : state) {
        pltfm::database::Tree tree;
        if (pltfm::database::pi_database_init(tree, kSampleDir) != PLTFM_SUCCESS) {
            state.SkipWithError("sample directory did not load");
            break;
        }
        pltfm::database::discard(tree);
    }
}
BENCHMARK(BM_LoadSampleDirectory)->Unit(benchmark::kMillisecond);

// An eight-lane port at 50G/400G PAM4; front-panel key 0 was created first, so it is the
// last entry of its list and the slowest to find.
void BM_PortLookup(benchmark::State &state) {
    if (pltfm_parser_database_init(kSampleDir) != PLTFM_SUCCESS) {
        state.SkipWithError("sample directory did not load");
        return;
    }
    const pltfm_attr_t keys[7] = {
        key(PLTFM_ATTR_VENDOR, "GENERIC"), key(PLTFM_ATTR_CABLE_TYPE, "OPTICS"),
        key(PLTFM_ATTR_SPEED, "50G/400G"), key(PLTFM_ATTR_ENCODING, "PAM4"),
        key(PLTFM_ATTR_FRONT_PORT, "0"),   key(PLTFM_ATTR_NUM_LANES, "8"),
        key(PLTFM_ATTR_LANE, "0")};
    pltfm_attr_t out[280];
    for (auto _ : state) {
        uint32_t count = 280;
        benchmark::DoNotOptimize(pltfm_parser_database_get(keys, 7, out, &count));
        benchmark::ClobberMemory();
    }
    pltfm_parser_database_deinit();
}
BENCHMARK(BM_PortLookup);

// Two loads of the sample directory (2,388 rows each) compared row by row: the extra work of
// a successful rescan, on the rescan thread, before the replaced tree is freed.
void BM_CompareSampleTrees(benchmark::State &state) {
    pltfm::database::Tree before, after;
    if (pltfm::database::pi_database_init(before, kSampleDir) != PLTFM_SUCCESS ||
        pltfm::database::pi_database_init(after, kSampleDir) != PLTFM_SUCCESS) {
        state.SkipWithError("sample directory did not load");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(pltfm::database::count_row_changes(before, after));
    }
    pltfm::database::discard(before);
    pltfm::database::discard(after);
}
BENCHMARK(BM_CompareSampleTrees)->Unit(benchmark::kMicrosecond);

}  // namespace
