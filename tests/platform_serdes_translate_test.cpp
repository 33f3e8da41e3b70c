// Translation of tuning rows into SDK device-port records, and the per-interface cache of
// the lists handed out: record order, members and flags, conversions, bounds, failures.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "alloc.h"
#include "ifcs_devport.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "test_util.h"

namespace {

using Rows = std::vector<pltfm_attr_t>;

pltfm_attr_t row(pltfm_attr_type_t key, const char *value) {
    pltfm_attr_t r{};
    r.key = key;
    std::strncpy(r.value, value, sizeof r.value - 1);
    return r;
}

Rows rows(std::initializer_list<std::pair<pltfm_attr_type_t, const char *>> list) {
    Rows out;
    for (const auto &[k, v] : list) out.push_back(row(k, v));
    return out;
}

pltfm_port_t make_port(const char *name, int start, int lanes) {
    pltfm_port_t p{};
    std::strncpy(p.intf_name, name, sizeof p.intf_name - 1);
    p.fp_port_id = 3;
    p.fp_start_lane = p.cur_start_lane = start;
    p.fp_num_lanes = p.cur_num_lanes = lanes;
    return p;
}

// A list allocated exactly to its capacity through the library's allocator, so that ASan
// reports any write past it; released through the cache like port-down does.
struct Translated {
    ifcs_attr_t *list = nullptr;
    uint32_t capacity = 0;
    uint32_t count = 0;
    int rc = -1;
};

Translated translate(const pltfm_port_t &port, Rows in, uint32_t capacity) {
    Translated t;
    t.capacity = capacity;
    t.list = static_cast<ifcs_attr_t *>(pltfm::mem::alloc_zeroed(capacity, sizeof(ifcs_attr_t)));
    t.count = capacity;
    t.rc = pltfm_serdes_parameters_translate(port, in.data(), static_cast<int>(in.size()), t.list,
                                             &t.count);
    return t;
}

int cached_entries(const char *name) {
    int n = 0;
    for (const auto &e : intf_db)
        if (std::strcmp(e.intf_name, name) == 0) ++n;
    return n;
}

std::vector<int> i8_elements(const ifcs_attr_t &rec) {
    return {rec.value.i8_list.arr, rec.value.i8_list.arr + rec.value.i8_list.count};
}

}  // namespace

TEST(SerdesTranslate, FourLanesFromLaneFourInRowOrder) {
    const auto port = make_port("Ethernet12", 4, 4);
    const Rows in = rows({{PLTFM_ATTR_LANE, "4"},
                          {PLTFM_ATTR_TX_EQ_PRE1, "-2"},
                          {PLTFM_ATTR_AN, "1"},
                          {PLTFM_ATTR_LANE, "5"},
                          {PLTFM_ATTR_TX_EQ_PRE1, "-3"},
                          {PLTFM_ATTR_AN, "0"},
                          {PLTFM_ATTR_LANE, "6"},
                          {PLTFM_ATTR_TX_EQ_PRE1, "0"},
                          {PLTFM_ATTR_LANE, "7"},
                          {PLTFM_ATTR_TX_EQ_PRE1, "5"}});
    auto t = translate(port, in, 6);
    ASSERT_EQ(t.rc, PLTFM_SUCCESS);
    EXPECT_EQ(t.count, 2u);
    EXPECT_EQ(t.list[0].id, static_cast<uint32_t>(IFCS_DEVPORT_ATTR_TX_EQ_PRE1));
    EXPECT_EQ(t.list[0].bitmap, 1ULL << 8);
    EXPECT_EQ(t.list[0].value.i8_list.count, 4u);
    EXPECT_EQ(i8_elements(t.list[0]), (std::vector<int>{-2, -3, 0, 5}));
    EXPECT_EQ(t.list[1].id, static_cast<uint32_t>(IFCS_DEVPORT_ATTR_AUTO_NEG));
    EXPECT_EQ(t.list[1].bitmap, 1ULL << 1);
    EXPECT_EQ(t.list[1].value.u32, 1u);
    for (uint32_t i = 2; i < t.capacity; ++i) EXPECT_EQ(t.list[i].bitmap, 0u);

    ASSERT_EQ(cached_entries("Ethernet12"), 1);
    EXPECT_EQ(intf_db[0].attr_ptr, t.list);
    EXPECT_EQ(intf_db[0].attr_num, 6u);  // the capacity, not the records filled
    EXPECT_TRUE(pltfm::serdes::intf_db_release("Ethernet12"));
    EXPECT_EQ(cached_entries("Ethernet12"), 0);
    EXPECT_EQ(intf_db[0].attr_ptr, nullptr);
}

