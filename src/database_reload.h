// Reload of the tuning database while the switch runs: the directory is loaded into a tree
// of its own and replaces the live tree only when the load succeeded, so a broken tuning
// directory never leaves the ports without tuning.
#pragma once

#include "pi_database_diff.h"
#include "platform_types.h"

namespace pltfm::database {

// Loads dir aside; on success swaps it in (also when no tree was loaded) and frees the old
// tree. On failure the live tree stays in use. Returns the loader's status. Concurrent
// lookups see either the old or the new tree, never a partial one. With `changes` set, a
// successful reload also counts the rows it added, removed and changed against the old tree.
pltfm_status_t reload(const char *dir, RowChangeCounts *changes = nullptr);

}  // namespace pltfm::database
