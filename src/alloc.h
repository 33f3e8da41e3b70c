// Every allocation whose failure the library reports goes through here, so that tests can
// make the N-th one fail and check the failure path (status, message, nothing leaked).
#pragma once

#include <cstddef>

namespace pltfm::mem {

// calloc-like: zero-filled, null on failure (or when a test made this call fail).
void *alloc_zeroed(std::size_t count, std::size_t size) noexcept;
// strdup-like: null on failure.
char *dup_string(const char *text) noexcept;
// Releases what the two above returned; null is ignored.
void release(void *p) noexcept;

// Test hook: the n-th counted allocation from now fails (1 = the next one); 0 disarms.
void fail_nth_allocation(unsigned long n) noexcept;
// Counted allocations since the last arming or reset.
unsigned long allocation_count() noexcept;
void reset_allocation_count() noexcept;

}  // namespace pltfm::mem