// Identifier, member flag and converted value of every key the SDK takes.
TEST(SerdesTranslate, EveryKeyGivesItsIdentifierFlagAndValue) {
    struct Case {
        pltfm_attr_type_t key;
        const char *text;
        uint32_t id;
        uint64_t flag;
        uint32_t value;  // u32/data, or element 0 of a list
    };
    const Case cases[] = {
        {PLTFM_ATTR_AN, "1", 16, 1ULL << 1, 1},
        {PLTFM_ATTR_AN_ABILITY, "12", 17, 1ULL << 41, 12},
        {PLTFM_ATTR_LINK_TRAINING, "1", 21, 1ULL << 1, 1},
        {PLTFM_ATTR_RX_EQ_COARSE_TUNE_EFFORT_25G, "LOW", 58, 1ULL << 1, 0},
        {PLTFM_ATTR_RX_EQ_COARSE_TUNE_EFFORT_50G, "MEDIUM", 59, 1ULL << 1, 16},
        {PLTFM_ATTR_RX_EQ_FINE_TUNE_EFFORT_25G, "HIGH", 61, 1ULL << 1, 1},
        {PLTFM_ATTR_RX_EQ_FINE_TUNE_EFFORT_50G, "MEDIUM", 62, 1ULL << 1, 16},
        {PLTFM_ATTR_SD_RESET_25G, "TRUE", 75, 1ULL << 21, 1},
        {PLTFM_ATTR_SD_RESET_THRESHOLD, "70", 76, 1ULL << 1, 70},
        {PLTFM_ATTR_SD_RESET_THRESHOLD_25G, "71", 76, 1ULL << 1, 71},
        {PLTFM_ATTR_RX_AGC_TARGET, "300", 55, 1ULL << 10, 300},
        {PLTFM_ATTR_RX_CTLE_BW, "7", 52, 1ULL << 6, 7},
        {PLTFM_ATTR_RX_CTLE_HF, "8", 51, 1ULL << 6, 8},
        {PLTFM_ATTR_RX_CTLE_LF, "9", 50, 1ULL << 6, 9},
        {PLTFM_ATTR_RX_EYE_DISQUALIFY_THRESHOLD_25G, "100000", 56, 1ULL << 10, 100000},
        {PLTFM_ATTR_RX_GAINSHAPE1, "2", 53, 1ULL << 10, 2},
        {PLTFM_ATTR_RX_GAINSHAPE2, "3", 54, 1ULL << 10, 3},
        {PLTFM_ATTR_TX_EQ_ATTN, "-4", 46, 1ULL << 8, static_cast<uint8_t>(-4)},
        {PLTFM_ATTR_TX_EQ_POST, "5", 47, 1ULL << 8, 5},
        {PLTFM_ATTR_TX_EQ_PRE1, "6", 43, 1ULL << 8, 6},
        {PLTFM_ATTR_TX_EQ_PRE2, "-7", 44, 1ULL << 8, static_cast<uint8_t>(-7)},
        {PLTFM_ATTR_TX_EQ_PRE3, "8", 45, 1ULL << 8, 8},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.key);
        auto t = translate(make_port("Ethernet0", 0, 2), {row(c.key, c.text)}, 3);
        ASSERT_EQ(t.rc, PLTFM_SUCCESS);
        ASSERT_EQ(t.count, 1u);
        const ifcs_attr_t &r = t.list[0];
        EXPECT_EQ(r.id, c.id);
        EXPECT_EQ(r.bitmap, c.flag);
        if (c.flag == (1ULL << 1)) {
            EXPECT_EQ(r.value.u32, c.value);
        } else if (c.flag == (1ULL << 21)) {
            EXPECT_EQ(r.value.data, c.value);
        } else if (c.flag == (1ULL << 41)) {
            ASSERT_EQ(r.value.devport_an_bp_tech_ability_list.count, 1u);
            EXPECT_EQ(r.value.devport_an_bp_tech_ability_list.arr[0], c.value);
        } else if (c.flag == (1ULL << 10)) {
            ASSERT_EQ(r.value.u32_list.count, 2u);
            EXPECT_EQ(r.value.u32_list.arr[0], c.value);
            EXPECT_EQ(r.value.u32_list.arr[1], 0u);
        } else {
            // u8_list and i8_list share the layout: count, then a byte array.
            ASSERT_EQ(r.value.u8_list.count, 2u);
            EXPECT_EQ(r.value.u8_list.arr[0], c.value);
            EXPECT_EQ(r.value.u8_list.arr[1], 0u);
        }
        EXPECT_TRUE(pltfm::serdes::intf_db_release("Ethernet0"));
    }
}

