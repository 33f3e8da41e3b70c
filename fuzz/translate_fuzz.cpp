// Translation of tuning rows into SDK records on any rows: byte 0 gives the lane count (1 to
// 8), byte 1 the start lane, byte 2 the list's capacity, then each 28 bytes one row (any
// 32-bit key, any 24 value bytes). Properties: success, records only within the capacity,
// one member flag per record, per-lane lists of exactly the port's lane count, the list
// cached under the port's name and released whole.
#include "translate_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    pltfm::fuzz::Input in(data, size);
    pltfm::fuzz::exercise_translation(in, 0);
    return 0;
}
