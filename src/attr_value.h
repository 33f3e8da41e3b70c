// Storing a text into the 24-character value field of pltfm_attr_t: cut to 23 characters
// and always terminated, also when the source is itself an unterminated value field.
#pragma once

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

// Copy of an attribute whose value is guaranteed to be terminated.
inline pltfm_attr_t terminated_copy(const pltfm_attr_t &attr) noexcept {
    pltfm_attr_t out{};
    std::memcpy(&out.key, &attr.key, sizeof out.key);
    set_attr_value(out.value, attr.value);
    return out;
}

}  // namespace pltfm