TEST(SerdesTranslate, KeysOutsideBothTablesGiveNothing) {
    Rows in;
    for (int k : {2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 14, 15, 27, 31, 33, 35, 36, 40, 41, 42, 63})
        in.push_back(row(static_cast<pltfm_attr_type_t>(k), "1"));
    auto t = translate(make_port("Ethernet0", 0, 1), in, 8);
    ASSERT_EQ(t.rc, PLTFM_SUCCESS);
    EXPECT_EQ(t.count, 0u);
    for (uint32_t i = 0; i < t.capacity; ++i) EXPECT_EQ(t.list[i].bitmap, 0u);
    EXPECT_TRUE(pltfm::serdes::intf_db_release("Ethernet0"));
}

TEST(SerdesTranslate, EffortBoolAndNumberTexts) {
    const std::pair<const char *, uint32_t> efforts[] = {{"LOW", 0}, {"MEDIUM", 16}, {"HIGH", 1},
                                                         {"low", 1}, {"LOW ", 1},    {"", 1}};
    for (const auto &[text, want] : efforts) {
        auto t = translate(make_port("Ethernet0", 0, 1),
                           {row(PLTFM_ATTR_RX_EQ_FINE_TUNE_EFFORT_50G, text)}, 2);
        ASSERT_EQ(t.count, 1u);
        EXPECT_EQ(t.list[0].value.u32, want) << '"' << text << '"';
        pltfm::serdes::intf_db_release("Ethernet0");
    }
    const std::pair<const char *, uint32_t> bools[] = {
        {"TRUE", 1}, {"true", 0}, {"1", 0}, {"", 0}, {"TRUE ", 0}};
    for (const auto &[text, want] : bools) {
        auto t = translate(make_port("Ethernet0", 0, 1), {row(PLTFM_ATTR_SD_RESET_25G, text)}, 2);
        ASSERT_EQ(t.count, 1u);
        EXPECT_EQ(t.list[0].value.data, want) << '"' << text << '"';
        pltfm::serdes::intf_db_release("Ethernet0");
    }
    // Numbers keep their low bits; text without digits is 0; reading stops at a non-digit.
    auto t = translate(make_port("Ethernet0", 0, 1),
                       rows({{PLTFM_ATTR_TX_EQ_PRE1, "-130"},
                             {PLTFM_ATTR_RX_CTLE_BW, "300"},
                             {PLTFM_ATTR_AN, "abc"},
                             {PLTFM_ATTR_LINK_TRAINING, " +12xyz"},
                             {PLTFM_ATTR_RX_AGC_TARGET, "-1"},
                             {PLTFM_ATTR_SD_RESET_THRESHOLD, "4294967297"}}),
                       8);
    ASSERT_EQ(t.count, 6u);
    EXPECT_EQ(t.list[0].value.i8_list.arr[0], 126);
    EXPECT_EQ(t.list[1].value.u8_list.arr[0], 44);
    EXPECT_EQ(t.list[2].value.u32, 0u);
    EXPECT_EQ(t.list[3].value.u32, 12u);
    EXPECT_EQ(t.list[4].value.u32_list.arr[0], 0xFFFFFFFFu);
    EXPECT_EQ(t.list[5].value.u32, 1u);
    pltfm::serdes::intf_db_release("Ethernet0");
}

