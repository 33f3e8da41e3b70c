// Safe-character check for interface names that are formatted into shell commands.
#include "intf_name.h"

#include "platform_types.h"

namespace pltfm {

bool is_safe_intf_name(const char *name) noexcept {
    if (name == nullptr || *name == '\0') return false;
    std::size_t len = 0;
    for (const char *p = name; *p != '\0'; ++p, ++len) {
        if (len + 1 >= PLTFM_INTF_NAME_LEN) return false;
        const char c = *p;
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '_' || c == '-' || c == '.' || c == '/' || c == ':';
        if (!ok) return false;
    }
    return true;
}

}  // namespace pltfm
