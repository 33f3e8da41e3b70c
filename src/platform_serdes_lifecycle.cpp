// Library lifecycle entry points (pre-init, init, post-init) and the tuning rescan thread,
// which reloads the tuning directory each time the operator creates the trigger file.
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "background_threads.h"
#include "build_config.h"
#include "database_reload.h"
#include "log.h"
#include "paths.h"
#include "platform_database.h"
#include "platform_hw.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "port_state.h"

namespace {

constexpr auto kRescanPeriod = std::chrono::seconds(10);
constexpr auto kPostInitDelay = std::chrono::seconds(10);

// Milliseconds; only tests shorten it.
std::atomic<long long> g_post_init_delay_ms{
    std::chrono::duration_cast<std::chrono::milliseconds>(kPostInitDelay).count()};

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// What only the first start-up of the process does, guarded by g_start_guard: intf_db is
// zero-filled once (a later start-up keeps the lists it holds, so the ports' port-downs still
// release them), and the rescan thread is started once (a failed start is tried again).
std::mutex g_start_guard;
bool g_intf_db_cleared = false;
bool g_rescan_thread_started = false;

bool platform_accepted(const char *platform) {
    return platform != nullptr && std::string_view(platform) == PLTFM_PLATFORM_NAME;
}

const char *shown(const char *text) {
    return text != nullptr ? text : "(null)";
}

}  // namespace

namespace pltfm::serdes {

void set_post_init_delay_for_test(std::chrono::milliseconds delay) noexcept {
    g_post_init_delay_ms = delay.count();
}

// The trigger's contents are never read; opening it for reading is the test of presence, so
// a trigger that cannot be read counts as absent. The tuning directory is loaded aside and
// replaces the live database only when it loads, so a broken directory leaves the previous
// tuning in use; the trigger must then be removed and created again to retry. A successful
// reload also logs how many rows it added, removed and changed against the replaced tuning.
void rescan_poll(RescanState &state) noexcept {
    FilePtr trigger(std::fopen(pltfm::paths::rescan_trigger(), "r"));
    if (!trigger) {
        state.file_exists = false;
        return;
    }
    if (!state.file_exists) {
        PLTFM_LOG_AS("pltfm_csv_rescan", "Starting CSV rescan...");
        pltfm::database::RowChangeCounts changes;
        const pltfm_status_t rc = pltfm::database::reload(pltfm::paths::tuning_dir(), &changes);
        if (rc != PLTFM_SUCCESS) {
            PLTFM_LOG_AS("pltfm_csv_rescan", "pltfm_parser_database_init failed rc=%d", rc);
            PLTFM_LOG_AS("pltfm_csv_rescan", "Error: CSV rescan failed");
        } else {
            PLTFM_LOG_AS("pltfm_csv_rescan", "CSV rescan successful!");
            PLTFM_LOG_AS("pltfm_csv_rescan",
                         "CSV rescan changed tuning rows: %llu added, %llu removed, %llu changed",
                         static_cast<unsigned long long>(changes.added),
                         static_cast<unsigned long long>(changes.removed),
                         static_cast<unsigned long long>(changes.changed));
            pltfm::port_state::check_stale_after_reload("pltfm_csv_rescan", "CSV rescan");
        }
    }
    state.file_exists = true;
}

}  // namespace pltfm::serdes

void *pltfm_csv_rescan(void * /*p*/) {
    pltfm::serdes::RescanState state;
    for (;;) {
        pltfm::serdes::rescan_poll(state);
        std::this_thread::sleep_for(kRescanPeriod);
    }
}

int pltfm_pre_init(char *platform) {
    PLTFM_LOG("PLTFM_SERDES_LIB_VERSION Ver_%s", PLTFM_SERDES_LIB_VERSION);
    PLTFM_LOG("In pltfm_pre_init (platform=%s)", shown(platform));
    if (platform == nullptr) {
        PLTFM_LOG("Invalid input value.");
        return PLTFM_UNINIT;
    }
    if (!platform_accepted(platform)) return PLTFM_UNINIT;

    pltfm_status_t rc = pltfm_transceiver_monitor();
    if (rc != PLTFM_SUCCESS) {
        PLTFM_LOG("pltfm_transceiver_monitor failed rc=%d", rc);
        return PLTFM_UNINIT;
    }
    PLTFM_LOG("pltfm_transceiver_monitor Success");

    // Loaded aside and swapped in, as a rescan does: a later start-up in the same process
    // reloads the tuning files instead of failing on the database it already has, and a
    // broken directory then leaves the tuning in use.
    rc = pltfm::database::reload(pltfm::paths::tuning_dir());
    if (rc != PLTFM_SUCCESS) {
        PLTFM_LOG("pltfm_parser_database_init failed rc=%d", rc);
        return PLTFM_UNINIT;
    }
    PLTFM_LOG("pltfm_parser_database_init Success");
    // A start-up again in the same process reloaded the files under running ports.
    pltfm::port_state::check_stale_after_reload("pltfm_pre_init", "The reload at start-up");

    std::lock_guard guard(g_start_guard);
    if (!g_intf_db_cleared) {
        pltfm::serdes::intf_db_clear();
        g_intf_db_cleared = true;
    }
    if (g_rescan_thread_started || !pltfm::threads::autostart()) return PLTFM_SUCCESS;
    // The thread runs until the process ends; nobody joins it.
    pthread_t thread;
    const int err = pthread_create(&thread, nullptr, pltfm_csv_rescan, nullptr);
    if (err != 0) {
        PLTFM_LOG("CSV rescan Thread creation failed: %d\n", err);
        return PLTFM_DRIVER_ERROR;
    }
    pthread_detach(thread);
    g_rescan_thread_started = true;
    return PLTFM_SUCCESS;
}

int pltfm_init(char *platform) {
    PLTFM_LOG("In pltfm_init (platform=%s)", shown(platform));
    if (platform == nullptr) {
        PLTFM_LOG("Invalid input value.");
        return PLTFM_UNINIT;
    }
    return platform_accepted(platform) ? PLTFM_SUCCESS : PLTFM_UNINIT;
}

int pltfm_post_init(char *platform) {
    PLTFM_LOG("In pltfm_post_init (platform=%s)", shown(platform));
    if (platform == nullptr) {
        PLTFM_LOG("Invalid input value.");
        return PLTFM_UNINIT;
    }
    if (!platform_accepted(platform)) return PLTFM_UNINIT;
    std::this_thread::sleep_for(std::chrono::milliseconds(g_post_init_delay_ms.load()));
    return PLTFM_SUCCESS;
}