TEST(SerdesTranslate, LaneGroupingRules) {
    {
        SCOPED_TRACE("both threshold keys give two records with identifier 76, in row order");
        auto t = translate(
            make_port("Ethernet0", 0, 1),
            rows({{PLTFM_ATTR_SD_RESET_THRESHOLD_25G, "9"}, {PLTFM_ATTR_SD_RESET_THRESHOLD, "8"}}),
            3);
        ASSERT_EQ(t.count, 2u);
        EXPECT_EQ(t.list[0].id, 76u);
        EXPECT_EQ(t.list[0].value.u32, 9u);
        EXPECT_EQ(t.list[1].id, 76u);
        EXPECT_EQ(t.list[1].value.u32, 8u);
        pltfm::serdes::intf_db_release("Ethernet0");
    }
    {
        SCOPED_TRACE("rows before the first lane row belong to the first lane");
        auto t = translate(make_port("Ethernet0", 2, 2),
                           rows({{PLTFM_ATTR_TX_EQ_POST, "3"},
                                 {PLTFM_ATTR_AN, "1"},
                                 {PLTFM_ATTR_LANE, "3"},
                                 {PLTFM_ATTR_TX_EQ_POST, "4"}}),
                           4);
        ASSERT_EQ(t.count, 2u);
        EXPECT_EQ(i8_elements(t.list[0]), (std::vector<int>{3, 4}));
        EXPECT_EQ(t.list[1].id, 16u);
        pltfm::serdes::intf_db_release("Ethernet0");
    }
    {
        SCOPED_TRACE("missing lanes leave their elements zero");
        auto t = translate(make_port("Ethernet0", 0, 4),
                           rows({{PLTFM_ATTR_LANE, "0"},
                                 {PLTFM_ATTR_RX_GAINSHAPE1, "7"},
                                 {PLTFM_ATTR_LANE, "1"},
                                 {PLTFM_ATTR_RX_GAINSHAPE1, "8"}}),
                           5);
        ASSERT_EQ(t.count, 1u);
        ASSERT_EQ(t.list[0].value.u32_list.count, 4u);
        const uint32_t *e = t.list[0].value.u32_list.arr;
        EXPECT_EQ((std::vector<uint32_t>{e[0], e[1], e[2], e[3]}),
                  (std::vector<uint32_t>{7, 8, 0, 0}));
        pltfm::serdes::intf_db_release("Ethernet0");
    }
    {
        SCOPED_TRACE("the first lane named again adds records and starts new arrays");
        auto t = translate(make_port("Ethernet0", 0, 2),
                           rows({{PLTFM_ATTR_LANE, "0"},
                                 {PLTFM_ATTR_TX_EQ_PRE2, "1"},
                                 {PLTFM_ATTR_AN, "1"},
                                 {PLTFM_ATTR_LANE, "1"},
                                 {PLTFM_ATTR_TX_EQ_PRE2, "2"},
                                 {PLTFM_ATTR_LANE, "0"},
                                 {PLTFM_ATTR_TX_EQ_PRE2, "3"},
                                 {PLTFM_ATTR_AN, "0"},
                                 {PLTFM_ATTR_LANE, "1"},
                                 {PLTFM_ATTR_TX_EQ_PRE2, "4"}}),
                           6);
        ASSERT_EQ(t.count, 4u);
        EXPECT_EQ(i8_elements(t.list[0]), (std::vector<int>{1, 2}));
        EXPECT_EQ(t.list[1].value.u32, 1u);
        EXPECT_EQ(i8_elements(t.list[2]), (std::vector<int>{3, 4}));
        EXPECT_NE(t.list[0].value.i8_list.arr, t.list[2].value.i8_list.arr);
        EXPECT_EQ(t.list[3].id, 16u);
        EXPECT_EQ(t.list[3].value.u32, 0u);
        pltfm::serdes::intf_db_release("Ethernet0");
    }
}

