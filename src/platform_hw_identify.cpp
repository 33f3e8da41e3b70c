// Cable type of a port's module from its EEPROM: one 256-byte read, classified by the pure
// decoder, logged as the decision went.
#include <cstdint>
#include <cstring>

#include "log.h"
#include "platform_hw_internal.h"
#include "transceiver_decode.h"

pltfm_status_t pltfm_transceiver_info_get_from_i2c(pltfm_port_t port, char *cable_type) {
    uint8_t eeprom_data[256] = {};
    const pltfm_status_t rc = pltfm_eeprom_get_from_i2c(port, 0, 0, eeprom_data, sizeof eeprom_data);
    if (rc != PLTFM_SUCCESS) return rc == PLTFM_INVAL ? PLTFM_INVAL : PLTFM_NOTFOUND;

    const pltfm::decode::Identification id = pltfm::decode::identify(eeprom_data);
    PLTFM_LOG("spec_flag = %d", id.identifier);
    if (id.has_length) {
        if (id.length_is_float) PLTFM_LOG("DAC connect length = %f", id.length_m);
        else PLTFM_LOG("DAC connect length = %d", id.length_whole_m);
    }
    if (!id.cable_type) {
        PLTFM_LOG("%s", id.module_line);
        return PLTFM_NOTFOUND;
    }
    if (cable_type != nullptr) {
        const char *text = pltfm::decode::cable_type_text(*id.cable_type);
        std::memcpy(cable_type, text, std::strlen(text) + 1);
    }
    PLTFM_LOG("%s", id.module_line);
    return PLTFM_SUCCESS;
}
