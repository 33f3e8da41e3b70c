// Translation of tuning rows into SDK device-port records, and the per-interface cache of the
// lists handed out: members and conversions, lane grouping, bounds, allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "alloc.h"
#include "pi_csvfile_internal.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "serdes_records.h"
#include "test_util.h"

namespace {

using Rows = std::vector<pltfm_attr_t>;
namespace serdes = pltfm::serdes;

using pltfm::test::Rec;
constexpr uint64_t U32 = pltfm::test::kU32, U8 = pltfm::test::kU8List, I8 = pltfm::test::kI8List,
                   U32L = pltfm::test::kU32List, DATA = pltfm::test::kData,
                   ABILITY = pltfm::test::kAbilityList;

pltfm_attr_t row(pltfm_attr_type_t key, const char *text) {
    pltfm_attr_t r{key, {}};
    std::strncpy(r.value, text, sizeof r.value - 1);
    return r;
}

// Rows written as "NAME=text NAME=text ...", the names as in the tuning files.
Rows rows(const std::string &text) {
    Rows out;
    std::istringstream in(text);
    for (std::string item; in >> item;) {
        const auto eq = item.find('=');
        pltfm_attr_type_t key{};  // a misspelt name fails the comparison of the records
        pltfm::csv::pi_csv_value_to_attr_type_conv(item.substr(0, eq).c_str(), &key);
        out.push_back(row(key, item.substr(eq + 1).c_str()));
    }
    return out;
}

pltfm_port_t make_port(const char *name, int start, int lanes) {
    pltfm_port_t p{};
    std::strncpy(p.intf_name, name, sizeof p.intf_name - 1);
    p.fp_start_lane = p.cur_start_lane = start;
    p.fp_num_lanes = p.cur_num_lanes = lanes;
    return p;
}

// The list is allocated exactly to its capacity, so ASan reports any write past it.
struct Translated {
    ifcs_attr_t *list;
    uint32_t count;
    int rc;
    std::vector<Rec> recs() const { return pltfm::test::recs_of(list, count); }
};

Translated translate(const pltfm_port_t &port, Rows in, uint32_t capacity) {
    Translated t{
        static_cast<ifcs_attr_t *>(pltfm::mem::alloc_zeroed(capacity, sizeof(ifcs_attr_t))),
        capacity, -1};
    t.rc = pltfm_serdes_parameters_translate(port, in.data(), static_cast<int>(in.size()), t.list,
                                             &t.count);
    return t;
}

int cached_entries(const char *name) {
    int n = 0;
    for (const auto &e : intf_db) n += std::strcmp(e.intf_name, name) == 0;
    return n;
}

}  // namespace

// A representative key of each member kind, the effort and bool texts, and narrowing to
// the member's width (on a two-lane port, so lists carry a second, zero element).
TEST(SerdesTranslate, MembersTextsAndNarrowing) {
    struct Case {
        pltfm_attr_type_t key;
        const char *text;
        std::vector<Rec> want;
    };
    const Case cases[] = {
        {PLTFM_ATTR_LINK_TRAINING, " +12xyz", {{21, U32, {12}}}},
        {PLTFM_ATTR_SD_RESET_THRESHOLD, "4294967297", {{76, U32, {1}}}},
        {PLTFM_ATTR_AN_ABILITY, "12", {{17, ABILITY, {12}}}},
        {PLTFM_ATTR_RX_EQ_COARSE_TUNE_EFFORT_25G, "LOW", {{58, U32, {0}}}},
        {PLTFM_ATTR_RX_EQ_COARSE_TUNE_EFFORT_50G, "MEDIUM", {{59, U32, {16}}}},
        {PLTFM_ATTR_RX_EQ_FINE_TUNE_EFFORT_25G, "HIGH", {{61, U32, {1}}}},
        {PLTFM_ATTR_RX_EQ_FINE_TUNE_EFFORT_50G, "low", {{62, U32, {1}}}},
        {PLTFM_ATTR_SD_RESET_25G, "TRUE", {{75, DATA, {1}}}},
        {PLTFM_ATTR_SD_RESET_25G, "true", {{75, DATA, {0}}}},
        {PLTFM_ATTR_RX_AGC_TARGET, "-1", {{55, U32L, {0xFFFFFFFF, 0}}}},
        {PLTFM_ATTR_RX_CTLE_BW, "300", {{52, U8, {44, 0}}}},
        {PLTFM_ATTR_TX_EQ_PRE1, "-130", {{43, I8, {126, 0}}}},
        {PLTFM_ATTR_TX_EQ_ATTN, "-4", {{46, I8, {-4, 0}}}},
        {PLTFM_ATTR_TX_EQ_MAIN, "40", {}},  // a key the SDK does not take
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.key) + " \"" + c.text + "\"");
        auto t = translate(make_port("Ethernet0", 2, 2), Rows{row(c.key, c.text)}, 2);
        ASSERT_EQ(t.rc, PLTFM_SUCCESS);
        EXPECT_EQ(t.recs(), c.want);
        EXPECT_TRUE(serdes::intf_db_release("Ethernet0"));
    }
}

