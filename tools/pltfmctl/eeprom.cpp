// pltfmctl eeprom FILE: identifies a module EEPROM image (an i2c sysfs eeprom file, or a copy
// of one) with the library's own decoders: cable type and the bytes that decided it; the
// vendor, part number, revision, serial number, date code and checksums of the memory map;
// for a CMIS module also the application descriptors, each host lane's data path, the media
// lanes of a port and the media lane mask the laser control would use.
#include <array>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "json_text.h"
#include "module_fields.h"
#include "module_view.h"
#include "transceiver_decode.h"

namespace pltfm::ctl {

namespace {

namespace dec = pltfm::decode;

struct EepromOptions {
    std::string file;
    int start_lane = 0;
    int lanes = 0;  // 0: the lane count of the data path that starts at start_lane
    bool json = false;
};

const char *failure_text(dec::MaskFailure f) {
    switch (f) {
        case dec::MaskFailure::none: return "";
        case dec::MaskFailure::default_lane_count: return "lane counts of application 1 unreadable";
        case dec::MaskFailure::appsel_lane: return "staged data path configuration unreadable";
        case dec::MaskFailure::lane_count: return "lane counts of an application unreadable";
        case dec::MaskFailure::start_lane_not_found: return "no data path starts at the start lane";
        case dec::MaskFailure::lane_count_mismatch:
            return "the data path at the start lane has another host lane count than the port";
        case dec::MaskFailure::no_media_lanes: return "the data path has no media lanes";
    }
    return "";
}

std::string lane_range(int first, int count) {
    if (count <= 0) return "none";
    if (count == 1) return std::to_string(first);
    return std::to_string(first) + "-" + std::to_string(first + count - 1);
}

std::string oui_text(const std::array<uint8_t, 3> &oui) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02X:%02X:%02X", oui[0], oui[1], oui[2]);
    return buf;
}

// Vendor, part number, revision, serial number, date code and the checksums of the map.
// Warns on standard error for each wrong checksum; false when one is wrong.
bool describe_identity(const std::vector<uint8_t> &image, std::ostringstream &out, nlohmann::json &j) {
    const tools::ModuleFields f = tools::module_fields(image);
    j["memory_map"] = tools::memory_map_name(f.map);
    if (f.map == tools::MemoryMap::none) {
        out << "  memory map: unknown (byte 0 and byte 128 name no SFF-8472, SFF-8636 or CMIS "
               "module): no vendor fields, no checksums\n";
        return true;
    }
    out << "  memory map: " << tools::memory_map_name(f.map);
    if (f.identifier_offset != 0)
        out << " (byte 0 is " << hex(image[0]) << "; upper page 00h identifier, byte "
            << f.identifier_offset << ", is " << hex(image[static_cast<std::size_t>(f.identifier_offset)]) << ")";
    out << "\n  vendor: " << f.vendor << " (OUI " << oui_text(f.oui) << ")\n"
        << "  part number: " << f.part_number << ", revision: " << f.revision << '\n'
        << "  serial number: " << f.serial_number << '\n'
        << "  date code: " << f.date_code;
    if (!f.date.empty()) out << " (" << f.date << ")";
    out << '\n';
    j["vendor"] = f.vendor;
    j["oui"] = oui_text(f.oui);
    j["part_number"] = f.part_number;
    j["revision"] = f.revision;
    j["serial_number"] = f.serial_number;
    j["date_code"] = f.date_code;
    j["date"] = f.date;

    bool all_ok = true;
    nlohmann::json jsums = nlohmann::json::array();
    for (const tools::Checksum &c : tools::checksums(image, f.map)) {
        out << "  checksum " << c.name << " (" << tools::checksum_range(c) << "): " << hex(c.stored);
        if (c.ok()) {
            out << " ok\n";
        } else {
            out << " WRONG, the bytes sum to " << hex(c.computed) << '\n';
            std::cerr << "pltfmctl eeprom: warning: checksum " << c.name << " ("
                      << tools::checksum_range(c) << ") is wrong: stored " << hex(c.stored)
                      << ", the bytes sum to " << hex(c.computed)
                      << "; the memory map is corrupt or was changed\n";
            all_ok = false;
        }
        jsums.push_back({{"name", c.name}, {"first", c.first}, {"last", c.last}, {"at", c.at},
                         {"stored", c.stored}, {"computed", c.computed}, {"ok", c.ok()}});
    }
    j["checksums"] = jsums;
    j["checksums_ok"] = all_ok;
    return all_ok;
}

int run_eeprom(const EepromOptions &opt, bool lanes_given) {
    std::ifstream in(opt.file, std::ios::binary);
    if (!in) {
        std::cerr << "pltfmctl eeprom: cannot read " << opt.file << '\n';
        return kExitUsage;
    }
    const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The library reads the first 256 bytes (lower memory and upper page 0) to identify.
    const std::size_t id_size = std::min<std::size_t>(image.size(), 256);
    const dec::Identification id = dec::identify(std::span<const uint8_t>(image.data(), id_size));
    const bool identified = id.cable_type.has_value();

    nlohmann::json j = {{"file", opt.file},
                        {"size", image.size()},
                        {"identifier", id.identifier},
                        {"family", family_name(id.family)},
                        {"identified", identified},
                        {"library_line", id.module_line != nullptr ? id.module_line : ""}};
    std::ostringstream out;
    out << opt.file << ": " << image.size() << " bytes\n"
        << "  identifier (byte 0): " << hex(id.identifier) << "  " << family_name(id.family) << '\n';
    if (id.family != dec::Family::unknown) {
        out << "  decided by byte " << int(id.deciding_reg) << " (" << deciding_field(id.deciding_reg, id.family)
            << "): " << hex(id.deciding_byte) << '\n';
        j["deciding_byte"] = {{"offset", id.deciding_reg}, {"value", id.deciding_byte},
                              {"field", deciding_field(id.deciding_reg, id.family)}};
    }
    if (id.has_length) {
        out << "  cable length (byte " << length_register(id.family) << "): " << hex(id.length_byte)
            << " -> " << length_text(id) << '\n';
        j["cable_length_m"] = id.length_is_float ? id.length_m : static_cast<double>(id.length_whole_m);
    }
    if (identified) {
        out << "  cable type: " << dec::cable_type_text(*id.cable_type) << "   (library log: \""
            << id.module_line << "\")\n";
        j["cable_type"] = dec::cable_type_text(*id.cable_type);
    } else {
        out << "  not identified: the library logs \"" << id.module_line << "\" and the port gets no tuning\n";
    }

    int rc = identified ? kExitOk : kExitInvalid;
    if (!describe_identity(image, out, j)) rc = kExitInvalid;
    if (id.family == dec::Family::qsfp_dd) {
        const dec::AppDescriptorList apps = dec::cmis_applications(image);
        out << "  CMIS applications:\n";
        nlohmann::json japps = nlohmann::json::array();
        for (int i = 0; i < apps.count; ++i) {
            const dec::AppDescriptor &a = apps.apps[static_cast<std::size_t>(i)];
            out << "    app " << a.code << ": host interface " << hex(a.host_if) << ", media interface "
                << hex(a.media_if) << ", host lanes " << int(a.host_lane_count) << ", media lanes "
                << int(a.media_lane_count) << ", host lane options " << hex(a.host_lane_options) << '\n';
            japps.push_back({{"code", a.code}, {"host_interface", a.host_if}, {"media_interface", a.media_if},
                             {"host_lanes", a.host_lane_count}, {"media_lanes", a.media_lane_count},
                             {"host_lane_options", a.host_lane_options}});
        }
        if (apps.count == 0) out << "    none\n";
        j["applications"] = japps;

        dec::MediaLaneLayout layout =
            dec::media_lanes_from_image(image, opt.start_lane, lanes_given ? opt.lanes : 8);
        int lanes = lanes_given ? opt.lanes : 8;
        if (!lanes_given && layout.failure == dec::MaskFailure::lane_count_mismatch && layout.found >= 0) {
            // Without --lanes, take the port that the data path at the start lane describes.
            lanes = layout.data_path[static_cast<std::size_t>(layout.found)].HostLaneCount;
            layout = dec::media_lanes_from_image(image, opt.start_lane, lanes);
        }
        out << "  host lanes (staged data path configuration, page 16 bytes 145-152):\n";
        nlohmann::json jlanes = nlohmann::json::array();
        for (int i = 0; i < layout.lanes_done; ++i) {
            const auto &dp = layout.data_path[static_cast<std::size_t>(i)];
            const auto &sel = layout.appsel_lane[static_cast<std::size_t>(i)];
            out << "    lane " << i << ": " << hex(layout.staged_byte[static_cast<std::size_t>(i)]) << "  app "
                << int(sel.AppSelCode) << ", data path from host lane " << dp.HostLaneStart << " ("
                << dp.HostLaneCount << " host lanes), media lanes "
                << lane_range(dp.MediaLaneStart, dp.MediaLaneCount) << '\n';
            jlanes.push_back({{"lane", i}, {"staged", layout.staged_byte[static_cast<std::size_t>(i)]},
                              {"app", sel.AppSelCode}, {"host_lane_start", dp.HostLaneStart},
                              {"host_lane_count", dp.HostLaneCount}, {"media_lane_start", dp.MediaLaneStart},
                              {"media_lane_count", dp.MediaLaneCount}});
        }
        j["host_lanes"] = jlanes;
        out << "  port of " << lanes << " lane" << (lanes == 1 ? "" : "s") << " from start lane "
            << opt.start_lane << ": ";
        if (layout.failure == dec::MaskFailure::none) {
            const auto &dp = layout.data_path[static_cast<std::size_t>(layout.found)];
            out << "media lanes " << lane_range(dp.MediaLaneStart, dp.MediaLaneCount) << ", media lane mask "
                << hex(layout.mask) << '\n';
        } else {
            out << "no media lanes (" << failure_text(layout.failure) << "), media lane mask 0x00\n";
            if (lanes_given) rc = kExitInvalid;
        }
        j["port"] = {{"start_lane", opt.start_lane}, {"lanes", lanes}, {"media_lane_mask", layout.mask},
                     {"failure", failure_text(layout.failure)}};
    }
    if (opt.json) std::cout << tools::json_text(j, 2) << '\n';
    else std::cout << out.str();
    return rc;
}

}  // namespace

Runner add_eeprom(CLI::App &app) {
    auto opt = std::make_shared<EepromOptions>();
    CLI::App *sub = app.add_subcommand(
        "eeprom", "Identify a module EEPROM image exactly as the library does (CMIS: lanes and mask)");
    sub->add_option("FILE", opt->file, "EEPROM image: a sysfs eeprom file or a copy of one")
        ->required()
        ->check(CLI::ExistingFile);
    auto *start = sub->add_option("--start-lane", opt->start_lane, "CMIS: first host lane of the port")
                      ->check(CLI::Range(0, 7))
                      ->capture_default_str();
    auto *lanes = sub->add_option("--lanes", opt->lanes,
                                  "CMIS: lane count of the port (default: that of the data path at "
                                  "the start lane)")
                      ->check(CLI::Range(1, 8));
    sub->add_flag("--json", opt->json, "Print the result as JSON");
    sub->footer(
        "A wrong checksum is reported on standard error as a warning.\n"
        "Exit status: 0 identified with correct checksums, 1 not identified, a wrong checksum\n"
        "(or --lanes gives no media lanes), 2 usage error.");
    (void)start;
    return [opt, lanes] { return run_eeprom(*opt, lanes->count() > 0); };
}

}  // namespace pltfm::ctl
