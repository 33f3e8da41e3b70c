// The tuning loader on any text: one or two files of a private directory, loaded into a tree
// of its own, every port looked up, reloaded live through the swap, and torn down.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pltfm::fuzz::Input in(data, size);
    pltfm::fuzz::exercise_loader(in.rest(), 0);
    return 0;
}