// Lane grouping and bounds. Rows naming lanes outside the port, per-lane keys first met after
// the first lane, scalars after it, and records beyond the capacity are skipped (ASan checks
// nothing is written outside the list or an element array); each list record has one array.
TEST(SerdesTranslate, LaneGroupingAndBounds) {
    struct Case {
        int start, lanes;
        uint32_t capacity;
        const char *in;
        std::vector<Rec> want;
    };
    // clang-format off
    const Case cases[] = {
        // Lanes 4-7 of a port, records in the order of the first lane's rows, scalars once.
        {4, 4, 6, "LANE=4 TX_EQ_PRE1=-2 AN=1 LANE=5 TX_EQ_PRE1=-3 AN=0 LANE=6 TX_EQ_PRE1=0 LANE=7 TX_EQ_PRE1=5",
         {{43, I8, {-2, -3, 0, 5}}, {16, U32, {1}}}},
        // Both threshold keys give two records with identifier 76, in row order.
        {0, 1, 6, "SD_RESET_THRESHOLD_25G=9 SD_RESET_THRESHOLD=8", {{76, U32, {9}}, {76, U32, {8}}}},
        // Rows before the first lane row belong to the first lane.
        {2, 2, 6, "TX_EQ_POST=3 AN=1 LANE=3 TX_EQ_POST=4", {{47, I8, {3, 4}}, {16, U32, {1}}}},
        // The first lane named again adds records and starts new arrays.
        {0, 2, 6, "LANE=0 TX_EQ_PRE2=1 AN=1 LANE=1 TX_EQ_PRE2=2 LANE=0 TX_EQ_PRE2=3 AN=0 LANE=1 TX_EQ_PRE2=4",
         {{44, I8, {1, 2}}, {16, U32, {1}}, {44, I8, {3, 4}}, {16, U32, {0}}}},
        {4, 2, 3, "LANE=4 TX_EQ_PRE1=1 LANE=6 TX_EQ_PRE1=9 LANE=3 TX_EQ_PRE1=9 LANE=-1 TX_EQ_PRE1=9 "
                  "LANE=5 TX_EQ_PRE1=2 RX_CTLE_LF=9 AN=1", {{43, I8, {1, 2}}}},
        // Capacity 2: later first-lane keys get no record nor array; their later rows go nowhere.
        {4, 2, 2, "LANE=4 AN=1 TX_EQ_POST=1 RX_CTLE_HF=5 LINK_TRAINING=1 LANE=5 TX_EQ_POST=2 RX_CTLE_HF=6",
         {{16, U32, {1}}, {47, I8, {1, 2}}}},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        pltfm::mem::reset_allocation_count();
        auto t = translate(make_port("Ethernet4", c.start, c.lanes), rows(c.in), c.capacity);
        ASSERT_EQ(t.rc, PLTFM_SUCCESS);
        EXPECT_EQ(t.recs(), c.want);
        for (uint32_t i = t.count; i < c.capacity; ++i) EXPECT_EQ(t.list[i].bitmap, 0u);
        std::size_t arrays = 1;  // the list
        for (const Rec &r : c.want) arrays += r.flag != U32 && r.flag != DATA;
        EXPECT_EQ(pltfm::mem::allocation_count(), arrays);
        EXPECT_TRUE(serdes::intf_db_release("Ethernet4"));
    }
}

