// Module EEPROM access through the Linux i2c sysfs file of the port's cage: the only place
// that opens, seeks, reads and writes those files.
#include <cstdio>
#include <memory>

#include "log.h"
#include "paths.h"
#include "platform_hw_internal.h"

namespace pltfm::hw {

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, FileCloser>;

// Validates the descriptor and formats the cage's EEPROM path; logs the access line.
// Returns 0 on success, else the status to return.
pltfm_status_t open_route(const pltfm_port_t &port, const char *verb, const char *func,
                          char (&path)[kEepromPathMax]) {
    const IntfName name = intf_name_of(port);
    const auto route = cage_route(port.fp_port_id, port.fp_start_lane);
    if (!route) {
        PLTFM_LOG_AS(func, kInvalidPortMessage, name.c_str(), port.fp_port_id, port.fp_start_lane,
                     port.fp_num_lanes);
        return PLTFM_INVAL;
    }
    const bool fits = eeprom_path_for_bus(route->bus, path);
    PLTFM_LOG_AS(func, "%s (%s) serdes: %d, phy_port: %d, (%s) ", verb, name.c_str(), port.fp_port_id,
                 route->front_panel_index, path);
    if (!fits) {
        PLTFM_LOG_AS(func, "Open EEPROM file fail. (%s)", path);
        return PLTFM_NOTFOUND;
    }
    return PLTFM_SUCCESS;
}

long offset_of(uint8_t page, uint8_t reg) { return static_cast<long>(page) * 128 + reg; }

}  // namespace

bool eeprom_path_for_bus(uint32_t bus, char (&out)[kEepromPathMax]) noexcept {
    char i2c_dir[8] = {};
    std::snprintf(i2c_dir, sizeof i2c_dir, "%d-0050", static_cast<int>(bus));
    const int n = std::snprintf(out, sizeof out, "%s/%s/eeprom", pltfm::paths::sysfs_devices(), i2c_dir);
    return n > 0 && static_cast<std::size_t>(n) < sizeof out;
}

}  // namespace pltfm::hw

using namespace pltfm::hw;

pltfm_status_t pltfm_eeprom_get_from_i2c(pltfm_port_t port, uint8_t page, uint8_t reg, uint8_t *val,
                                         uint32_t size) {
    char eeprom_path[kEepromPathMax] = {};
    if (const pltfm_status_t rc = open_route(port, "Get", __func__, eeprom_path); rc != PLTFM_SUCCESS)
        return rc;
    file_ptr f(std::fopen(eeprom_path, "re"));
    if (!f) {
        PLTFM_LOG("Open EEPROM file fail. (%s)", eeprom_path);
        return PLTFM_NOTFOUND;
    }
    if (size == 0 || val == nullptr) return PLTFM_SUCCESS;
    // A short read leaves the rest of the caller's buffer as it was.
    if (std::fseek(f.get(), offset_of(page, reg), SEEK_SET) == 0) {
        (void)std::fread(val, size, 1, f.get());
    }
    return PLTFM_SUCCESS;
}

pltfm_status_t pltfm_eeprom_set_to_i2c(pltfm_port_t port, uint8_t page, uint8_t reg, uint8_t val) {
    char eeprom_path[kEepromPathMax] = {};
    if (const pltfm_status_t rc = open_route(port, "Set", __func__, eeprom_path); rc != PLTFM_SUCCESS)
        return rc;
    // Update in place: no creation, no truncation.
    file_ptr f(std::fopen(eeprom_path, "rb+e"));
    if (!f) {
        PLTFM_LOG("Open EEPROM file fail. (%s)", eeprom_path);
        return PLTFM_NOTFOUND;
    }
    bool written = std::fseek(f.get(), offset_of(page, reg), SEEK_SET) == 0 &&
                   std::fwrite(&val, 1, 1, f.get()) == 1 && std::fflush(f.get()) == 0;
    if (std::fclose(f.release()) != 0) written = false;
    if (!written) {
        PLTFM_LOG("Write EEPROM file fail. (%s)", eeprom_path);
        return PLTFM_DEVICE_ACCESS_ERROR;
    }
    return PLTFM_SUCCESS;
}
