// The arena behind the tuning tree: first allocations below, at and above the size of a
// block, loads that take many blocks, memory handed back on release, every allocation failing
// in turn, and (AddressSanitizer build) an overrun into the gap after an allocation reported.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <random>
#include <vector>

#include "alloc.h"

#if defined(__SANITIZE_ADDRESS__)
#define PLTFM_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLTFM_TEST_ASAN 1
#endif
#endif

namespace {

using pltfm::mem::Arena;

constexpr std::size_t kKiB = 1024, kMiB = 1024 * kKiB;

// One allocation the test handed a byte pattern of its own.
struct Piece {
    unsigned char *p;
    std::size_t n;
    unsigned tag;
};

unsigned char pattern(unsigned tag, std::size_t i) {
    return static_cast<unsigned char>(tag * 131 + i * 7 + 1);
}

// Takes n bytes: they must be there, 8-byte aligned and zero; then fills them.
Piece take(Arena &arena, std::size_t n, unsigned tag) {
    auto *p = static_cast<unsigned char *>(arena.alloc_zeroed(1, n));
    EXPECT_NE(p, nullptr) << n << " bytes";
    if (p == nullptr) return {nullptr, 0, tag};
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 8, 0u) << n << " bytes";
    std::size_t nonzero = 0;
    for (std::size_t i = 0; i < n; ++i) nonzero += p[i] != 0;
    EXPECT_EQ(nonzero, 0u) << "fresh allocation of " << n << " bytes";
    for (std::size_t i = 0; i < n; ++i) p[i] = pattern(tag, i);
    return {p, n, tag};
}

// Every piece still holds its own pattern: no allocation was handed out twice or overlaps.
void expect_intact(const std::vector<Piece> &pieces) {
    for (const Piece &piece : pieces) {
        if (piece.p == nullptr) continue;
        std::size_t i = 0;
        while (i < piece.n && piece.p[i] == pattern(piece.tag, i)) ++i;
        EXPECT_EQ(i, piece.n) << "allocation " << piece.tag << " of " << piece.n
                              << " bytes was overwritten";
    }
}

// Whether the page holding p is mapped in this process.
bool mapped(const void *p) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    unsigned char resident = 0;
    void *start = reinterpret_cast<void *>(reinterpret_cast<std::uintptr_t>(p) / page * page);
    return ::mincore(start, 1, &resident) == 0 || errno != ENOMEM;
}

// After release_all none of the pieces' memory may stay mapped.
void expect_unmapped(const std::vector<Piece> &pieces) {
    for (const Piece &piece : pieces) {
        if (piece.p == nullptr) continue;
        EXPECT_FALSE(mapped(piece.p)) << "allocation " << piece.tag << " still mapped";
        EXPECT_FALSE(mapped(piece.p + piece.n - 1)) << "end of allocation " << piece.tag;
    }
}

// A first allocation smaller than a block, one that fills a block exactly (the sweep around
// 64 KiB passes it whatever the block's own header takes), larger ones up to several huge
// pages, each followed by small ones.
TEST(Arena, FirstAllocationBelowAtAndAboveABlock) {
    std::vector<std::size_t> sizes = {1, 7, 8, 4000, 1 * kMiB, 5 * kMiB + 3};
    for (std::size_t n = 64 * kKiB - 96; n <= 64 * kKiB + 96; n += 4) sizes.push_back(n);
    for (std::size_t n = 2 * kMiB - 96; n <= 2 * kMiB + 96; n += 8) sizes.push_back(n);
    for (std::size_t n = 4 * kMiB - 40; n <= 4 * kMiB + 8; n += 8) sizes.push_back(n);
    for (const std::size_t first : sizes) {
        SCOPED_TRACE(first);
        std::vector<Piece> pieces;
        {
            Arena arena;
            pieces.push_back(take(arena, first, 1));
            pieces.push_back(take(arena, 24, 2));
            pieces.push_back(take(arena, 3000, 3));
            pieces.push_back(take(arena, 1, 4));
            expect_intact(pieces);
        }  // the destructor releases everything
        expect_unmapped(pieces);
        if (::testing::Test::HasFailure()) break;
    }
}

