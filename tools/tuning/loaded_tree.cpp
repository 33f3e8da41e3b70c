// Loading a tuning directory aside with the loader's messages captured.
#include "loaded_tree.h"

#include "stderr_capture.h"

namespace pltfm::tuning {

LoadedTree::LoadedTree(const std::string &dir) {
    tools::StderrCapture capture;
    status_ = database::pi_database_init(tree_, dir.c_str());
    messages_ = capture.finish();
}

LoadedTree::~LoadedTree() {
    database::discard(tree_);
}

}  // namespace pltfm::tuning
