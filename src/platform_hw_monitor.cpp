// Transceiver monitor: start-up of the per-port tables and the insertion thread that polls
// every configured port once a second, remembers what is plugged in, and toggles the port's
// administrative state when a different kind of module appears.
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "background_threads.h"
#include "intf_name.h"
#include "log.h"
#include "platform_hw_internal.h"

namespace {

constexpr uint32_t kPreInitBit = 1u << PLTFM_PORT_PRE_INIT;
constexpr uint32_t kInitBit = 1u << PLTFM_PORT_INIT;
constexpr uint32_t kInsertedBit = 1u << PLTFM_PORT_INSERTED;

// Key attribute order of every stored list.
constexpr pltfm_attr_type_t kKeyOrder[PLTFM_KEY_ATTR_COUNT] = {
    PLTFM_ATTR_VENDOR, PLTFM_ATTR_CABLE_TYPE, PLTFM_ATTR_SPEED, PLTFM_ATTR_ENCODING,
    PLTFM_ATTR_FRONT_PORT, PLTFM_ATTR_NUM_LANES, PLTFM_ATTR_LANE};

void set_key_order(pltfm_attr_t (&list)[PLTFM_KEY_ATTR_COUNT]) {
    for (int k = 0; k < PLTFM_KEY_ATTR_COUNT; ++k) {
        list[k].key = kKeyOrder[k];
        list[k].value[0] = '\0';
    }
}

// Vendor, cable type, speed and encoding joined by blanks.
void key_text(char (&out)[1024], const pltfm_attr_t *list) {
    std::snprintf(out, sizeof out, "%s %s %s %s", list[0].value, list[1].value, list[2].value, list[3].value);
}

// The per-slot tables are reset once per process. A later start-up (the SDK starting again
// in the same process) keeps what the ports have stored, so ports with a module keep their
// answers, and never re-initialises an i2c mutex the running thread may hold.
pthread_once_t g_tables_once = PTHREAD_ONCE_INIT;

void reset_tables() {
    pthread_mutex_lock(&mutex);
    std::memset(port_attr_list, 0, sizeof port_attr_list);
    pthread_mutex_unlock(&mutex);
    for (int32_t slot = 1; slot <= PLTFM_PORT_SLOT_MAX; ++slot) {
        (void)pltfm_port_default_speed_get_from_config_file(slot);
        pthread_mutex_lock(&mutex);
        set_key_order(port_attr_list[slot]);
        pthread_mutex_unlock(&mutex);
        pthread_mutex_init(&i2c_mutex[slot], nullptr);
    }
}

pthread_mutex_t g_thread_guard = PTHREAD_MUTEX_INITIALIZER;
bool g_thread_started = false;  // guarded by g_thread_guard

// One slot of a pass; the thread's working storage comes from the caller.
void visit_slot(uint32_t slot, char (&stored_text)[1024], char (&fresh_text)[1024]) {
    static constexpr const char *kFunc = "pltfm_transceiver_hw_oir_monitor";
    const int p = static_cast<int>(slot) - 1;
    char cmd[128] = {};
    char status[8] = {};

    pthread_mutex_lock(&mutex);
    const pltfm_port_t port = port_ar[slot];
    const pltfm::hw::IntfName name = pltfm::hw::intf_name_of(port);
    if (name.text[0] == '\0' || !name.safe()) {
        pthread_mutex_unlock(&mutex);
        return;
    }
    std::snprintf(cmd, sizeof cmd, "redis-cli -n 6 hget \"TRANSCEIVER_STATUS|%s\" \"status\"", name.c_str());
    if (pltfm_redis_read(cmd, status, 7) != PLTFM_SUCCESS) {
        pthread_mutex_unlock(&mutex);
        return;
    }
    if (std::strtol(status, nullptr, 10) == 0) {
        port_state_ar[slot] &= ~kInsertedBit;
        pthread_mutex_unlock(&mutex);
        return;
    }
    pthread_mutex_unlock(&mutex);

    pltfm_attr_t fresh[PLTFM_KEY_ATTR_COUNT] = {};
    set_key_order(fresh);
    if (pltfm_transceiver_info_get(port, fresh, PLTFM_KEY_ATTR_COUNT, 0) != PLTFM_SUCCESS) {
        PLTFM_LOG_AS(kFunc, "Port %d get transceiver information failed", p);
        return;
    }

    pthread_mutex_lock(&mutex);
    key_text(stored_text, port_attr_list[slot]);
    key_text(fresh_text, fresh);
    const bool port_down = pltfm::hw::port_is_down(port_state_ar[slot]);
    if (std::strcmp(stored_text, fresh_text) != 0) {
        PLTFM_LOG_AS(kFunc, "Port %d from %s to %s.", p, stored_text, fresh_text);
        std::memcpy(port_attr_list[slot], fresh, sizeof fresh);
        port_state_ar[slot] |= kInsertedBit;
        if (port_down) {
            // Nothing to re-create: the port's next pre-initialisation takes the stored module.
            pthread_mutex_unlock(&mutex);
            PLTFM_LOG_AS(kFunc, "Port %d is down: the new transceiver is used when it is created again.", p);
            (void)pltfm_transceiver_configure_helper(slot, PLTFM_PORT_DOWN);
            return;
        }
        // `mutex` stays held from the "down" write to the mark, so the port-down the OS answers
        // with always finds the mark and brings the port back up.
        if (pltfm::hw::oir_action_named(static_cast<int32_t>(slot), name.c_str(), PLTFM_ACT_ADMIN_DOWN)) {
            port_state_ar[slot] &= ~(kPreInitBit | kInitBit);
            pltfm::hw::admin_down_by_library[slot] = true;
            pthread_mutex_unlock(&mutex);
            return;
        }
        // Not taken down (the operator shut it, its status is unknown, or the write failed):
        // the port stays as it is, and an up port's new module gets its lasers on.
        pthread_mutex_unlock(&mutex);
        (void)pltfm_transceiver_configure_helper(slot, PLTFM_PORT_PRE_INIT);
        return;
    }
    if (port_state_ar[slot] & kInsertedBit) {
        pthread_mutex_unlock(&mutex);
        return;
    }
    PLTFM_LOG_AS(kFunc, "Port %d insert the same transceiver %s.", p, fresh_text);
    std::memcpy(port_attr_list[slot], fresh, sizeof fresh);
    // A port that is down keeps its lasers off until its next pre-initialisation.
    port_state_ar[slot] |= port_down ? kInsertedBit : (kPreInitBit | kInitBit | kInsertedBit);
    pthread_mutex_unlock(&mutex);
    (void)pltfm_transceiver_configure_helper(slot, port_down ? PLTFM_PORT_DOWN : PLTFM_PORT_PRE_INIT);
}

}  // namespace

