// Files and Redis records of the simulated switch.
#include "world.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "build_config.h"
#include "modules.h"
#include "scratch_dir.h"

namespace pltfm::sim {

namespace fs = std::filesystem;

namespace {

std::string trim_upper(std::string_view cell) {
    const auto first = cell.find_first_not_of(" \t\v\f\r");
    if (first == std::string_view::npos) return {};
    const auto last = cell.find_last_not_of(" \t\v\f\r");
    std::string out(cell.substr(first, last - first + 1));
    for (char &c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> split(const std::string &text, char sep) {
    std::vector<std::string> out;
    std::string cell;
    std::istringstream in(text);
    while (std::getline(in, cell, sep)) out.push_back(cell);
    if (!text.empty() && text.back() == sep) out.emplace_back();
    return out;
}

}  // namespace

std::string World::tuning_dir() const { return root_ + PLTFM_SHARE_ROOT "/platform/CSV"; }
std::string World::rescan_trigger() const { return tuning_dir() + "/csv_rescan"; }
std::string World::port_config_file() const { return root_ + PLTFM_SHARE_ROOT "/sku/port_config.ini"; }
std::string World::eeprom_file(int cage_number) const {
    return root_ + PLTFM_SYSFS_ROOT "/" + std::to_string(cage(cage_number).bus) + "-0050/eeprom";
}

std::string World::lay_out(const std::string &tuning_source, const BoardPlan &plan) {
    std::error_code ec;
    fs::create_directories(tuning_dir(), ec);
    if (ec) return "cannot create " + tuning_dir() + ": " + ec.message();
    for (const auto &entry : fs::directory_iterator(tuning_source, ec)) {
        if (!entry.is_regular_file()) continue;
        fs::copy_file(entry.path(), tuning_dir() + "/" + entry.path().filename().string(),
                      fs::copy_options::overwrite_existing, ec);
        if (ec) return "cannot copy " + entry.path().string() + ": " + ec.message();
    }
    if (ec) return "cannot read " + tuning_source + ": " + ec.message();
    if (!test::write_bytes(port_config_file(), port_config_text(plan.ports))) {
        return "cannot write " + port_config_file();
    }
    for (int c = 1; c <= kCages; ++c) {
        // Every cage has its i2c device directory; only a plugged module answers.
        if (!test::create_dirs(fs::path(eeprom_file(c)).parent_path().string())) {
            return "cannot create the sysfs tree under " + root_;
        }
        const auto it = plan.modules.find(c);
        if (it == plan.modules.end()) continue;
        if (!test::write_bytes(eeprom_file(c), eeprom_bytes(it->second))) {
            return "cannot write " + eeprom_file(c);
        }
    }
    return {};
}

bool World::seed_module(const Port &port, ModuleKind kind) {
    const std::string info_key = "TRANSCEIVER_INFO|" + port.intf;
    bool ok = redis_.del(6, info_key);
    for (const auto &[field, value] : transceiver_info(kind)) ok &= redis_.hset(6, info_key, field, value);
    ok &= redis_.hset(6, "TRANSCEIVER_STATUS|" + port.intf, "status", kind == ModuleKind::empty ? "0" : "1");
    return ok;
}

bool World::seed(const std::vector<Port> &ports, const std::map<int, ModuleKind> &modules) {
    bool ok = true;
    for (const Port &p : ports) {
        ok &= redis_.hset(0, "PORT_TABLE:" + p.intf, "speed", std::to_string(p.speed));
        ok &= redis_.hset(4, "PORT|" + p.intf, "admin_status", "up");
        const auto it = modules.find(p.cage);
        ok &= seed_module(p, it == modules.end() ? ModuleKind::empty : it->second);
    }
    return ok;
}

bool World::seed_from_files(const std::vector<Port> &ports) {
    // No records in the state database: a present status with empty info fields would read as
    // a 0 m copper cable, while an absent status makes the library read each module's EEPROM.
    bool ok = true;
    for (const Port &p : ports) {
        ok &= redis_.hset(0, "PORT_TABLE:" + p.intf, "speed", std::to_string(p.speed));
        ok &= redis_.hset(4, "PORT|" + p.intf, "admin_status", "up");
    }
    return ok;
}

bool World::pull(int cage_number, const std::vector<Port> &ports) {
    bool ok = true;
    for (const Port &p : ports) {
        if (p.cage != cage_number) continue;
        ok &= redis_.hset(6, "TRANSCEIVER_STATUS|" + p.intf, "status", "0");
        ok &= redis_.del(6, "TRANSCEIVER_INFO|" + p.intf);
    }
    std::error_code ec;
    fs::remove(eeprom_file(cage_number), ec);
    return ok && !ec;
}

bool World::plug(int cage_number, ModuleKind kind, const std::vector<Port> &ports) {
    // The EEPROM answers first, then the OS reads it and publishes info before status.
    bool ok = test::write_bytes(eeprom_file(cage_number), eeprom_bytes(kind));
    for (const Port &p : ports) {
        if (p.cage == cage_number) ok &= seed_module(p, kind);
    }
    return ok;
}

std::optional<std::string> World::admin_status(const Port &port) const {
    return redis_.hget(4, "PORT|" + port.intf, "admin_status");
}

std::optional<std::string> World::published(const Port &port, const std::string &field) const {
    return redis_.hget(6, "PORT_SERDES_STATE|" + port.intf, field);
}

std::optional<std::string> World::bump_tuning(const std::string &cable_type,
                                              const std::vector<int> &front_ports) {
    std::vector<std::string> keys;
    for (int p : front_ports) keys.push_back(std::to_string(p));
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(tuning_dir(), ec)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.size() >= 6 &&
            trim_upper(name.substr(name.size() - 4)) == ".CSV") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path &file : files) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream buf;
        buf << in.rdbuf();
        std::vector<std::string> lines = split(buf.str(), '\n');
        if (lines.size() < 6) continue;
        const std::vector<std::string> line2 = split(lines[1], ',');
        if (line2.size() < 3 || trim_upper(line2[1]) != cable_type) continue;
        const std::vector<std::string> names = split(lines[4], ',');
        std::vector<std::size_t> columns;
        for (std::size_t k = 3; k < names.size(); ++k) {
            if (trim_upper(names[k]) == "TX_EQ_PRE1") columns.push_back(k);
        }
        if (columns.empty()) continue;
        int changed = 0;
        std::string example;
        for (std::size_t l = 5; l < lines.size(); ++l) {
            std::vector<std::string> cells = split(lines[l], ',');
            if (cells.size() < names.size() ||
                std::find(keys.begin(), keys.end(), trim_upper(cells[1])) == keys.end())
                continue;
            for (std::size_t k : columns) {
                const std::string old = trim_upper(cells[k]);
                if (old.empty()) continue;
                const long value = std::strtol(old.c_str(), nullptr, 10);
                cells[k] = std::to_string(value - 1);
                if (example.empty()) example = old + " -> " + cells[k];
                ++changed;
            }
            std::string joined;
            for (std::size_t k = 0; k < cells.size(); ++k) joined += (k ? "," : "") + cells[k];
            lines[l] = joined;
        }
        if (changed == 0) continue;
        std::string text;
        for (std::size_t l = 0; l < lines.size(); ++l) text += lines[l] + (l + 1 < lines.size() ? "\n" : "");
        if (!test::write_bytes(file.string(), text)) return std::nullopt;
        std::string ports;
        for (std::size_t i = 0; i < keys.size(); ++i)
            ports += (i == 0 ? "" : i + 1 == keys.size() ? " and " : ", ") + keys[i];
        return file.filename().string() + ": TX_EQ_PRE1 of front port" +
               (keys.size() == 1 ? " " : "s ") + ports + " lowered by one in " +
               std::to_string(changed) + " cells (first: " + example + ")";
    }
    return std::nullopt;
}

}  // namespace pltfm::sim
