// Transceiver monitor: start-up of the per-port tables and the insertion thread that polls
// every configured port once a second, remembers what is plugged in, and toggles the port's
// administrative state when a different kind of module appears.
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "background_threads.h"
#include "intf_name.h"
#include "log.h"
#include "platform_hw_internal.h"
#include "platform_hw_redis_events.h"
#include "platform_hw_redis_stall.h"
#include "platform_hw_redis_transport.h"
#include "port_state.h"

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

constexpr auto kPassPeriod = std::chrono::seconds(1);

// Why a slot is visited: its turn in a pass (an inserted module is answered from what the
// slot stored), or news of its module (an event, or a subscription made again after events
// were missed), when the module in the cage is identified afresh.
enum class Visit { poll, module_news };

// The thread's working storage for the key texts. Thread-local: passes and event visits may
// run on the monitor thread or, in tests, on the caller's.
thread_local char stored_text[1024];
thread_local char fresh_text[1024];

// One visit of a slot, for a pass or for news of its module.
void visit_slot(uint32_t slot, Visit visit) {
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
        const bool was_inserted = (port_state_ar[slot] & kInsertedBit) != 0;
        port_state_ar[slot] &= ~kInsertedBit;
        pthread_mutex_unlock(&mutex);
        if (was_inserted) pltfm::port_state::changed(slot);
        return;
    }
    pthread_mutex_unlock(&mutex);

    pltfm_attr_t fresh[PLTFM_KEY_ATTR_COUNT] = {};
    set_key_order(fresh);
    const pltfm_status_t info = visit == Visit::module_news
                                    ? pltfm::hw::transceiver_info_fresh(port, fresh, PLTFM_KEY_ATTR_COUNT)
                                    : pltfm_transceiver_info_get(port, fresh, PLTFM_KEY_ATTR_COUNT, 0);
    if (info != PLTFM_SUCCESS) {
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
            pltfm::port_state::changed(slot);
            return;
        }
        // `mutex` stays held from the "down" write to the mark, so the port-down the OS answers
        // with always finds the mark and brings the port back up.
        if (pltfm::hw::oir_action_named(static_cast<int32_t>(slot), name.c_str(), PLTFM_ACT_ADMIN_DOWN) ==
            pltfm::hw::AdminWrite::written) {
            port_state_ar[slot] &= ~(kPreInitBit | kInitBit);
            pltfm::hw::open_admin_cycle(slot);
            pthread_mutex_unlock(&mutex);
            pltfm::port_state::changed(slot);
            return;
        }
        // Not taken down (the operator shut it, its status is unknown, or the write failed):
        // the port stays as it is, and an up port's new module gets its lasers on.
        pthread_mutex_unlock(&mutex);
        (void)pltfm_transceiver_configure_helper(slot, PLTFM_PORT_PRE_INIT);
        pltfm::port_state::changed(slot);
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
    pltfm::port_state::changed(slot);
}

// The "up" writes owed to ports whose exchange cycle an outage interrupted, made once Redis
// answers: only while "admin_status" still reads "down" (anything else drops the debt).
void make_owed_writes() {
    if (pltfm::redis::stall_policy().stalled()) return;
    for (uint32_t slot = 1; slot <= PLTFM_PORT_SLOT_MAX; ++slot) {
        pthread_mutex_lock(&mutex);
        if (pltfm::hw::admin_cycle[slot] != pltfm::hw::AdminCycle::up_owed) {
            pthread_mutex_unlock(&mutex);
            continue;
        }
        const pltfm::hw::IntfName name = pltfm::hw::intf_name_of(port_ar[slot]);
        const auto w = name.safe() ? pltfm::hw::oir_action_named(static_cast<int32_t>(slot), name.c_str(),
                                                                  PLTFM_ACT_ADMIN_UP)
                                   : pltfm::hw::AdminWrite::not_needed;
        if (w == pltfm::hw::AdminWrite::written)
            PLTFM_LOG_AS("pltfm_transceiver_hw_oir_monitor",
                         "Port %d admin up written now that Redis answers: the module exchange's cycle is "
                         "closed",
                         static_cast<int>(slot) - 1);
        if (w != pltfm::hw::AdminWrite::failed) pltfm::hw::admin_cycle[slot] = pltfm::hw::AdminCycle::none;
        pthread_mutex_unlock(&mutex);
        if (w != pltfm::hw::AdminWrite::failed) pltfm::port_state::changed(slot);
    }
}

