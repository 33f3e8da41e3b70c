// The tuning files read the simple way, and the SDK records expected of them.
#include "tuning_reference.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace pltfm::test {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> cells_of(const std::string &line) {
    std::vector<std::string> out;
    std::stringstream s(line + ",");
    for (std::string cell; std::getline(s, cell, ',');) {
        const auto b = cell.find_first_not_of(" \t\r"), e = cell.find_last_not_of(" \t\r");
        cell = b == std::string::npos ? "" : cell.substr(b, e - b + 1);
        for (char &c : cell) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        out.push_back(cell);
    }
    return out;
}

// What the SDK must receive for each tuning column it takes.
enum class How { number, effort, boolean, ability, i8, u8, u32 };
struct SdkColumn {
    const char *column;
    uint32_t id;
    How how;
};
// clang-format off
constexpr SdkColumn kSdkColumns[] = {
    {"AN", 16, How::number}, {"AN_ABILITY", 17, How::ability}, {"LINK_TRAINING", 21, How::number},
    {"RX_EQ_COARSE_TUNE_EFFORT_25G", 58, How::effort}, {"RX_EQ_COARSE_TUNE_EFFORT_50G", 59, How::effort},
    {"RX_EQ_FINE_TUNE_EFFORT_25G", 61, How::effort}, {"RX_EQ_FINE_TUNE_EFFORT_50G", 62, How::effort},
    {"SD_RESET_25G", 75, How::boolean}, {"SD_RESET_THRESHOLD", 76, How::number},
    {"SD_RESET_THRESHOLD_25G", 76, How::number}, {"RX_AGC_TARGET", 55, How::u32}, {"RX_CTLE_BW", 52, How::u8},
    {"RX_CTLE_HF", 51, How::u8}, {"RX_CTLE_LF", 50, How::u8}, {"RX_EYE_DISQUALIFY_THRESHOLD_25G", 56, How::u32},
    {"RX_GAINSHAPE1", 53, How::u32}, {"RX_GAINSHAPE2", 54, How::u32}, {"TX_EQ_ATTN", 46, How::i8},
    {"TX_EQ_POST", 47, How::i8}, {"TX_EQ_PRE1", 43, How::i8}, {"TX_EQ_PRE2", 44, How::i8}, {"TX_EQ_PRE3", 45, How::i8},
};
// clang-format on

// Calls fn(group key "cable|vendor|speed|encoding|front port", lane text, tuning) for every
// column group of every data line of every *.csv of the directory, in file order.
template <class Fn>
void for_each_row(const std::string &dir, Fn fn) {
    for (const auto &entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".csv") continue;
        std::ifstream in(entry.path());
        std::vector<std::vector<std::string>> l;
        for (std::string line; std::getline(in, line);) l.push_back(cells_of(line));
        for (std::size_t i = 5; i < l.size(); ++i) {
            if (l[i][0].empty()) continue;
            for (std::size_t col = 3; col < l[i].size();) {
                std::size_t end = col + 1;
                while (end < l[i].size() && l[2][end] != "SPEED") ++end;
                LaneTuning lane;
                for (std::size_t k = col; k < end; ++k) lane.emplace_back(l[4][k], l[i][k]);
                fn(l[1][1] + "|" + l[1][2] + "|" + l[3][col] + "|" + l[3][col + 1] + "|" + l[i][1],
                   l[i][2], std::move(lane));
                col = end;
            }
        }
    }
}

}  // namespace

Reference read_reference(const std::string &dir) {
    Reference ref;
    for_each_row(dir, [&](const std::string &group, const std::string &, LaneTuning lane) {
        ref[group].push_back(std::move(lane));
    });
    return ref;
}

Rows read_rows(const std::string &dir) {
    Rows rows;
    for_each_row(dir, [&](const std::string &group, const std::string &lane, LaneTuning tuning) {
        rows[group + "|" + lane] = std::move(tuning);
    });
    return rows;
}

// The records lanes first to first + n - 1 must give, in column order of the first lane.
std::vector<Rec> expected(const std::vector<LaneTuning> &lanes, std::size_t first, std::size_t n) {
    constexpr uint64_t kFlagOf[] = {kU32, kU32, kData, kAbilityList, kI8List, kU8List, kU32List};
    std::vector<Rec> out;
    for (std::size_t k = 0; k < lanes.at(first).size(); ++k)
        for (const auto &c : kSdkColumns) {
            if (lanes[first][k].first != c.column) continue;
            const std::string &t = lanes[first][k].second;
            auto num = [&](std::size_t l) {
                return std::strtol(lanes.at(l).at(k).second.c_str(), nullptr, 10);
            };
            Rec r{c.id, kFlagOf[static_cast<int>(c.how)], {}};
            if (c.how == How::effort)
                r.values = {t == "LOW" ? 0 : t == "MEDIUM" ? 16 : 1};
            else if (c.how == How::boolean)
                r.values = {t == "TRUE"};
            else if (c.how < How::i8)
                r.values = {static_cast<uint32_t>(num(first))};
            else
                for (std::size_t l = first; l < first + n; ++l)
                    r.values.push_back(c.how == How::i8   ? static_cast<int8_t>(num(l))
                                       : c.how == How::u8 ? static_cast<uint8_t>(num(l))
                                                          : 0LL + static_cast<uint32_t>(num(l)));
            out.push_back(r);
        }
    return out;
}

}  // namespace pltfm::test
