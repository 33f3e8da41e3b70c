// PLTFM_ROOT handling and the library's fixed paths.
#include "paths.h"

#include <cstdlib>
#include <memory>
#include <mutex>

#include "build_config.h"
#include "log.h"

namespace pltfm::paths {

namespace {

struct Table {
    std::string root;
    std::string tuning_dir;
    std::string rescan_trigger;
    std::string port_config_file;
    std::string sysfs_devices;
    const Table *replaced = nullptr;  // the table this one replaced (tests only), kept alive
};

std::string read_root() {
    const char *env = std::getenv("PLTFM_ROOT");
    if (env == nullptr || *env == '\0') return {};
    if (!is_safe_path(env)) {
        PLTFM_LOG("PLTFM_ROOT ignored: %s is not an absolute path of letters, digits, '/', '_', "
                  "'-' and '.'",
                  env);
        return {};
    }
    std::string root(env);
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (root == "/") root.clear();
    return root;
}

std::unique_ptr<Table> build() {
    auto t = std::make_unique<Table>();
    t->root = read_root();
    t->tuning_dir = t->root + PLTFM_SHARE_ROOT "/platform/CSV";
    t->rescan_trigger = t->root + PLTFM_SHARE_ROOT "/platform/CSV/csv_rescan";
    t->port_config_file = t->root + PLTFM_SHARE_ROOT "/sku/port_config.ini";
    t->sysfs_devices = t->root + PLTFM_SYSFS_ROOT;
    return t;
}

std::once_flag g_once;
// Never destroyed: the insertion-monitor and rescan threads use the paths until the process
// ends, also while static destructors run at exit.
Table *g_table = nullptr;

const Table &table() {
    std::call_once(g_once, [] { g_table = build().release(); });
    return *g_table;
}

}  // namespace

bool is_safe_path(std::string_view path) {
    if (path.empty() || path.front() != '/') return false;
    for (char c : path) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '/' || c == '_' || c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

const std::string &root() { return table().root; }

std::string under_root(std::string_view fixed_absolute) {
    return table().root + std::string(fixed_absolute);
}

const char *tuning_dir() { return table().tuning_dir.c_str(); }
const char *rescan_trigger() { return table().rescan_trigger.c_str(); }
const char *port_config_file() { return table().port_config_file.c_str(); }
const char *sysfs_devices() { return table().sysfs_devices.c_str(); }

void reload_for_test() {
    table();
    // The old table may still be in use by a thread: it stays reachable, never freed.
    Table *fresh = build().release();
    fresh->replaced = g_table;
    g_table = fresh;
}

}  // namespace pltfm::paths
