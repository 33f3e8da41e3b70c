// Absolute paths the library opens. When the environment variable PLTFM_ROOT holds a safe
// absolute path, every fixed path is prefixed with it, so tests, the simulated switch and
// lab setups can point the library at a fake platform tree. Read once, at first use.
#pragma once

#include <string>
#include <string_view>

namespace pltfm::paths {

// The accepted PLTFM_ROOT prefix, or empty.
const std::string &root();
// fixed_absolute with the root prefixed.
std::string under_root(std::string_view fixed_absolute);

// Tuning directory, rescan trigger, port configuration file, i2c sysfs device root.
const char *tuning_dir();
const char *rescan_trigger();
const char *port_config_file();
const char *sysfs_devices();

// True when the text is an absolute path of letters, digits, '/', '_', '-' and '.' only:
// such a path may be placed on a shell command line unquoted.
bool is_safe_path(std::string_view path);

// Test hook: read PLTFM_ROOT again.
void reload_for_test();

}  // namespace pltfm::paths
