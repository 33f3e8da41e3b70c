// Interface names reach shell command lines (redis-cli keys). Only names made of ASCII
// letters, digits, '_', '-', '.', '/' and ':' and shorter than 24 characters are let through.
#pragma once

#include <string_view>

namespace pltfm {

inline constexpr std::string_view kInvalidIntfNameMessage = "Invalid interface name.";

// False for null, empty, too long (24 or more characters) or unsafe names.
bool is_safe_intf_name(const char *name) noexcept;

}  // namespace pltfm
