// Reading a tuning cell as a whole decimal number, the way the lint checks and the report
// decide whether a value or key is a number.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

namespace pltfm::tuning {

// A whole decimal number (optional sign, digits only) within long long; nullopt otherwise.
inline std::optional<long long> whole_number(const std::string &text) {
    const std::size_t digits = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (text.size() <= digits || text.find_first_not_of("0123456789", digits) != std::string::npos)
        return std::nullopt;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE) return std::nullopt;
    return v;
}

// A whole number from `low` to `high` written plainly, as the library writes the numbers it
// looks up (no sign, no leading zero: "7", not "+7" or "07"); nullopt otherwise.
inline std::optional<long long> plain_number(const std::string &text, long long low,
                                             long long high) {
    const auto n = whole_number(text);
    if (!n || std::to_string(*n) != text || *n < low || *n > high) return std::nullopt;
    return n;
}

// Orders key texts as a reader expects: whole numbers first, by value, then other texts.
inline bool number_text_less(const std::string &a, const std::string &b) {
    const auto na = whole_number(a), nb = whole_number(b);
    if (na && nb && *na != *nb) return *na < *nb;
    if (na.has_value() != nb.has_value()) return na.has_value();
    return a < b;
}

}  // namespace pltfm::tuning
