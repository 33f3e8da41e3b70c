// The switch that lets deterministic tests run start-up without the background threads.
#include "background_threads.h"

#include <atomic>

namespace pltfm::threads {

namespace {
std::atomic<bool> g_autostart{true};
}  // namespace

bool autostart() noexcept {
    return g_autostart.load();
}

void disable_autostart_for_test() noexcept {
    g_autostart = false;
}

}  // namespace pltfm::threads
