// The tuning tree as an object of its own, so that a directory can be loaded into a tree
// other than the live one (the reload loads aside and swaps). The exported pi_database_*
// functions are these operations applied to the live tree; none of them takes a lock.
#pragma once

#include <utility>

#include "alloc.h"
#include "pi_csvfile_private.h"
#include "pi_database_index.h"
#include "pi_database_private.h"
#include "platform_types.h"

namespace pltfm::database {

// Number of keys of a row (add) and of a port lookup (get).
inline constexpr uint32_t kRowKeyCount = 6;
inline constexpr uint32_t kLookupKeyCount = 7;

// Where a row of a tree was read: the tuning file (its index in Tree::files) and the line.
struct RowSource {
    static constexpr uint32_t kNoFile = UINT32_MAX;  // a row added through pi_database_add_row
    uint32_t file = kNoFile;
    uint32_t line = 0;
};

// Root of one tuning tree; null means empty. Every entry and tuning list below it lives in
// the tree's arena, freed as a whole; beside it the index that keeps row insertion linear
// in the number of rows, and the base names of the files the rows were read from.
struct Tree {
    pi_cable_type_entry_t *serdes_db_p = nullptr;
    mem::Arena memory;
    InsertIndex index;
    const char **files = nullptr;  // in the arena
    uint32_t file_count = 0;

    void swap(Tree &other) noexcept {
        std::swap(serdes_db_p, other.serdes_db_p);
        memory.swap(other.memory);
        index.swap(other.index);
        std::swap(files, other.files);
        std::swap(file_count, other.file_count);
    }
};

// The tree the exported C functions and the facade work on.
// Access rules: read under the facade's shared lock, changed under its exclusive lock; the
// pi_database_* functions themselves take no lock.
Tree &live_tree() noexcept;

pltfm_status_t pi_database_add_row(Tree &tree, const pltfm_attr_t *key_list_p, uint32_t key_count,
                                   const pltfm_attr_t *value_list_p, uint32_t value_count) noexcept;
// pi_database_add_row for the loader's own rows: the six keys in level order (the order of
// pi_key_idx_e) and every key and value terminated and zero after its text, as the loader
// stores them; they are copied without being checked or re-terminated. Same messages. The
// row remembers where it was read.
pltfm_status_t add_loaded_row(Tree &tree, const pltfm_attr_t *key_list_p,
                              const pltfm_attr_t *value_list_p, uint32_t value_count,
                              RowSource source) noexcept;
// Keeps the base names of the files a load reads, in the order of their index in RowSource.
// False when the arena could not hold them ("malloc failed" logged).
bool set_files(Tree &tree, const pi_csv_file_entry_t *files, uint32_t count) noexcept;
// Where the lane's row was read.
RowSource row_source(const pi_lane_entry_t &lane) noexcept;
// pi_database_get without its messages, for checks that hand nothing out.
pltfm_status_t lookup_quietly(const Tree &tree, const pltfm_attr_t *key_list_p,
                              uint32_t key_count, pltfm_attr_t *value_list_p,
                              uint32_t *value_count_p) noexcept;
// The sources of the rows a port lookup (the keys of pi_database_get) returns, one per lane
// in lane order: `count` in the capacity of `sources`, out the number of lanes. Statuses as
// pi_database_get's; no message.
pltfm_status_t port_row_sources(const Tree &tree, const pltfm_attr_t *key_list_p,
                                uint32_t key_count, RowSource *sources, uint32_t *count) noexcept;
pltfm_status_t pi_database_get(const Tree &tree, const pltfm_attr_t *key_list_p, uint32_t key_count,
                               pltfm_attr_t *value_list_p, uint32_t *value_count_p) noexcept;
// PLTFM_UNINIT with a message when the tree is already empty.
pltfm_status_t pi_database_deinit(Tree &tree) noexcept;
// Loads the directory into the (empty) tree; on failure the tree is left empty.
pltfm_status_t pi_database_init(Tree &tree, const char *serdes_params_directory_p) noexcept;

// Frees whatever the tree holds, without a message; used for trees that were replaced.
void discard(Tree &tree) noexcept;

}  // namespace pltfm::database
