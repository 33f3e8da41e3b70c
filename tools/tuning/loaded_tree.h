// A tuning directory loaded by the library's own loader into a tree private to the tool (not
// the live database), with the loader's messages, freed on scope exit.
#pragma once

#include <string>

#include "pi_database_internal.h"

namespace pltfm::tuning {

class LoadedTree {
  public:
    // Loads `dir`; the loader's messages (its standard error) are kept, not shown.
    explicit LoadedTree(const std::string &dir);
    ~LoadedTree();
    LoadedTree(const LoadedTree &) = delete;
    LoadedTree &operator=(const LoadedTree &) = delete;

    bool loaded() const { return status_ == PLTFM_SUCCESS; }
    pltfm_status_t status() const { return status_; }
    const std::string &messages() const { return messages_; }
    const database::Tree &tree() const { return tree_; }

  private:
    database::Tree tree_;
    pltfm_status_t status_;
    std::string messages_;
};

}  // namespace pltfm::tuning
