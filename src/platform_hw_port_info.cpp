// The seven key attributes of a port (vendor, cable type, lane-speed class, encoding, front
// port, lane count, start lane), the per-slot store of the last answer, and the default port
// speeds from the SKU's port configuration file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "intf_name.h"
#include "log.h"
#include "paths.h"
#include "platform_hw_internal.h"

namespace {

void copy_value(char (&dst)[PLTFM_ATTR_VALUE_LEN], const char *src) {
    std::snprintf(dst, sizeof dst, "%s", src);
}

// A speed as the application database holds it: decimal digits only, blanks around them
// allowed. Anything else (an empty field, a field being rewritten) is no speed at all.
std::optional<long> parse_speed(const char *text) {
    errno = 0;
    char *end = nullptr;
    const char *p = text;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p < '0' || *p > '9') return std::nullopt;
    const long v = std::strtol(p, &end, 10);
    while (*end == ' ' || *end == '\t' || *end == '\r') ++end;
    if (*end != '\0' || errno == ERANGE) return std::nullopt;
    return v;
}

}  // namespace

namespace pltfm::hw {

PortSpeed port_speed(const char *intf, uint32_t phy_port) noexcept {
    PortSpeed out;
    char cmd[128] = {};
    std::snprintf(cmd, sizeof cmd, "redis-cli -n 0 hget \"PORT_TABLE:%s\" \"speed\"", intf);
    const long fallback = phy_port <= PLTFM_PORT_SLOT_MAX ? port_default_speed_ar[phy_port] : 0;
    if (pltfm_redis_read(cmd, out.reply, sizeof out.reply - 1) != PLTFM_SUCCESS) {
        out.reply[0] = '\0';
        out.speed = fallback;
    } else if (const auto parsed = parse_speed(out.reply)) {
        out.speed = *parsed;
        out.source = SpeedSource::app_db;
    } else {
        // The OS has not (or not yet) written a usable speed: the configured one stands.
        out.speed = fallback;
        PLTFM_LOG_AS("pltfm_transceiver_info_get",
                     "Invalid speed \"%s\" of %s in the application database; using the default %ld", out.reply, intf,
                     out.speed);
    }
    return out;
}

const LaneSpeedClass *lane_speed_class(long speed, int32_t lanes) noexcept {
    if (lanes < 1) return nullptr;
    for (const auto &c : kLaneSpeedClasses)
        if (c.lane_speed == speed / lanes) return &c;
    return nullptr;
}

CableTypeSource identify_cable_type(const pltfm_port_t &port, char (&cable_type)[24]) noexcept {
    if (pltfm_transceiver_info_get_from_redis(port, cable_type) == PLTFM_SUCCESS)
        return CableTypeSource::state_db;
    std::memset(cable_type, 0, sizeof cable_type);
    if (pltfm_transceiver_info_get_from_i2c(port, cable_type) == PLTFM_SUCCESS)
        return CableTypeSource::eeprom;
    return CableTypeSource::none;
}

}  // namespace pltfm::hw

pltfm_status_t pltfm_port_default_speed_get_from_config_file(int32_t port) {
    if (port < 1 || port > PLTFM_PORT_SLOT_MAX) return PLTFM_INVAL;
    port_default_speed_ar[port] = 0;

    char file_path[512] = {};
    char cmd[1024] = {};
    char speed[32] = {};
    std::snprintf(file_path, sizeof file_path, "%s", pltfm::paths::port_config_file());
    // Library paths are absolute paths of safe characters (PLTFM_ROOT is checked), so the
    // path may stand unquoted on the command line.
    if (!pltfm::paths::is_safe_path(file_path)) return PLTFM_NOTFOUND;
    std::snprintf(cmd, sizeof cmd, "grep \"Ethernet%d \" %s | awk '{print $4}'", port - 1, file_path);
    if (pltfm_redis_read(cmd, speed, 31) != PLTFM_SUCCESS) return PLTFM_NOTFOUND;
    port_default_speed_ar[port] = std::atoi(speed);
    return PLTFM_SUCCESS;
}

