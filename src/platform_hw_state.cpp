// The transceiver layer's per-port tables and locks, and small helpers shared by its files.
#include <chrono>
#include <cstring>

#include "intf_name.h"
#include "platform_hw_internal.h"

// Access rules: `mutex` guards port_ar, port_state_ar, port_attr_list and admin_cycle;
// port_ar is written only by pltfm_transceiver_configure.
// i2c_mutex[cage_lock_slot(s)] is held by the laser routine across its register
// read-modify-write. The two are never held together.
pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
// All-zero is the default-initialised mutex on this platform; the monitor start-up
// initialises slots 1 to 258 again with default attributes before the thread starts.
pthread_mutex_t i2c_mutex[PLTFM_PORT_SLOT_TABLE_SIZE];
pltfm_port_t port_ar[PLTFM_PORT_SLOT_TABLE_SIZE];
uint32_t port_state_ar[PLTFM_PORT_SLOT_TABLE_SIZE];
pltfm_attr_t port_attr_list[PLTFM_PORT_SLOT_TABLE_SIZE][PLTFM_KEY_ATTR_COUNT];
// Written at monitor start-up before the insertion thread exists; read-only afterwards.
int32_t port_default_speed_ar[PLTFM_PORT_SLOT_TABLE_SIZE];

namespace pltfm::hw {

AdminCycle admin_cycle[PLTFM_PORT_SLOT_TABLE_SIZE];
int64_t admin_cycle_since_ms[PLTFM_PORT_SLOT_TABLE_SIZE];
Lasers lasers_ar[PLTFM_PORT_SLOT_TABLE_SIZE];

void open_admin_cycle(uint32_t slot) noexcept {
    admin_cycle[slot] = AdminCycle::down_written;
    admin_cycle_since_ms[slot] = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
}

const char *lasers_text(Lasers lasers) noexcept {
    switch (lasers) {
        case Lasers::enabled: return "enabled";
        case Lasers::disabled: return "disabled";
        case Lasers::not_written: return "not written (CMIS)";
        case Lasers::not_an_optic: return "not an optic";
        case Lasers::not_managed: return "not managed";
        case Lasers::unreadable: return "unreadable";
        case Lasers::unknown: break;
    }
    return "unknown";
}

IntfName intf_name_of(const pltfm_port_t &port) noexcept {
    IntfName n{};
    const std::size_t len = strnlen(port.intf_name, sizeof port.intf_name);
    n.unterminated = len == sizeof port.intf_name;
    std::memcpy(n.text, port.intf_name, len < sizeof n.text ? len : sizeof n.text - 1);
    return n;
}

bool IntfName::safe() const { return !unterminated && pltfm::is_safe_intf_name(text); }

}  // namespace pltfm::hw
