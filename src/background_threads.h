// Whether start-up starts the library's two background threads, the insertion monitor and
// the tuning rescan. The product always does; a test that drives the monitor pass and the
// rescan poll itself, step by step, turns them off before its first start-up.
#pragma once

namespace pltfm::threads {

bool autostart() noexcept;
void disable_autostart_for_test() noexcept;

}  // namespace pltfm::threads
