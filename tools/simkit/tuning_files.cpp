// Text of generated tuning tables and directories of them.
#include "tuning_files.h"

#include <cstdio>

#include "scratch_dir.h"

namespace pltfm::test {

namespace {

struct Group {
    const char *speed;
    const char *encoding;
    const char *columns;  // attribute names, comma-separated
    int count;            // number of columns
};

constexpr Group kGroups[] = {
    {"10G/40G", "NRZ",
     "TX_EQ_PRE1,TX_EQ_PRE2,TX_EQ_MAIN,TX_EQ_POST,TX_EQ_ATTN,RX_CTLE_LF,RX_CTLE_HF,RX_CTLE_BW,"
     "RX_GAINSHAPE1,RX_GAINSHAPE2,RX_AGC_TARGET,LINK_TRAINING,AN",
     13},
    {"25G/100G", "NRZ",
     "TX_EQ_PRE1,TX_EQ_PRE2,TX_EQ_MAIN,TX_EQ_POST,TX_EQ_ATTN,RX_CTLE_LF,RX_CTLE_HF,RX_CTLE_BW,"
     "RX_GAINSHAPE1,RX_GAINSHAPE2,RX_AGC_TARGET,RX_EQ_COARSE_TUNE_EFFORT_25G,SD_RESET_25G,"
     "LINK_TRAINING",
     14},
    {"50G/400G", "PAM4",
     "TX_EQ_PRE1,TX_EQ_PRE2,TX_EQ_MAIN,TX_EQ_POST,TX_EQ_ATTN,RX_CTLE_LF,RX_CTLE_HF,RX_CTLE_BW,"
     "RX_GAINSHAPE1,RX_GAINSHAPE2,RX_AGC_TARGET,RX_EQ_COARSE_TUNE_EFFORT_50G,LINK_TRAINING,AN",
     14},
};

std::string commas(int n) {
    return std::string(n > 0 ? n : 0, ',');
}

// The five header lines of a table of `cells` cells per line whose groups are given.
std::string header(const std::string &cable, const std::string &vendor, const Group *groups,
                   int group_count) {
    int cells = 3;
    std::string l3 = ",,", l4 = ",,", l5 = "INDEX,FRONT PORT,LANE";
    for (int g = 0; g < group_count; ++g) {
        cells += groups[g].count;
        l3 += ",SPEED,ENCODING" + commas(groups[g].count - 2);
        l4 += std::string(",") + groups[g].speed + "," + groups[g].encoding +
              commas(groups[g].count - 2);
        l5 += std::string(",") + groups[g].columns;
    }
    return "VERSION,CABLE TYPE,VENDOR" + commas(cells - 3) + "\n1.0," + cable + "," + vendor +
           commas(cells - 3) + "\n" + l3 + "\n" + l4 + "\n" + l5 + "\n";
}

const char *effort(int n) {
    static const char *const kEfforts[] = {"LOW", "MEDIUM", "HIGH"};
    return kEfforts[n % 3];
}

// Values of one lane in group g: numbers from port and lane, the texts where a column wants one.
std::string lane_values(int g, int port, int lane) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d", -(2 + (port + lane) % 5),
                  lane % 3, 40 + g * 4 + port % 16 + lane, -(4 + (3 * port + lane) % 10), lane % 4,
                  2 + (port + 2 * lane) % 7, 4 + (port + 3 * lane) % 11, (port + lane) % 8,
                  lane % 4, port % 4, 8 + (port + lane) % 7);
    std::string v = buf;
    if (g == 0) return v + ",0,0";
    if (g == 1) return v + "," + effort(port + lane) + ",TRUE,0";
    return v + "," + effort(port + lane + 1) + ",0,0";
}

// A one-group table whose data line i (from 0) is "index,port(i),lane(i),-4,-8".
template <class PortLane>
std::string one_group_table(int rows, PortLane port_lane) {
    constexpr Group kSmall{"25G/100G", "NRZ", "TX_EQ_PRE1,TX_EQ_POST", 2};
    std::string out = header("DAC_1M", "GENERIC", &kSmall, 1);
    out.reserve(out.size() + static_cast<std::size_t>(rows) * 24);
    for (int i = 0; i < rows; ++i) {
        const auto [port, lane] = port_lane(i);
        out += std::to_string(i + 1) + "," + std::to_string(port) + "," + std::to_string(lane) +
               ",-4,-8\n";
    }
    return out;
}

// One table for `cable` and `vendor`: groups 10G/40G NRZ, 25G/100G NRZ and 50G/400G PAM4,
// front ports 0 to ports - 1 with `lanes` lanes each (lanes 0, 1, ... in order), a separator
// line between ports. Values follow simple formulas of port and lane.
std::string tuning_table(const std::string &cable, const std::string &vendor, int ports,
                         int lanes) {
    std::string out = header(cable, vendor, kGroups, 3);
    const int cells = 3 + kGroups[0].count + kGroups[1].count + kGroups[2].count;
    int index = 0;
    for (int port = 0; port < ports; ++port) {
        if (port > 0) out += commas(cells - 1) + "\n";
        for (int lane = 0; lane < lanes; ++lane) {
            out +=
                std::to_string(++index) + "," + std::to_string(port) + "," + std::to_string(lane);
            for (int g = 0; g < 3; ++g) out += "," + lane_values(g, port, lane);
            out += "\n";
        }
    }
    return out;
}

}  // namespace

std::string many_ports_table(int rows) {
    return one_group_table(rows, [](int i) { return std::pair{i, 0}; });
}

std::string many_lanes_table(int rows) {
    return one_group_table(rows, [](int i) { return std::pair{0, i}; });
}

std::size_t write_tuning_dir(const std::string &dir, std::size_t bytes) {
    std::size_t written = 0;
    for (int n = 0; written < bytes; ++n) {
        char vendor[32];
        std::snprintf(vendor, sizeof vendor, "VENDOR%04d", n);
        const std::string text = tuning_table(n % 2 ? "DAC_1M" : "OPTICS", vendor, 33, 8);
        if (!write_bytes(dir + "/" + vendor + ".csv", text)) return 0;
        written += text.size();
    }
    return written;
}

}  // namespace pltfm::test
