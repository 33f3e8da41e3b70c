// Every allocation whose failure the library reports goes through here, so that tests can
// make the N-th one fail and check the failure path (status, message, nothing leaked).
#pragma once

#include <cstddef>

namespace pltfm::mem {

// calloc-like: zero-filled, null on failure (or when a test made this call fail).
void *alloc_zeroed(std::size_t count, std::size_t size) noexcept;
// malloc-like, for buffers that are written before they are read: contents undefined.
void *alloc_uninitialised(std::size_t size) noexcept;
// strdup-like: null on failure.
char *dup_string(const char *text) noexcept;
// Releases what the three above returned; null is ignored.
void release(void *p) noexcept;

// Many small zero-filled allocations that are all freed together: carved one after the
// other from large blocks, so that they cost no allocator bookkeeping each and freeing them
// is a handful of calls. Each allocation is counted like alloc_zeroed (a test can make the
// N-th one fail); the blocks themselves are not. Blocks beyond the first are mapped from the
// kernel in 2 MB units advised for huge pages: a tuning tree of tens of megabytes then takes
// a few dozen page faults instead of thousands.
class Arena {
  public:
    Arena() = default;
    ~Arena() { release_all(); }
    Arena(const Arena &) = delete;
    Arena &operator=(const Arena &) = delete;

    // calloc-like, 8-byte aligned; null on failure. Lives until release_all.
    void *alloc_zeroed(std::size_t count, std::size_t size) noexcept;
    // Frees every allocation at once; the arena can be used again afterwards.
    void release_all() noexcept;
    void swap(Arena &other) noexcept;

  private:
    struct Block;
    Block *blocks_ = nullptr;  // the newest block, which the next allocation is carved from
    char *next_ = nullptr;     // free space of the newest block: [next_, end_)
    char *end_ = nullptr;
};

// Test hook: the n-th counted allocation from now fails (1 = the next one); 0 disarms.
void fail_nth_allocation(unsigned long n) noexcept;
// Counted allocations since the last arming or reset.
unsigned long allocation_count() noexcept;
void reset_allocation_count() noexcept;

}  // namespace pltfm::mem
