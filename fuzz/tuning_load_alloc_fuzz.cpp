// The tuning loader with one allocation failing: the first two bytes choose which counted
// allocation of each load fails, the rest is the text as in the loader fuzzer. A load that
// meets the failure reports PLTFM_MEMORY and leaves no tree; a failed reload leaves the live
// tree untouched; nothing leaks (LeakSanitizer).
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pltfm::fuzz::Input in(data, size);
    const unsigned long fail_at = 1 + (in.byte() | in.byte() << 8) % 2048;
    pltfm::fuzz::exercise_loader(in.rest(), fail_at);
    return 0;
}