namespace {

// How the module of a slot with a recorded insertion is known: from what the slot stored, or
// identified afresh (after a module event).
enum class Module { stored_when_inserted, identified };

void fill_fresh(pltfm_attr_t *attr_list_p, int attr_count, const char *cable_type,
                const pltfm::hw::LaneSpeedClass &cls, const char *front_port,
                const char *num_lanes, const char *start_lane) {
    for (int i = 0; i < attr_count; ++i) {
        pltfm_attr_t &a = attr_list_p[i];
        switch (a.key) {
            case PLTFM_ATTR_CABLE_TYPE: copy_value(a.value, cable_type); break;
            case PLTFM_ATTR_ENCODING: copy_value(a.value, cls.encoding); break;
            case PLTFM_ATTR_FRONT_PORT: copy_value(a.value, front_port); break;
            case PLTFM_ATTR_LANE: copy_value(a.value, start_lane); break;
            case PLTFM_ATTR_NUM_LANES: copy_value(a.value, num_lanes); break;
            case PLTFM_ATTR_SPEED: copy_value(a.value, cls.speed); break;
            case PLTFM_ATTR_VENDOR: copy_value(a.value, "GENERIC"); break;
            default: break;
        }
    }
}

pltfm_status_t transceiver_info(const pltfm_port_t &port, pltfm_attr_t *attr_list_p, int attr_count,
                                int update_flag, Module module,
                                pltfm::hw::InfoSource *source) noexcept {
    using namespace pltfm::hw;
    const IntfName name = intf_name_of(port);
    const auto slot = port_slot(port.fp_port_id, port.fp_start_lane);
    if (!slot || port.fp_num_lanes < 1) {
        PLTFM_LOG_AS("pltfm_transceiver_info_get", kInvalidPortMessage, name.c_str(), port.fp_port_id,
                     port.fp_start_lane, port.fp_num_lanes);
        return PLTFM_INVAL;
    }
    if (!name.safe()) {
        PLTFM_LOG_AS("pltfm_transceiver_info_get", "%s", pltfm::kInvalidIntfNameMessage.data());
        return PLTFM_INVAL;
    }
    if (attr_list_p == nullptr && attr_count > 0) return PLTFM_INVAL;
    const int copy_count = attr_count < PLTFM_KEY_ATTR_COUNT ? (attr_count < 0 ? 0 : attr_count)
                                                              : PLTFM_KEY_ATTR_COUNT;
    const uint32_t phy_port = *slot;

    const PortSpeed port_speed_answer = port_speed(name.c_str(), phy_port);
    const long speed = port_speed_answer.speed;
    if (source != nullptr) {
        source->speed = speed;
        source->speed_from = port_speed_answer.source;
    }
    const LaneSpeedClass *cls = lane_speed_class(speed, port.fp_num_lanes);
    if (cls == nullptr) {
        PLTFM_LOG_AS("pltfm_transceiver_info_get", "Invalid port lane speed %d!",
                     static_cast<int>(speed / port.fp_num_lanes));
        return PLTFM_NOTFOUND;
    }

    char num_lanes[24] = {};
    char start_lane[24] = {};
    char front_port[24] = {};
    std::snprintf(num_lanes, sizeof num_lanes, "%d", port.fp_num_lanes);
    std::snprintf(start_lane, sizeof start_lane, "%d", port.fp_start_lane);
    std::snprintf(front_port, sizeof front_port, "%d", front_port_key(port.fp_port_id));

    pthread_mutex_lock(&mutex);
    if (port_state_ar[phy_port] & (1u << PLTFM_PORT_INSERTED)) {
        // A recorded insertion: serve the stored module with the port as it is now, its speed
        // class and its lanes (a port re-split into breakout ports keeps its slot).
        pltfm_attr_t *stored = port_attr_list[phy_port];
        copy_value(stored[2].value, cls->speed);
        copy_value(stored[3].value, cls->encoding);
        copy_value(stored[4].value, front_port);
        copy_value(stored[5].value, num_lanes);
        copy_value(stored[6].value, start_lane);
        if (module == Module::stored_when_inserted) {
            if (source != nullptr) source->module = ModuleSource::stored;
            if (copy_count > 0)
                std::memcpy(attr_list_p, stored, sizeof(pltfm_attr_t) * static_cast<std::size_t>(copy_count));
            pthread_mutex_unlock(&mutex);
            return PLTFM_SUCCESS;
        }
    }
    pthread_mutex_unlock(&mutex);

    char cable_type[24] = {};
    const CableTypeSource found = identify_cable_type(port, cable_type);
    if (found == CableTypeSource::none) return PLTFM_NOTFOUND;
    if (source != nullptr)
        source->module = found == CableTypeSource::state_db ? ModuleSource::state_db : ModuleSource::eeprom;
    fill_fresh(attr_list_p, attr_count, cable_type, *cls, front_port, num_lanes, start_lane);

    if (update_flag != 0 && copy_count > 0) {
        pltfm_attr_t stored[PLTFM_KEY_ATTR_COUNT] = {};
        pthread_mutex_lock(&mutex);
        std::memcpy(port_attr_list[phy_port], attr_list_p, sizeof(pltfm_attr_t) * static_cast<std::size_t>(copy_count));
        std::memcpy(stored, port_attr_list[phy_port], sizeof stored);
        pthread_mutex_unlock(&mutex);
        PLTFM_LOG_AS("pltfm_transceiver_info_get", "Port %d update the new transceiver info: %s %s %s %s %s %s %s.",
                     static_cast<int>(phy_port) - 1, stored[0].value, stored[1].value, stored[2].value,
                     stored[3].value, stored[4].value, stored[5].value, stored[6].value);
    }
    return PLTFM_SUCCESS;
}

}  // namespace

namespace pltfm::hw {

pltfm_status_t transceiver_info_fresh(const pltfm_port_t &port, pltfm_attr_t *attr_list_p,
                                      int attr_count) noexcept {
    return transceiver_info(port, attr_list_p, attr_count, 0, Module::identified, nullptr);
}

pltfm_status_t transceiver_info_traced(const pltfm_port_t &port, pltfm_attr_t *attr_list_p,
                                       int attr_count, int update_flag,
                                       InfoSource *source) noexcept {
    return transceiver_info(port, attr_list_p, attr_count, update_flag, Module::stored_when_inserted,
                            source);
}

}  // namespace pltfm::hw

pltfm_status_t pltfm_transceiver_info_get(pltfm_port_t port, pltfm_attr_t *attr_list_p, int attr_count,
                                          int update_flag) {
    return transceiver_info(port, attr_list_p, attr_count, update_flag, Module::stored_when_inserted,
                            nullptr);
}
