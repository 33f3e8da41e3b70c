// The simulated switch's surroundings: the platform tree under PLTFM_ROOT (tuning directory,
// port configuration file, i2c sysfs EEPROM files) and the OS's Redis databases (port speed in
// database 0, admin status in database 4, transceiver status and info in database 6).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "board.h"
#include "redis_server.h"

namespace pltfm::sim {

class World {
public:
    World(std::string root, test::RedisServer &redis) : root_(std::move(root)), redis_(redis) {}

    const std::string &root() const { return root_; }
    std::string tuning_dir() const;
    std::string rescan_trigger() const;
    std::string port_config_file() const;
    std::string eeprom_file(int cage) const;

    // Writes the tree: tuning files copied from `tuning_source`, port_config.ini, and an
    // EEPROM file for every plugged cage. Returns an error text, empty on success.
    std::string lay_out(const std::string &tuning_source, const BoardPlan &plan);

    // Seeds the three databases for the ports as the OS would at boot.
    bool seed(const std::vector<Port> &ports, const std::map<int, ModuleKind> &modules);
    // Seeds from a tree the simulation did not write: speeds from the port list and admin up;
    // no transceiver records, so the library identifies every module from its EEPROM.
    bool seed_from_files(const std::vector<Port> &ports);

    // A module pulled from / plugged into a cage: the EEPROM file and the OS's records of every
    // port of the cage change in the order the OS would make them.
    bool pull(int cage, const std::vector<Port> &ports);
    bool plug(int cage, ModuleKind kind, const std::vector<Port> &ports);

    std::optional<std::string> admin_status(const Port &port) const;
    // A field of the port's state as the library published it (PORT_SERDES_STATE in db 6).
    std::optional<std::string> published(const Port &port, const std::string &field) const;

    // Changes TX_EQ_PRE1 (one step down) on every data line of the front-panel keys
    // `front_ports` in the first tuning file of `cable_type` that has such lines. Returns a
    // description, or nullopt when no file holds such lines.
    std::optional<std::string> bump_tuning(const std::string &cable_type,
                                           const std::vector<int> &front_ports);

  private:
    bool seed_module(const Port &port, ModuleKind kind);

    std::string root_;
    test::RedisServer &redis_;
};

}  // namespace pltfm::sim
