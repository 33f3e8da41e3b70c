// Access to the OS's Redis databases (pltfm_redis_read, pltfm_redis_write), and the port's
// administrative actions built on them. How a command reaches Redis, a shell pipe or a native
// connection, is the transport's business (platform_hw_redis_transport.h); every message and
// result is decided here, the same for both.
#include <cstdio>
#include <cstring>
#include <string>

#include "decimal_text.h"
#include "intf_name.h"
#include "log.h"
#include "platform_hw_internal.h"
#include "platform_hw_redis_stall.h"
#include "platform_hw_redis_transport.h"

namespace {

using pltfm::redis::Outcome;
using Turn = pltfm::redis::StallPolicy::Turn;

// Commands that reach Redis; the port configuration pipeline does not.
bool reaches_redis(const char *cmd) {
    return std::strncmp(cmd, "redis-cli ", 10) == 0;
}

// Runs the command through the transport. A failure inside the transport (memory) counts as
// printing nothing. While Redis is stalled a Redis command is not run at all, and one under way
// when another access finds Redis stalled is given up; both fail as a command that printed
// nothing. `what` names the command in the line of a stall (the command itself when null).
Outcome run(const char *cmd, char *out, int size, const char *what = nullptr) noexcept {
    auto &policy = pltfm::redis::stall_policy();
    const bool redis = reaches_redis(cmd);
    const Turn turn = redis ? policy.before_access() : Turn::go;
    Outcome outcome = Outcome::no_output;
    if (turn != Turn::skip) {
        const pltfm::redis::AccessUnderWay access(redis && turn == Turn::go, what);
        try {
            outcome = pltfm::redis::transport().first_line(cmd, out, size);
        } catch (...) {
        }
        if (redis) policy.after_access(turn, outcome, what != nullptr ? what : cmd);
    }
    return outcome;
}

// run() that reports a failure as `func`: "Failed to open" when the command could not be
// started, `no_output` ("Failed to get" or "Failed to set") when it printed nothing or got no
// answer in time.
bool run_command(const char *cmd, char *out, int size, const char *func, const char *no_output) noexcept {
    const Outcome outcome = run(cmd, out, size);
    if (outcome == Outcome::cannot_start) PLTFM_LOG_AS(func, "Failed to open %s", cmd);
    if (outcome == Outcome::no_output || outcome == Outcome::timed_out ||
        outcome == Outcome::not_sent)
        PLTFM_LOG_AS(func, "%s %s", no_output, cmd);
    return outcome == Outcome::line;
}

// An hset reply is the number of fields added; anything else (an error such as WRONGTYPE,
// which redis-cli prints without its "(error)" prefix when piped) means nothing was set.
bool is_decimal_integer(const char *reply) {
    const char *p = reply;
    if (*p == '-') ++p;
    if (*p < '0' || *p > '9') return false;
    while (*p >= '0' && *p <= '9') ++p;
    return *p == '\0' || (*p == '\n' && p[1] == '\0');
}

}  // namespace

pltfm_status_t pltfm_redis_read(const char *cmd, char *str, int32_t len) {
    if (cmd == nullptr) return PLTFM_NOTFOUND;
    if (str == nullptr || len < 1) {
        PLTFM_LOG("Failed to get %s", cmd);
        return PLTFM_NOTFOUND;
    }
    if (!run_command(cmd, str, len, __func__, "Failed to get")) return PLTFM_NOTFOUND;
    const std::size_t n = std::strlen(str);
    if (n > 0 && str[n - 1] == '\n') str[n - 1] = '\0';
    return PLTFM_SUCCESS;
}

pltfm_status_t pltfm_redis_write(uint32_t table, const char *key, const char *attribute, const char *value) {
    char cmd[128] = {};
    if (key == nullptr || attribute == nullptr || value == nullptr) return PLTFM_NOTFOUND;
    const int n = std::snprintf(cmd, sizeof cmd, "redis-cli -n %d hset %s %s %s", static_cast<int>(table), key,
                                attribute, value);
    // A cut command line could end inside a quoted word; it is never run.
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof cmd) {
        PLTFM_LOG("Failed to open %s", cmd);
        return PLTFM_NOTFOUND;
    }
    char reply[10] = {};
    if (!run_command(cmd, reply, 9, __func__, "Failed to set")) return PLTFM_NOTFOUND;
    if (!is_decimal_integer(reply)) {
        PLTFM_LOG("Failed to set %s", cmd);
        return PLTFM_NOTFOUND;
    }
    PLTFM_LOG("%s - length:%ld string:%s.\n", cmd, static_cast<long>(std::strlen(reply)), reply);
    return PLTFM_SUCCESS;
}

