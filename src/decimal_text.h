// Decimal text of a number. The library does not use std::to_string: its digit table is a
// static object inside an inline template, and such an object stays exported from the shared
// library despite the hidden visibility.
#pragma once

#include <cstdio>
#include <string>

namespace pltfm {

inline std::string decimal_text(long long value) {
    char text[24];
    std::snprintf(text, sizeof text, "%lld", value);
    return text;
}

}  // namespace pltfm
