// The tuning tree as an object of its own, so that a directory can be loaded into a tree
// other than the live one (the reload loads aside and swaps). The exported pi_database_*
// functions are these operations applied to the live tree; none of them takes a lock.
#pragma once

#include <utility>

#include "alloc.h"
#include "pi_database_index.h"
#include "pi_database_private.h"
#include "platform_types.h"

namespace pltfm::database {

// Number of keys of a row (add) and of a port lookup (get).
inline constexpr uint32_t kRowKeyCount = 6;
inline constexpr uint32_t kLookupKeyCount = 7;

// Root of one tuning tree; null means empty. Every entry and tuning list below it lives in
// the tree's arena, freed as a whole; beside it the index that keeps row insertion linear
// in the number of rows.
struct Tree {
    pi_cable_type_entry_t *serdes_db_p = nullptr;
    mem::Arena memory;
    InsertIndex index;

    void swap(Tree &other) noexcept {
        std::swap(serdes_db_p, other.serdes_db_p);
        memory.swap(other.memory);
        index.swap(other.index);
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
// stores them; they are copied without being checked or re-terminated. Same messages.
pltfm_status_t add_loaded_row(Tree &tree, const pltfm_attr_t *key_list_p,
                              const pltfm_attr_t *value_list_p, uint32_t value_count) noexcept;
pltfm_status_t pi_database_get(const Tree &tree, const pltfm_attr_t *key_list_p, uint32_t key_count,
                               pltfm_attr_t *value_list_p, uint32_t *value_count_p) noexcept;
// PLTFM_UNINIT with a message when the tree is already empty.
pltfm_status_t pi_database_deinit(Tree &tree) noexcept;
// Loads the directory into the (empty) tree; on failure the tree is left empty.
pltfm_status_t pi_database_init(Tree &tree, const char *serdes_params_directory_p) noexcept;

// Frees whatever the tree holds, without a message; used for trees that were replaced.
void discard(Tree &tree) noexcept;

}  // namespace pltfm::database
