// Facade of the tuning database (load, look up, tear down) and the reload that loads a
// directory aside and swaps it in. This is where lookups and rebuilds are kept apart: the
// tree itself and its loader take no lock.
#include "platform_database.h"

#include <mutex>
#include <shared_mutex>
#include <string>

#include "database_port_rows.h"
#include "database_reload.h"
#include "decimal_text.h"
#include "log.h"
#include "pi_database_internal.h"

namespace {

// Access rules: the live tree (pltfm::database::live_tree()) is read under a shared lock and
// loaded, replaced or freed under the exclusive lock.
std::shared_mutex g_tree_lock;
// Serialises directory loads (init and reload) among themselves. Taken before g_tree_lock.
std::mutex g_load_lock;

}  // namespace

extern "C" {

pltfm_status_t pltfm_parser_database_init(const char *serdes_params_directory_p) {
    if (serdes_params_directory_p == nullptr) {
        PLTFM_LOG("null value for directory path");
        return PLTFM_PARAM;
    }
    std::lock_guard load(g_load_lock);
    std::unique_lock tree(g_tree_lock);
    return pi_database_init(serdes_params_directory_p);
}

pltfm_status_t pltfm_parser_database_get(const pltfm_attr_t *input_attr_p, uint32_t input_count,
                                         pltfm_attr_t *output_attr_p, uint32_t *output_count_p) {
    if (input_attr_p == nullptr || output_attr_p == nullptr) {
        PLTFM_LOG("null value for attribute pointers");
        return PLTFM_PARAM;
    }
    if (input_count == 0 || output_count_p == nullptr) {
        PLTFM_LOG("zero length for null attribute arrays");
        return PLTFM_PARAM;
    }
    std::shared_lock tree(g_tree_lock);
    return pi_database_get(input_attr_p, input_count, output_attr_p, output_count_p);
}

pltfm_status_t pltfm_parser_database_deinit(void) {
    std::unique_lock tree(g_tree_lock);
    return pi_database_deinit();
}

}  // extern "C"

namespace pltfm::database {

pltfm_status_t reload(const char *dir, RowChangeCounts *changes) {
    if (dir == nullptr) {
        PLTFM_LOG("null value for directory path");
        return PLTFM_PARAM;
    }
    std::lock_guard load(g_load_lock);
    // The aside tree is private to this thread until the swap: no tree lock while loading,
    // so lookups go on against the old tree meanwhile.
    Tree aside;
    const pltfm_status_t rc = pi_database_init(aside, dir);
    if (rc != PLTFM_SUCCESS) return rc;  // the failed load left `aside` empty
    {
        std::unique_lock tree(g_tree_lock);
        live_tree().swap(aside);
    }
    // The old tree is unreachable for readers now. The new one may still be read beside
    // lookups (shared lock: no teardown meanwhile); then the old one is freed outside the lock.
    if (changes != nullptr) {
        std::shared_lock tree(g_tree_lock);
        *changes = count_row_changes(aside, live_tree());
    }
    discard(aside);
    return PLTFM_SUCCESS;
}

}  // namespace pltfm::database

namespace pltfm::database {

pltfm_status_t get_quietly(const pltfm_attr_t *keys, uint32_t key_count, pltfm_attr_t *rows,
                           uint32_t *row_count) noexcept {
    std::shared_lock tree(g_tree_lock);
    return lookup_quietly(live_tree(), keys, key_count, rows, row_count);
}

namespace {

void append_file_name(std::string &out, const char *name) {
    for (const char *c = name; *c != '\0'; ++c) {
        const bool safe = *c >= ' ' && *c <= '~' && *c != '"' && *c != '\\' && *c != '$' && *c != '`';
        out += safe ? *c : '?';
    }
}

}  // namespace

std::string tuning_rows_text(const pltfm_attr_t *keys, uint32_t key_count) noexcept {
    try {
        constexpr uint32_t kMaxLanes = 8;
        RowSource sources[kMaxLanes];
        uint32_t count = kMaxLanes;
        std::string out;
        std::shared_lock tree(g_tree_lock);
        const Tree &t = live_tree();
        if (port_row_sources(t, keys, key_count, sources, &count) != PLTFM_SUCCESS) return out;
        if (count > kMaxLanes) count = kMaxLanes;
        // "file:a-b,c" per run of one file; lines of consecutive lanes form ranges.
        for (uint32_t i = 0; i < count;) {
            const RowSource &first = sources[i];
            if (first.file == RowSource::kNoFile || first.file >= t.file_count) {
                ++i;
                continue;
            }
            if (!out.empty()) out += ' ';
            append_file_name(out, t.files[first.file]);
            out += ':';
            bool first_range = true;
            while (i < count && sources[i].file == first.file) {
                uint32_t end = i;
                while (end + 1 < count && sources[end + 1].file == first.file &&
                       sources[end + 1].line == sources[end].line + 1)
                    ++end;
                if (!first_range) out += ',';
                first_range = false;
                out += pltfm::decimal_text(sources[i].line);
                if (end > i) out += '-' + pltfm::decimal_text(sources[end].line);
                i = end + 1;
            }
        }
        return out;
    } catch (...) {
        return {};  // out of memory: the field stays empty
    }
}

}  // namespace pltfm::database