// Each row translation cannot place is logged with its key and lane; scalars met after the
// first lane are not a fault and stay quiet. The record count a caller sizes its list by
// covers every record of the first lane.
TEST(SerdesTranslate, EverySkippedRowIsLoggedAndCounted) {
    const Rows in = rows("LANE=4 TX_EQ_PRE1=1 AN=1 RX_CTLE_HF=3 LANE=6 TX_EQ_PRE1=9 "
                         "LANE=5 TX_EQ_PRE1=2 RX_CTLE_LF=9 RX_CTLE_HF=4 AN=0");
    const auto port = make_port("Ethernet4", 4, 2);
    EXPECT_EQ(serdes::translated_record_count(port, in.data(), static_cast<int>(in.size())), 3u);
    EXPECT_EQ(serdes::translated_record_count(port, in.data(), 0), 0u);
    pltfm::test::LogCapture log;
    auto t = translate(port, in, 2);
    ASSERT_EQ(t.rc, PLTFM_SUCCESS);
    EXPECT_EQ(t.recs(), (std::vector<Rec>{{43, I8, {1, 2}}, {16, U32, {1}}}));
    const std::string prefix = "pltfm_serdes_parameters_translate: Skipped ";
    std::string want;
    for (const char *line : {"RX_CTLE_HF of lane 4: the list is full",
                             "TX_EQ_PRE1 of lane 6: outside the port's lanes 4 to 5",
                             "RX_CTLE_LF of lane 5: no record of it at the first lane",
                             "RX_CTLE_HF of lane 5: no record of it at the first lane"})
        want += prefix + line + "\n";
    std::string got;
    const std::string text = log.text();
    for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1))
        got += text.substr(at, text.find('\n', at) + 1 - at);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(serdes::intf_db_release("Ethernet4"));
}

