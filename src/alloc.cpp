// Counted allocation with an injectable failure for tests.
#include "alloc.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace pltfm::mem {

namespace {
std::atomic<unsigned long> g_count{0};
std::atomic<unsigned long> g_fail_at{0};

bool should_fail() noexcept {
    const unsigned long n = ++g_count;
    const unsigned long fail_at = g_fail_at.load(std::memory_order_relaxed);
    return fail_at != 0 && n == fail_at;
}
}  // namespace

void *alloc_zeroed(std::size_t count, std::size_t size) noexcept {
    if (should_fail()) return nullptr;
    // calloc(0, x) may return null; ask for at least one byte so null always means failure.
    return std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
}

char *dup_string(const char *text) noexcept {
    if (should_fail()) return nullptr;
    return ::strdup(text);
}

void release(void *p) noexcept { std::free(p); }

void fail_nth_allocation(unsigned long n) noexcept {
    g_count = 0;
    g_fail_at = n;
}

unsigned long allocation_count() noexcept { return g_count; }

void reset_allocation_count() noexcept { g_count = 0; }

}  // namespace pltfm::mem