// Slots whose stored interface name is one of `interfaces`, in slot order.
std::vector<uint32_t> slots_named(const std::vector<std::string> &interfaces) {
    std::vector<uint32_t> slots;
    if (interfaces.empty()) return slots;
    pthread_mutex_lock(&mutex);
    for (uint32_t slot = 1; slot <= PLTFM_PORT_SLOT_MAX; ++slot) {
        const pltfm::hw::IntfName name = pltfm::hw::intf_name_of(port_ar[slot]);
        if (name.text[0] == '\0') continue;
        if (std::find(interfaces.begin(), interfaces.end(), std::string_view(name.c_str())) != interfaces.end())
            slots.push_back(slot);
    }
    pthread_mutex_unlock(&mutex);
    return slots;
}

}  // namespace

namespace pltfm::hw {

void oir_monitor_pass() {
    // The retry of a stalled Redis costs the SDK's thread nothing here: no lock is held.
    pltfm::redis::stall_policy().retry_from_monitor([] { return pltfm::redis::transport().probe(); });
    make_owed_writes();
    if (!pltfm::redis::stall_policy().stalled()) pltfm::port_state::republish_unwritten();
    Visit visit = Visit::poll;
    if (auto *events = pltfm::redis::keyspace_events();
        events != nullptr && events->ensure() == pltfm::redis::KeyspaceEvents::Subscription::made_again)
        visit = Visit::module_news;  // the events sent meanwhile are gone
    for (uint32_t slot = 1; slot <= PLTFM_PORT_SLOT_MAX; ++slot)
        visit_slot(slot, visit);
}

std::size_t oir_visit_module_events(const std::vector<std::string> &interfaces) {
    const std::vector<uint32_t> slots = slots_named(interfaces);
    for (uint32_t slot : slots) visit_slot(slot, Visit::module_news);
    return slots.size();
}

std::size_t oir_dispatch_events(std::chrono::milliseconds wait) {
    auto *events = pltfm::redis::keyspace_events();
    if (events == nullptr) return 0;
    std::vector<std::string> interfaces;
    if (!events->wait(wait, interfaces)) return 0;
    return oir_visit_module_events(interfaces);
}

std::size_t oir_dispatch_pending_events(std::vector<std::string> *heard) {
    auto *events = pltfm::redis::keyspace_events();
    if (events == nullptr) return 0;
    std::vector<std::string> interfaces;
    if (!events->drain(interfaces)) return 0;
    if (heard != nullptr) *heard = interfaces;
    return oir_visit_module_events(interfaces);
}

}  // namespace pltfm::hw

// Passes once a second; between them the thread waits for module events (native mode with
// keyspace notifications) and visits their slots at once, or sleeps.
void *pltfm_transceiver_hw_oir_monitor(void *p) {
    (void)p;
    using Clock = std::chrono::steady_clock;
    for (;;) {
        pltfm::hw::oir_monitor_pass();
        const auto next = Clock::now() + kPassPeriod;
        for (auto now = Clock::now(); now < next; now = Clock::now()) {
            auto *events = pltfm::redis::keyspace_events();
            if (events == nullptr || !events->subscribed()) {
                std::this_thread::sleep_until(next);
                break;
            }
            (void)pltfm::hw::oir_dispatch_events(
                std::chrono::duration_cast<std::chrono::milliseconds>(next - now) + std::chrono::milliseconds(1));
        }
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
