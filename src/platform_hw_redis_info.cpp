// Cable type of a port's module from its record in the OS's state database (Redis db 6).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "intf_name.h"
#include "log.h"
#include "platform_hw_internal.h"

namespace {

constexpr std::string_view kQsfpDdType = "QSFP-DD Double Density 8X Pluggable Transceiver";
constexpr std::string_view kPassiveCopperCompliance = "passive_copper_media_interface";
constexpr const char *kOpticalMarkers[] = {"Fibre", "AOC", "Optical"};

bool starts_with(const char *text, std::string_view prefix) {
    return std::string_view(text).substr(0, prefix.size()) == prefix;
}

// Reads one TRANSCEIVER_INFO field of the interface into buf (at most size - 1 characters).
bool read_info_field(const char *intf, const char *field, char *buf, int32_t size) {
    char cmd[128] = {};
    std::snprintf(cmd, sizeof cmd, "redis-cli -n 6 hget \"TRANSCEIVER_INFO|%s\" \"%s\"", intf, field);
    return pltfm_redis_read(cmd, buf, size - 1) == PLTFM_SUCCESS;
}

void put(char *cable_type, const char *word) { std::memcpy(cable_type, word, std::strlen(word) + 1); }

}  // namespace

pltfm_status_t pltfm_transceiver_info_get_from_redis(pltfm_port_t port, char *cable_type) {
    const pltfm::hw::IntfName name = pltfm::hw::intf_name_of(port);
    const char *intf = name.c_str();
    if (!name.safe()) {
        PLTFM_LOG("%s", pltfm::kInvalidIntfNameMessage.data());
        return PLTFM_INVAL;
    }

    char cmd[128] = {};
    char status[8] = {};
    std::snprintf(cmd, sizeof cmd, "redis-cli -n 6 hget \"TRANSCEIVER_STATUS|%s\" \"status\"", intf);
    if (pltfm_redis_read(cmd, status, 7) != PLTFM_SUCCESS) return PLTFM_NOTFOUND;
    if (std::strtol(status, nullptr, 10) == 0) return PLTFM_NOTFOUND;

    char type[64] = {};
    char length_text[8] = {};
    char compliance[1024] = {};
    char connector[64] = {};
    if (!read_info_field(intf, "type", type, sizeof type)) return PLTFM_NOTFOUND;
    // A record without its module type is one the OS has not filled yet: its other fields
    // cannot be trusted, so the module's EEPROM decides instead.
    if (type[0] == '\0') {
        PLTFM_LOG("No module type for %s in the state database", intf);
        return PLTFM_NOTFOUND;
    }
    if (!read_info_field(intf, "cable_length", length_text, sizeof length_text)) return PLTFM_NOTFOUND;
    const int length = std::atoi(length_text);
    if (!read_info_field(intf, "specification_compliance", compliance, sizeof compliance)) return PLTFM_NOTFOUND;

    if (cable_type == nullptr) return PLTFM_INVAL;
    if (starts_with(type, kQsfpDdType)) {
        if (starts_with(compliance, kPassiveCopperCompliance)) {
            if (length < 2) {
                put(cable_type, "DAC_1M");
                PLTFM_LOG("%s DAC cabletype 1M", type);
            } else {
                put(cable_type, "DAC_3M");
                PLTFM_LOG("%s DAC cabletype 3M", type);
            }
        } else {
            put(cable_type, "OPTICS");
            PLTFM_LOG("%s Optics", type);
        }
        return PLTFM_SUCCESS;
    }

    if (!read_info_field(intf, "connector", connector, sizeof connector)) return PLTFM_NOTFOUND;
    bool optical = starts_with(connector, "LC");
    for (const char *marker : kOpticalMarkers) optical = optical || std::strstr(compliance, marker) != nullptr;
    if (optical) {
        put(cable_type, "OPTICS");
        PLTFM_LOG("%s Optics", type);
    } else if (starts_with(connector, "RJ45")) {
        put(cable_type, "RJ45");
        PLTFM_LOG("%s RJ45", type);
    } else if (length < 2) {
        put(cable_type, "DAC_1M");
        PLTFM_LOG("%s DAC cabletype 1M", type);
    } else {
        put(cable_type, "DAC_3M");
        PLTFM_LOG("%s DAC cabletype 3M", type);
    }
    return PLTFM_SUCCESS;
}