TEST(SerdesTranslate, TxEqAttnArrayIsLogged) {
    pltfm::test::LogCapture log;
    auto t = translate(make_port("Ethernet0", 4, 4),
                       rows({{PLTFM_ATTR_LANE, "4"}, {PLTFM_ATTR_TX_EQ_ATTN, "1"}}), 5);
    ASSERT_EQ(t.rc, PLTFM_SUCCESS);
    EXPECT_TRUE(
        log.contains("pltfm_serdes_parameters_translate: tx_eq_attn lane=4 cur_num_lanes=4\n"))
        << log.text();
    pltfm::serdes::intf_db_release("Ethernet0");
}

// Rows outside the port, per-lane keys without a first-lane record and records beyond the
// capacity are skipped; ASan checks that nothing is written outside the list or an array.
TEST(SerdesTranslate, RowsOutsideTheBoundsAreSkipped) {
    const auto port = make_port("Ethernet4", 4, 2);
    auto t = translate(port,
                       rows({{PLTFM_ATTR_LANE, "4"},
                             {PLTFM_ATTR_TX_EQ_PRE1, "1"},
                             {PLTFM_ATTR_LANE, "6"},
                             {PLTFM_ATTR_TX_EQ_PRE1, "9"},  // past the port
                             {PLTFM_ATTR_LANE, "3"},
                             {PLTFM_ATTR_TX_EQ_PRE1, "9"},  // before it
                             {PLTFM_ATTR_LANE, "-1"},
                             {PLTFM_ATTR_TX_EQ_PRE1, "9"},
                             {PLTFM_ATTR_LANE, "5"},
                             {PLTFM_ATTR_TX_EQ_PRE1, "2"},
                             {PLTFM_ATTR_RX_CTLE_LF, "9"},  // first met after the first lane
                             {PLTFM_ATTR_AN, "1"}}),        // scalar after the first lane
                       3);
    ASSERT_EQ(t.rc, PLTFM_SUCCESS);
    ASSERT_EQ(t.count, 1u);
    EXPECT_EQ(i8_elements(t.list[0]), (std::vector<int>{1, 2}));
    pltfm::serdes::intf_db_release("Ethernet4");

    // Capacity 2: the third and later first-lane keys get no record, and their later-lane
    // rows write nowhere.
    pltfm::mem::reset_allocation_count();
    auto full = translate(port,
                          rows({{PLTFM_ATTR_LANE, "4"},
                                {PLTFM_ATTR_AN, "1"},
                                {PLTFM_ATTR_TX_EQ_POST, "1"},
                                {PLTFM_ATTR_RX_CTLE_HF, "5"},
                                {PLTFM_ATTR_LINK_TRAINING, "1"},
                                {PLTFM_ATTR_LANE, "5"},
                                {PLTFM_ATTR_TX_EQ_POST, "2"},
                                {PLTFM_ATTR_RX_CTLE_HF, "6"}}),
                          2);
    ASSERT_EQ(full.rc, PLTFM_SUCCESS);
    EXPECT_EQ(full.count, 2u);
    EXPECT_EQ(full.list[0].id, 16u);
    EXPECT_EQ(i8_elements(full.list[1]), (std::vector<int>{1, 2}));
    EXPECT_EQ(pltfm::mem::allocation_count(), 2u);  // the list and one element array
    EXPECT_EQ(intf_db[0].attr_num, 2u);
    pltfm::serdes::intf_db_release("Ethernet4");

    // A per-lane key named twice at the first lane when only one record fits: later lanes
    // fill the array that exists.
    auto twice = translate(port,
                           rows({{PLTFM_ATTR_LANE, "4"},
                                 {PLTFM_ATTR_TX_EQ_POST, "1"},
                                 {PLTFM_ATTR_TX_EQ_POST, "7"},
                                 {PLTFM_ATTR_LANE, "5"},
                                 {PLTFM_ATTR_TX_EQ_POST, "2"}}),
                           1);
    ASSERT_EQ(twice.count, 1u);
    EXPECT_EQ(i8_elements(twice.list[0]), (std::vector<int>{1, 2}));
    pltfm::serdes::intf_db_release("Ethernet4");
}

