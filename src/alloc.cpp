// Counted allocation with an injectable failure for tests, and the arena that the tuning
// tree takes its entries and lists from.
#include "alloc.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define PLTFM_ARENA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLTFM_ARENA_ASAN 1
#endif
#endif
#ifdef PLTFM_ARENA_ASAN
#include <sanitizer/asan_interface.h>
#endif

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

void *alloc_uninitialised(std::size_t size) noexcept {
    if (should_fail()) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

char *dup_string(const char *text) noexcept {
    if (should_fail()) return nullptr;
    return ::strdup(text);
}

void release(void *p) noexcept { std::free(p); }

// ---- arena ----

namespace {

// The first block is small, so that a small tree stays small; every later one is a whole
// number of huge pages.
constexpr std::size_t kFirstBlock = std::size_t{64} << 10;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kAlign = 8;
#ifdef PLTFM_ARENA_ASAN
// Poisoned gap after each allocation, so that the address sanitizer sees overruns between
// neighbours as it does between heap blocks.
constexpr std::size_t kRedzone = 16;
void poison(const void *p, std::size_t n) {
    ASAN_POISON_MEMORY_REGION(p, n);
}
void unpoison(const void *p, std::size_t n) {
    ASAN_UNPOISON_MEMORY_REGION(p, n);
}
#else
constexpr std::size_t kRedzone = 0;
void poison(const void *, std::size_t) {}
void unpoison(const void *, std::size_t) {}
#endif

constexpr std::size_t round_up(std::size_t n, std::size_t unit) {
    return (n + unit - 1) / unit * unit;
}

// Anonymous zero-filled pages, null on failure. A huge mapping starts on a huge-page
// boundary (the excess of a larger mapping is given back) so that every huge page of it can
// be backed as one.
void *map_pages(std::size_t size, bool huge) noexcept {
    const std::size_t slack = huge ? kHugePage : 0;
    void *raw =
        ::mmap(nullptr, size + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    if (!huge) return raw;
    const auto base = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t start = round_up(base, kHugePage);
    if (start > base) ::munmap(raw, start - base);
    if (start + size < base + size + slack) {
        ::munmap(reinterpret_cast<void *>(start + size), base + slack - start);
    }
    void *p = reinterpret_cast<void *>(start);
#ifdef MADV_HUGEPAGE
    ::madvise(p, size, MADV_HUGEPAGE);  // a hint: without huge pages the block still works
#endif
    return p;
}

}  // namespace

struct Arena::Block {
    Block *prev;
    std::size_t size;  // of the whole mapping, this header included
};

void *Arena::alloc_zeroed(std::size_t count, std::size_t size) noexcept {
    if (should_fail()) return nullptr;
    if (size != 0 && count > SIZE_MAX / 2 / size) return nullptr;
    const std::size_t bytes = count * size == 0 ? 1 : count * size;
    const std::size_t step = round_up(bytes, kAlign) + kRedzone;
    if (static_cast<std::size_t>(end_ - next_) < step) {
        constexpr std::size_t header = round_up(sizeof(Block), kAlign);
        const bool huge = blocks_ != nullptr || header + step > kFirstBlock;
        const std::size_t block_size = huge ? round_up(header + step, kHugePage) : kFirstBlock;
        if (block_size < header + step) return nullptr;  // wrapped around
        void *p = map_pages(block_size, huge);
        if (p == nullptr) return nullptr;
        auto *block = static_cast<Block *>(p);
        block->prev = blocks_;
        block->size = block_size;
        blocks_ = block;
        next_ = static_cast<char *>(p) + header;
        end_ = static_cast<char *>(p) + block_size;
        poison(next_, static_cast<std::size_t>(end_ - next_));
    }
    // Fresh pages are zero and no memory is handed out twice before release_all.
    void *p = next_;
    next_ += step;
    unpoison(p, bytes);
    return p;
}

void Arena::release_all() noexcept {
    while (blocks_ != nullptr) {
        Block *block = blocks_;
        blocks_ = block->prev;
        const std::size_t size = block->size;
        unpoison(block, size);
        ::munmap(block, size);
    }
    next_ = end_ = nullptr;
}

void Arena::swap(Arena &other) noexcept {
    std::swap(blocks_, other.blocks_);
    std::swap(next_, other.next_);
    std::swap(end_, other.end_);
}

void fail_nth_allocation(unsigned long n) noexcept {
    g_count = 0;
    g_fail_at = n;
}

unsigned long allocation_count() noexcept { return g_count; }

void reset_allocation_count() noexcept { g_count = 0; }

}  // namespace pltfm::mem
