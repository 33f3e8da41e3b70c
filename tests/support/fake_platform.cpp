// Fake platform tree builder: EEPROM files by board wiring, port configuration, tuning files.
#include "fake_platform.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "build_config.h"
#include "paths.h"
#include "platform_hw_internal.h"

namespace pltfm::test {

namespace fs = std::filesystem;

FakePlatform::FakePlatform() {
    if (!dir_.ok()) error_ = "cannot create the fake platform root";
}

void FakePlatform::fail(const std::string &what) {
    if (error_.empty()) error_ = what;
}

uint32_t FakePlatform::bus_of_front_panel(int front_panel_number) {
    if (front_panel_number < 1 || front_panel_number > hw::kCageCount) return 0;
    return hw::port_i2c_offset_map[static_cast<std::size_t>(front_panel_number - 1)];
}

int FakePlatform::front_panel_of(int32_t fp_port_id, int32_t fp_start_lane) {
    auto route = hw::cage_route(fp_port_id, fp_start_lane);
    return route ? static_cast<int>(route->front_panel_number) : 0;
}

std::string FakePlatform::eeprom_path_for_bus(uint32_t bus) const {
    return root() + PLTFM_SYSFS_ROOT "/" + std::to_string(bus) + "-0050/eeprom";
}

std::string FakePlatform::eeprom_path(int front_panel_number) const {
    return eeprom_path_for_bus(bus_of_front_panel(front_panel_number));
}

FakePlatform &FakePlatform::cage(int front_panel_number, const EepromImage &image) {
    return cage_bytes(front_panel_number, image.str());
}

FakePlatform &FakePlatform::cage_bytes(int front_panel_number, const std::string &bytes) {
    if (bus_of_front_panel(front_panel_number) == 0) {
        fail("no cage with front-panel number " + std::to_string(front_panel_number));
        return *this;
    }
    if (!write_bytes(eeprom_path(front_panel_number), bytes)) fail("cannot write " + eeprom_path(front_panel_number));
    return *this;
}

FakePlatform &FakePlatform::empty_cage(int front_panel_number) {
    std::error_code ec;
    fs::remove(eeprom_path(front_panel_number), ec);
    return *this;
}

std::vector<uint8_t> FakePlatform::eeprom(int front_panel_number) const {
    std::ifstream in(eeprom_path(front_panel_number), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint8_t FakePlatform::eeprom_byte(int front_panel_number, uint8_t page, uint8_t reg) const {
    const auto bytes = eeprom(front_panel_number);
    const std::size_t at = static_cast<std::size_t>(page) * 128 + reg;
    return at < bytes.size() ? bytes[at] : 0;
}

std::string FakePlatform::port_config_path() const { return root() + PLTFM_SHARE_ROOT "/sku/port_config.ini"; }

void FakePlatform::write_port_config() {
    std::string text = "# name lanes alias speed index\n";
    for (const auto &l : port_config_lines_) text += l + "\n";
    if (!write_bytes(port_config_path(), text)) fail("cannot write " + port_config_path());
}

FakePlatform &FakePlatform::port_config(const std::vector<std::string> &lines) {
    port_config_lines_ = lines;
    write_port_config();
    return *this;
}

FakePlatform &FakePlatform::port_config_line(const std::string &name, int speed, const std::string &lanes) {
    port_config_lines_.push_back(name + " " + lanes + " " + name + " " + std::to_string(speed));
    write_port_config();
    return *this;
}

std::string FakePlatform::tuning_dir() const { return root() + PLTFM_SHARE_ROOT "/platform/CSV"; }

FakePlatform &FakePlatform::tuning_dir_from(const std::string &source_dir) {
    if (!create_dirs(tuning_dir())) {
        fail("cannot create " + tuning_dir());
        return *this;
    }
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(source_dir, ec)) {
        if (!entry.is_regular_file()) continue;
        fs::copy_file(entry.path(), fs::path(tuning_dir()) / entry.path().filename(),
                      fs::copy_options::overwrite_existing, ec);
        if (ec) fail("cannot copy " + entry.path().string());
    }
    if (ec) fail("cannot read " + source_dir);
    return *this;
}

void FakePlatform::activate() const {
    ::setenv("PLTFM_ROOT", root().c_str(), 1);
    pltfm::paths::reload_for_test();
}

}  // namespace pltfm::test