TEST(SerdesTranslate, RefusesArgumentsOutsideTheDataModel) {
    pltfm::test::LogCapture log;
    ifcs_attr_t list[2] = {};
    uint32_t count = 2;
    Rows in = rows({{PLTFM_ATTR_AN, "1"}});
    auto port = make_port("Ethernet0", 0, 0);
    EXPECT_EQ(pltfm_serdes_parameters_translate(port, in.data(), 1, list, &count), PLTFM_PARAM);
    port.cur_num_lanes = -3;
    EXPECT_EQ(pltfm_serdes_parameters_translate(port, in.data(), 1, list, &count), PLTFM_PARAM);
    port.cur_num_lanes = 1;
    EXPECT_EQ(pltfm_serdes_parameters_translate(port, in.data(), 1, list, nullptr), PLTFM_PARAM);
    EXPECT_EQ(pltfm_serdes_parameters_translate(port, in.data(), 1, nullptr, &count), PLTFM_PARAM);
    EXPECT_EQ(pltfm_serdes_parameters_translate(port, nullptr, 1, list, &count), PLTFM_PARAM);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(list[0].bitmap, 0u);
    EXPECT_EQ(cached_entries("Ethernet0"), 0);
    EXPECT_TRUE(log.contains("Invalid input value."));
    // Null rows with no count is an empty port, not an error.
    EXPECT_EQ(pltfm_serdes_parameters_translate(port, nullptr, 0, list, &count), PLTFM_SUCCESS);
    EXPECT_EQ(count, 0u);
    pltfm::serdes::intf_db_clear();
}

TEST(SerdesTranslate, NoRowsStillCachesTheEmptyList) {
    auto t = translate(make_port("Ethernet0", 0, 8), {}, 8);
    ASSERT_EQ(t.rc, PLTFM_SUCCESS);
    EXPECT_EQ(t.count, 0u);
    ASSERT_EQ(cached_entries("Ethernet0"), 1);
    EXPECT_EQ(intf_db[0].attr_num, 8u);
    EXPECT_EQ(intf_db[0].attr_ptr, t.list);
    EXPECT_TRUE(pltfm::serdes::intf_db_release("Ethernet0"));
}