namespace pltfm::hw {

void oir_monitor_pass() {
    // Thread-local: the pass may run on the monitor thread or, in tests, on the caller's.
    thread_local char stored_text[1024];
    thread_local char fresh_text[1024];
    for (uint32_t slot = 1; slot <= PLTFM_PORT_SLOT_MAX; ++slot) visit_slot(slot, stored_text, fresh_text);
}

}  // namespace pltfm::hw

void *pltfm_transceiver_hw_oir_monitor(void *p) {
    (void)p;
    for (;;) {
        pltfm::hw::oir_monitor_pass();
        ::sleep(1);
    }
    return nullptr;
}

pltfm_status_t pltfm_transceiver_monitor(void) {
    pthread_once(&g_tables_once, reset_tables);

    pthread_mutex_lock(&g_thread_guard);
    pltfm_status_t rc = PLTFM_SUCCESS;
    if (!g_thread_started && pltfm::threads::autostart()) {
        pthread_t thread;
        const int err = pthread_create(&thread, nullptr, pltfm_transceiver_hw_oir_monitor, nullptr);
        if (err != 0) {
            PLTFM_LOG("OIR Monitor Thread creation failed: %d\n", err);
            rc = PLTFM_DRIVER_ERROR;
        } else {
            g_thread_started = true;
        }
    }
    pthread_mutex_unlock(&g_thread_guard);
    return rc;
}