namespace pltfm::hw {

bool write_fields_quietly(int db, const std::string &key,
                          const std::vector<std::pair<std::string, std::string>> &fields) noexcept {
    try {
        std::string cmd = "redis-cli -n " + pltfm::decimal_text(db) + " hset \"" + key + "\"";
        const std::string what = cmd + " ...";
        for (const auto &[field, value] : fields) cmd += " \"" + field + "\" \"" + value + "\"";
        char reply[24] = {};
        return !fields.empty() &&
               run(cmd.c_str(), reply, sizeof reply - 1, what.c_str()) == Outcome::line &&
               is_decimal_integer(reply);
    } catch (...) {
        return false;  // out of memory building the command: not written
    }
}

// The administrative action on an interface name the caller copied under `mutex`. Each action
// only moves the port out of the opposite state: a port the operator shut is never set down
// again nor brought up by a "down", and a missing or unknown status is left alone.
AdminWrite oir_action_named(int32_t i, const char *intf_name, pltfm_act_t action) {
    static constexpr const char *kFunc = "pltfm_transceiver_hw_oir_action";
    if (!pltfm::is_safe_intf_name(intf_name)) {
        PLTFM_LOG_AS(kFunc, "%s", pltfm::kInvalidIntfNameMessage.data());
        return AdminWrite::not_needed;
    }
    if (action != PLTFM_ACT_ADMIN_DOWN && action != PLTFM_ACT_ADMIN_UP) return AdminWrite::not_needed;
    char cmd[128] = {};
    char reply[10] = {};
    std::snprintf(cmd, sizeof cmd, "redis-cli -n 4 hget \"PORT|%s\" \"admin_status\"", intf_name);
    if (pltfm_redis_read(cmd, reply, 9) != PLTFM_SUCCESS) return AdminWrite::failed;

    const bool down = action == PLTFM_ACT_ADMIN_DOWN;
    if (reply[0] != (down ? 'u' : 'd')) return AdminWrite::not_needed;
    char key[64] = {};
    std::snprintf(key, sizeof key, "\"PORT|%s\"", intf_name);
    if (pltfm_redis_write(4, key, "\"admin_status\"", down ? "\"down\"" : "\"up\"") != PLTFM_SUCCESS) {
        PLTFM_LOG_AS(kFunc, down ? "Port %d admin down failed" : "Port %d admin up failed", i - 1);
        return AdminWrite::failed;
    }
    return AdminWrite::written;
}

void close_admin_cycle(uint32_t slot, const char *intf_name) {
    const AdminWrite w = oir_action_named(static_cast<int32_t>(slot), intf_name, PLTFM_ACT_ADMIN_UP);
    if (w != AdminWrite::failed) {
        admin_cycle[slot] = AdminCycle::none;
        return;
    }
    // The operator's "up" must not be lost to an outage: the insertion thread writes it later.
    if (admin_cycle[slot] != AdminCycle::up_owed)
        PLTFM_LOG_AS("pltfm_transceiver_hw_oir_action",
                     "Port %d admin up could not be written; it is written once Redis answers, "
                     "if admin_status still reads down",
                     static_cast<int>(slot) - 1);
    admin_cycle[slot] = AdminCycle::up_owed;
}

}  // namespace pltfm::hw

void pltfm_transceiver_hw_oir_action(int32_t i, pltfm_act_t action) {
    if (i < 1 || i > PLTFM_PORT_SLOT_MAX) return;
    const pltfm::hw::IntfName name = pltfm::hw::intf_name_of(port_ar[i]);
    if (!name.safe()) {
        PLTFM_LOG("%s", pltfm::kInvalidIntfNameMessage.data());
        return;
    }
    (void)pltfm::hw::oir_action_named(i, name.c_str(), action);
}