TEST(SerdesTranslate, CacheTakesLowestFreeEntryAndReleasesLowestMatch) {
    const auto port = make_port("Ethernet8", 0, 1);
    const Rows in = rows({{PLTFM_ATTR_RX_CTLE_LF, "1"}});
    auto a = translate(port, in, 2);
    auto other = translate(make_port("Ethernet16", 0, 1), in, 2);
    auto b = translate(port, in, 2);
    EXPECT_EQ(cached_entries("Ethernet8"), 2);
    EXPECT_EQ(intf_db[0].attr_ptr, a.list);
    EXPECT_EQ(intf_db[1].attr_ptr, other.list);
    EXPECT_EQ(intf_db[2].attr_ptr, b.list);

    // Port-down of the same name frees the lowest entry first; a freed entry is reused.
    EXPECT_TRUE(pltfm::serdes::intf_db_release("Ethernet8"));
    EXPECT_EQ(intf_db[0].intf_name[0], '\0');
    EXPECT_EQ(intf_db[2].attr_ptr, b.list);
    auto c = translate(make_port("Ethernet24", 0, 1), in, 2);
    EXPECT_EQ(intf_db[0].attr_ptr, c.list);
    EXPECT_STREQ(intf_db[0].intf_name, "Ethernet24");

    EXPECT_FALSE(pltfm::serdes::intf_db_release("Ethernet"));  // exact names only
    EXPECT_FALSE(pltfm::serdes::intf_db_release("Ethernet80"));
    EXPECT_TRUE(pltfm::serdes::intf_db_release("Ethernet8"));
    EXPECT_FALSE(pltfm::serdes::intf_db_release("Ethernet8"));
    EXPECT_TRUE(pltfm::serdes::intf_db_release("Ethernet16"));
    EXPECT_TRUE(pltfm::serdes::intf_db_release("Ethernet24"));
}

TEST(SerdesTranslate, FullCacheStillSucceedsWithoutCaching) {
    static ifcs_attr_t dummy;
    for (int i = 0; i < PLTFM_INTF_DB_SIZE; ++i)
        ASSERT_TRUE(
            pltfm::serdes::intf_db_cache(("EthernetX" + std::to_string(i)).c_str(), &dummy, 0));
    EXPECT_FALSE(pltfm::serdes::intf_db_cache("Ethernet999", &dummy, 0));

    auto t = translate(make_port("Ethernet0", 0, 1), rows({{PLTFM_ATTR_AN, "1"}}), 2);
    EXPECT_EQ(t.rc, PLTFM_SUCCESS);
    EXPECT_EQ(t.count, 1u);
    EXPECT_EQ(cached_entries("Ethernet0"), 0);
    pltfm::serdes::release_attr_list(t.list, t.capacity);

    // Zero-filling forgets every entry without releasing (the dummy list is static).
    pltfm::serdes::intf_db_clear();
    for (const auto &e : intf_db) {
        EXPECT_EQ(e.intf_name[0], '\0');
        EXPECT_EQ(e.attr_ptr, nullptr);
        EXPECT_EQ(e.attr_num, 0u);
    }
}

TEST(SerdesTranslate, ElementAllocationFailureKeepsWhatWasWritten) {
    const Rows in = rows({{PLTFM_ATTR_LANE, "0"},
                          {PLTFM_ATTR_TX_EQ_PRE1, "1"},
                          {PLTFM_ATTR_AN, "1"},
                          {PLTFM_ATTR_AN_ABILITY, "3"},
                          {PLTFM_ATTR_RX_CTLE_BW, "4"}});
    // Allocation 1 is the list; 2 the TX_EQ_PRE1 array; 3 the AN ability array; 4 CTLE_BW.
    for (unsigned long fail_at : {2ul, 3ul, 4ul}) {
        SCOPED_TRACE(fail_at);
        pltfm::test::LogCapture log;
        pltfm::mem::fail_nth_allocation(fail_at);
        auto t = translate(make_port("Ethernet0", 0, 2), in, 6);
        pltfm::mem::fail_nth_allocation(0);
        EXPECT_EQ(t.rc, PLTFM_UNINIT);
        EXPECT_EQ(t.count, 6u);  // unchanged
        EXPECT_TRUE(log.contains("pltfm_serdes_parameters_translate: FATAL: malloc failed\n"));
        EXPECT_EQ(cached_entries("Ethernet0"), 0);
        // Records before the failing key stay; the failing key has none.
        const uint32_t written = fail_at == 2 ? 0 : fail_at == 3 ? 2 : 3;
        for (uint32_t i = 0; i < t.capacity; ++i)
            EXPECT_EQ(t.list[i].bitmap != 0, i < written) << "record " << i;
        // The caller releases the list with its arrays (LSan checks nothing is left).
        pltfm::serdes::release_attr_list(t.list, t.capacity);
    }
}
