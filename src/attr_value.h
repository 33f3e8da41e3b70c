// Storing a text into the 24-character value field of pltfm_attr_t: cut to 23 characters,
// always terminated (also when the source is itself an unterminated value field) and zero
// after the text.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "platform_types.h"

namespace pltfm {

// Zero after the text as well, so that two fields holding the same text are equal as bytes.
inline void set_attr_value(char (&dst)[PLTFM_ATTR_VALUE_LEN], const char *src) noexcept {
    const std::size_t len = src != nullptr ? ::strnlen(src, sizeof dst - 1) : 0;
    if (len > 0) std::memcpy(dst, src, len);
    std::memset(dst + len, 0, sizeof dst - len);
}

// The key as the 32-bit number a C caller stored. Reading it as the enumeration would be
// undefined for numbers outside the enumeration's range, and callers may send any number.
inline uint32_t raw_key(const pltfm_attr_t &attr) noexcept {
    uint32_t v;
    std::memcpy(&v, &attr.key, sizeof v);
    return v;
}

namespace detail {

static_assert(PLTFM_ATTR_VALUE_LEN == 3 * sizeof(uint64_t));
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Stores the first `keep` bytes of the 24 at src into dst and zeroes the rest, as three
// word loads and stores on little-endian machines (kept in registers: a store to the stack
// read back as a wider load would stall the copy).
inline void store_prefix(char (&dst)[PLTFM_ATTR_VALUE_LEN], const char *src,
                         std::size_t keep) noexcept {
    if constexpr (kLittleEndian) {
        auto word = [src, keep](std::size_t i) {
            uint64_t w;
            std::memcpy(&w, src + 8 * i, sizeof w);
            const std::size_t first = 8 * i;  // byte index of the word's lowest byte
            if (keep <= first) return uint64_t{0};
            if (keep >= first + 8) return w;
            return w & (~uint64_t{0} >> (64 - 8 * (keep - first)));
        };
        const uint64_t w0 = word(0), w1 = word(1), w2 = word(2);
        std::memcpy(dst, &w0, sizeof w0);
        std::memcpy(dst + 8, &w1, sizeof w1);
        std::memcpy(dst + 16, &w2, sizeof w2);
    } else {
        std::memmove(dst, src, keep);
        std::memset(dst + keep, 0, PLTFM_ATTR_VALUE_LEN - keep);
    }
}

// Length of the text in a value field, at most 23.
inline std::size_t field_length(const char (&src)[PLTFM_ATTR_VALUE_LEN]) noexcept {
    if constexpr (kLittleEndian) {
        constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
        for (std::size_t i = 0; i < 3; ++i) {
            uint64_t word;
            std::memcpy(&word, src + 8 * i, sizeof word);
            // The lowest flagged byte is the word's first zero byte.
            const uint64_t zeros = (word - kOnes) & ~word & kHighs;
            if (zeros != 0) {
                const std::size_t len = 8 * i + std::countr_zero(zeros) / 8;
                return len < PLTFM_ATTR_VALUE_LEN ? len : PLTFM_ATTR_VALUE_LEN - 1;
            }
        }
        return PLTFM_ATTR_VALUE_LEN - 1;
    } else {
        return ::strnlen(src, PLTFM_ATTR_VALUE_LEN - 1);
    }
}

}  // namespace detail

// Copies a value field so that the copy is terminated (at most 23 characters) and zero after
// its text, without a call per field: the tree copies tens of fields per row it adds.
inline void copy_value(char (&dst)[PLTFM_ATTR_VALUE_LEN],
                       const char (&src)[PLTFM_ATTR_VALUE_LEN]) noexcept {
    detail::store_prefix(dst, src, detail::field_length(src));
}

// Stores a text of known length, cut to 23 characters and zero after it. Reads 24 bytes at
// src whatever the length: the caller's buffer must hold them (the data-line buffer does).
inline void set_padded_value(char (&dst)[PLTFM_ATTR_VALUE_LEN], const char *src,
                             std::size_t len) noexcept {
    detail::store_prefix(dst, src, len < PLTFM_ATTR_VALUE_LEN - 1 ? len : PLTFM_ATTR_VALUE_LEN - 1);
}

// Copies an attribute so that its value is terminated and zero after the text.
inline void copy_terminated(pltfm_attr_t &out, const pltfm_attr_t &attr) noexcept {
    std::memcpy(&out.key, &attr.key, sizeof out.key);
    copy_value(out.value, attr.value);
}

}  // namespace pltfm
