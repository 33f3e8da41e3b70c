// Storing a text into the 24-character value field of pltfm_attr_t: cut to 23 characters
// and always terminated, also when the source is itself an unterminated value field.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "platform_types.h"

namespace pltfm {

inline void set_attr_value(char (&dst)[PLTFM_ATTR_VALUE_LEN], const char *src) noexcept {
    const std::size_t len = src != nullptr ? ::strnlen(src, sizeof dst - 1) : 0;
    if (len > 0) std::memcpy(dst, src, len);
    dst[len] = '\0';
}

// The key as the 32-bit number a C caller stored. Reading it as the enumeration would be
// undefined for numbers outside the enumeration's range, and callers may send any number.
inline uint32_t raw_key(const pltfm_attr_t &attr) noexcept {
    uint32_t v;
    std::memcpy(&v, &attr.key, sizeof v);
    return v;
}

// Copies a value field so that the copy is terminated (at most 23 characters) and zero after
// its text, without a call per field: the tree copies tens of fields per row it adds.
inline void copy_value(char (&dst)[PLTFM_ATTR_VALUE_LEN],
                       const char (&src)[PLTFM_ATTR_VALUE_LEN]) noexcept {
    static_assert(PLTFM_ATTR_VALUE_LEN == 3 * sizeof(uint64_t));
    uint64_t w[3];
    std::memcpy(w, src, sizeof w);
    if constexpr (std::endian::native == std::endian::little) {
        w[2] &= ~(uint64_t{0xFF} << 56);  // the last byte is always the terminator
        constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
        bool ended = false;
        for (uint64_t &word : w) {
            if (ended) {
                word = 0;
                continue;
            }
            // The lowest flagged byte is the word's first zero byte.
            const uint64_t zeros = (word - kOnes) & ~word & kHighs;
            if (zeros == 0) continue;
            const int keep = std::countr_zero(zeros) / 8;  // bytes before the zero
            word &= keep == 0 ? 0 : ~uint64_t{0} >> (64 - 8 * keep);
            ended = true;
        }
        std::memcpy(dst, w, sizeof w);
    } else {
        const std::size_t len = ::strnlen(src, PLTFM_ATTR_VALUE_LEN - 1);
        std::memmove(dst, src, len);
        std::memset(dst + len, 0, PLTFM_ATTR_VALUE_LEN - len);
    }
}

// Stores a text of known length: cut to 23 characters, zero after the text.
inline void set_attr_value(char (&dst)[PLTFM_ATTR_VALUE_LEN], const char *src,
                           std::size_t len) noexcept {
    if (len > PLTFM_ATTR_VALUE_LEN - 1) len = PLTFM_ATTR_VALUE_LEN - 1;
    if (len > 0) std::memcpy(dst, src, len);
    std::memset(dst + len, 0, PLTFM_ATTR_VALUE_LEN - len);
}

// Copies an attribute so that its value is terminated and zero after the text.
inline void copy_terminated(pltfm_attr_t &out, const pltfm_attr_t &attr) noexcept {
    std::memcpy(&out.key, &attr.key, sizeof out.key);
    copy_value(out.value, attr.value);
}

}  // namespace pltfm