// A load of many small allocations, with a few larger than a huge page among them: many
// blocks, all contents kept until release_all, then all of it handed back and the arena
// usable again.
TEST(Arena, ManyBlocksAreKeptUntilReleaseAndTheArenaIsUsableAfterwards) {
    Arena arena;
    std::mt19937 rng(18);
    std::vector<Piece> pieces;
    std::size_t total = 0;
    for (unsigned tag = 1; total < 24 * kMiB; ++tag) {
        const std::size_t n = tag % 997 == 0 ? 2 * kMiB + rng() % kMiB : 1 + rng() % 4000;
        pieces.push_back(take(arena, n, tag));
        total += n;
        if (::testing::Test::HasFailure()) return;
    }
    expect_intact(pieces);
    arena.release_all();
    expect_unmapped(pieces);
    std::vector<Piece> again = {take(arena, 100, 1), take(arena, 70 * kKiB, 2), take(arena, 8, 3)};
    expect_intact(again);
    // A swap moves the blocks with it: releasing the other arena hands them back.
    Arena other;
    arena.swap(other);
    other.release_all();
    expect_unmapped(again);
    expect_intact({take(arena, 40, 4)});
}

// Each allocation of a sequence that crosses blocks failing in turn: that one returns null,
// every other one succeeds, and what was handed out before stays intact.
TEST(Arena, EveryAllocationMayFailAndTheArenaGoesOn) {
    const std::size_t sizes[] = {100, 64 * kKiB - 200, 500, 3 * kMiB, 10, 2 * kMiB, 7, 64 * kKiB};
    for (std::size_t fail = 1; fail <= std::size(sizes); ++fail) {
        SCOPED_TRACE(fail);
        Arena arena;
        std::vector<Piece> pieces;
        pltfm::mem::fail_nth_allocation(fail);
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
            if (i + 1 == fail) {
                EXPECT_EQ(arena.alloc_zeroed(1, sizes[i]), nullptr);
                continue;
            }
            pieces.push_back(take(arena, sizes[i], static_cast<unsigned>(i)));
        }
        EXPECT_EQ(pltfm::mem::allocation_count(), std::size(sizes));
        pltfm::mem::fail_nth_allocation(0);
        expect_intact(pieces);
    }

    // Sizes that cannot be had fail on their own, and leave the arena working.
    Arena arena;
    std::vector<Piece> pieces = {take(arena, 1000, 1)};
    EXPECT_EQ(arena.alloc_zeroed(SIZE_MAX / 16, 16), nullptr);  // count * size overflows
    EXPECT_EQ(arena.alloc_zeroed(1, SIZE_MAX / 4), nullptr);    // no such mapping
    EXPECT_EQ(arena.alloc_zeroed(SIZE_MAX / 64, 8), nullptr);
    pieces.push_back(take(arena, 2000, 2));
    // Empty requests still give distinct, usable memory.
    void *a = arena.alloc_zeroed(0, 8), *b = arena.alloc_zeroed(8, 0);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_NE(a, b);
    expect_intact(pieces);
}

// The arena poisons the gap after each allocation in the AddressSanitizer build, so that an
// overrun from one tree entry into the next is reported as it is between heap blocks.
TEST(ArenaDeathTest, AnOverrunIntoTheGapAfterAnAllocationIsReported) {
#ifndef PLTFM_TEST_ASAN
    GTEST_SKIP() << "only the AddressSanitizer build poisons the gaps between arena allocations";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const std::size_t n : {std::size_t{20}, std::size_t{24}, std::size_t{64 * kKiB}}) {
        SCOPED_TRACE(n);
        Arena arena;
        auto *p = static_cast<volatile char *>(arena.alloc_zeroed(1, n));
        ASSERT_NE(arena.alloc_zeroed(1, 16), nullptr);  // a neighbour after the gap
        p[n - 1] = 1;                                   // the last byte is fine
        EXPECT_DEATH(p[n] = 1, "AddressSanitizer: use-after-poison");
    }
#endif
}

}  // namespace