// Keys are read as raw 32-bit numbers: numbers outside the key enumeration (which UBSan
// would flag if read as the enumeration) are skipped like any key the SDK does not take.
TEST(SerdesTranslate, UnknownKeyNumbersAreSkipped) {
    Rows in = rows("LANE=0 TX_EQ_PRE1=1 AN=1 LANE=1 TX_EQ_PRE1=2");
    for (uint32_t key : {40u, 97u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        pltfm_attr_t odd = row(PLTFM_ATTR_AN, "7");
        std::memcpy(&odd.key, &key, sizeof key);
        in.insert(in.begin() + 1, odd);  // first lane
        in.push_back(odd);               // second lane
    }
    auto t = translate(make_port("Ethernet0", 0, 2), in, 4);
    ASSERT_EQ(t.rc, PLTFM_SUCCESS);
    EXPECT_EQ(t.recs(), (std::vector<Rec>{{43, I8, {1, 2}}, {16, U32, {1}}}));
    EXPECT_TRUE(serdes::intf_db_release("Ethernet0"));
}

TEST(SerdesTranslate, RefusesArgumentsOutsideTheDataModel) {
    ifcs_attr_t list[2] = {};
    uint32_t count = 2;
    Rows in = rows("AN=1");
    const auto ok = make_port("Ethernet0", 0, 1), none = make_port("Ethernet0", 0, 0),
               nine = make_port("Ethernet0", 0, 9), huge = make_port("Ethernet0", 0, INT32_MAX),
               unnamed = make_port("", 0, 1);
    for (auto [port, r, l, n] : {std::tuple{&none, in.data(), list, &count},
                                 {&nine, in.data(), list, &count},
                                 {&huge, in.data(), list, &count},
                                 {&unnamed, in.data(), list, &count},
                                 {&ok, in.data(), list, nullptr},
                                 {&ok, in.data(), nullptr, &count},
                                 {&ok, nullptr, list, &count}}) {
        pltfm::test::LogCapture log;
        EXPECT_EQ(pltfm_serdes_parameters_translate(*port, r, 1, l, n), PLTFM_PARAM);
        EXPECT_TRUE(log.contains("pltfm_serdes_parameters_translate: Invalid input value.\n"));
    }
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(list[0].bitmap, 0u);
    EXPECT_EQ(cached_entries("Ethernet0"), 0);
    for (const auto &e : intf_db) EXPECT_EQ(e.attr_ptr, nullptr);  // nothing cached, unnamed or not
    // Null rows with no count is an empty port, not an error.
    EXPECT_EQ(pltfm_serdes_parameters_translate(ok, nullptr, 0, list, &count), PLTFM_SUCCESS);
    EXPECT_EQ(count, 0u);
}

// The lowest free entry is taken, the lowest entry of a name released, exact names only;
// with the table full, translation still succeeds but the list is not cached.
TEST(SerdesTranslate, CacheTakesLowestFreeEntryAndReleasesLowestMatch) {
    const Rows in = rows("RX_CTLE_LF=1");
    auto a = translate(make_port("Ethernet8", 0, 1), in, 2);
    translate(make_port("Ethernet16", 0, 1), in, 2);
    auto b = translate(make_port("Ethernet8", 0, 1), in, 2);
    EXPECT_EQ(intf_db[0].attr_ptr, a.list);
    EXPECT_EQ(intf_db[0].attr_num, 2u);  // the capacity, not the records filled
    EXPECT_FALSE(serdes::intf_db_release("Ethernet"));
    EXPECT_TRUE(serdes::intf_db_release("Ethernet8"));
    EXPECT_EQ(intf_db[2].attr_ptr, b.list);
    auto c = translate(make_port("Ethernet24", 0, 1), in, 2);
    EXPECT_EQ(intf_db[0].attr_ptr, c.list);
    EXPECT_TRUE(serdes::intf_db_release("Ethernet8"));
    EXPECT_FALSE(serdes::intf_db_release("Ethernet8"));
    serdes::intf_db_release("Ethernet16");
    serdes::intf_db_release("Ethernet24");

    static ifcs_attr_t dummy;
    for (int i = 0; i < PLTFM_INTF_DB_SIZE; ++i)
        ASSERT_TRUE(serdes::intf_db_cache(("EthernetX" + std::to_string(i)).c_str(), &dummy, 0));
    pltfm::test::LogCapture log;
    auto t = translate(make_port("Ethernet0", 0, 1), rows("AN=1"), 2);
    EXPECT_EQ(t.rc, PLTFM_SUCCESS);
    EXPECT_EQ(cached_entries("Ethernet0"), 0);
    const std::string logged = log.text();  // one line, naming the interface
    EXPECT_NE(logged.find("pltfm_serdes_parameters_translate: intf_db is full, the list of "
                          "Ethernet0 is not cached\n"),
              std::string::npos)
        << logged;
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 1);
    serdes::release_attr_list(t.list, 2);
    serdes::intf_db_clear();  // forgets the entries without releasing the static dummy
    for (const auto &e : intf_db) EXPECT_TRUE(e.intf_name[0] == '\0' && e.attr_ptr == nullptr);
}

TEST(SerdesTranslate, ElementAllocationFailureKeepsWhatWasWritten) {
    const Rows in = rows("LANE=0 TX_EQ_PRE1=1 AN=1 AN_ABILITY=3 RX_CTLE_BW=4");
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
        for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(t.list[i].bitmap != 0, i < written) << i;
        serdes::release_attr_list(t.list, 6);  // LSan checks the arrays are all freed
    }
}
