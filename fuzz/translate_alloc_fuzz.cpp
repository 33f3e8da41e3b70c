// Translation with one element-array allocation failing: byte 0 chooses which (1 to 64),
// the rest is the input of the translation fuzzer. A call that meets the failure returns 1,
// leaves the count as it was, caches nothing, and its arrays are all released with the list.
#include "translate_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pltfm::fuzz::Input in(data, size);
    const unsigned long fail_at = 1 + in.byte() % 64;
    pltfm::fuzz::exercise_translation(in, fail_at);
    return 0;
}
