// Fake platform tree under a temporary root for in-process tests and the simulated switch:
// module EEPROM files at <root>/sys/bus/i2c/devices/<bus>-0050/eeprom placed by the board's
// wiring, the SKU's port_config.ini and a tuning directory. No test framework inside.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "eeprom_image.h"
#include "scratch_dir.h"

namespace pltfm::test {

class FakePlatform {
public:
    FakePlatform();
    FakePlatform(const FakePlatform &) = delete;
    FakePlatform &operator=(const FakePlatform &) = delete;

    bool ok() const { return dir_.ok() && error_.empty(); }
    // First error of a builder call, empty when all went well.
    const std::string &error() const { return error_; }
    const std::string &root() const { return dir_.path(); }

    // Cage by front-panel number (1 to 34): the i2c bus comes from the board wiring.
    static uint32_t bus_of_front_panel(int front_panel_number);
    // Front-panel number of the cage a descriptor reaches (EEPROM route), 0 if none.
    static int front_panel_of(int32_t fp_port_id, int32_t fp_start_lane);
    std::string eeprom_path(int front_panel_number) const;
    std::string eeprom_path_for_bus(uint32_t bus) const;

    // Places a module (writes its EEPROM file).
    FakePlatform &cage(int front_panel_number, const EepromImage &image);
    FakePlatform &cage_bytes(int front_panel_number, const std::string &bytes);
    // Pulls the module (removes the EEPROM file).
    FakePlatform &empty_cage(int front_panel_number);
    // Current EEPROM contents of a cage (empty when absent).
    std::vector<uint8_t> eeprom(int front_panel_number) const;
    uint8_t eeprom_byte(int front_panel_number, uint8_t page, uint8_t reg) const;

    // port_config.ini: a header line, then one line per interface: name, lanes, alias, speed.
    FakePlatform &port_config(const std::vector<std::string> &lines);
    // Adds "<name> <lanes> <alias> <speed>" lines for interface `name`.
    FakePlatform &port_config_line(const std::string &name, int speed, const std::string &lanes = "0,1,2,3");
    std::string port_config_path() const;

    // Copies a tuning directory (its regular files) to the tree's tuning directory.
    FakePlatform &tuning_dir_from(const std::string &source_dir);
    std::string tuning_dir() const;

    // Points the library at this tree: sets PLTFM_ROOT and reloads the library's paths.
    void activate() const;

private:
    void fail(const std::string &what);
    void write_port_config();

    ScratchDir dir_{"pltfm-fake-"};
    std::string error_;
    std::vector<std::string> port_config_lines_;
};

}  // namespace pltfm::test
