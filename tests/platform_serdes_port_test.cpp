// Port entry points refusing what lies outside the data model before doing any work, in the
// documented log order; port-down releasing the cached list; the empty AN/LT hook.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "alloc.h"
#include "ifcs_devport.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "test_util.h"

namespace {

ifcs_attr_t devport(uint32_t id, int32_t value) {
    ifcs_attr_t a{};
    a.id = id;
    a.value.u32 = static_cast<uint32_t>(value);
    a.bitmap = IFCS_ATTR_VALUE_FLAG_U32;
    return a;
}

// Serdes group, start lane, lane count, speed, link training as the SDK passes them.
std::vector<ifcs_attr_t> devport_attrs(int32_t sg, int32_t sl, int32_t nl, int32_t speed = 400000,
                                       int32_t lt = 0) {
    return {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, sg), devport(IFCS_DEVPORT_ATTR_START_LANE, sl),
            devport(IFCS_DEVPORT_ATTR_NUM_LANES, nl), devport(IFCS_DEVPORT_ATTR_SPEED, speed),
            devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, lt)};
}

// The log lines' message parts, in order.
std::vector<std::string> messages(const std::string &log) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(start, end - start);
        const std::size_t sep = line.find(": ");
        if (!line.empty()) out.push_back(sep == std::string::npos ? line : line.substr(sep + 2));
        start = end + 1;
    }
    return out;
}

using EventFn = int (*)(char *, ifcs_attr_t *, uint32_t *);
struct Event {
    EventFn fn;
    const char *entry;  // entry message without the name
};
const Event kEvents[] = {{pltfm_port_init, "In pltfm_port_init (intf_name="},
                         {pltfm_port_link_up, "In pltfm_link_up (intf_name="},
                         {pltfm_port_link_down, "In pltfm_link_down (intf_name="}};

}  // namespace

// Every refusal: null result, *attr_count untouched, the entry message first, one refusal
// message, and nothing asked of the transceiver layer or the database.
TEST(SerdesPort, PreInitRefusesOutsideTheDataModel) {
    struct Case {
        const char *name;
        std::vector<ifcs_attr_t> attrs;
        bool null_list;
        const char *message;
    };
    const std::string long_name = "Ethernet" + std::string(16, '1');  // 24 characters
    const std::vector<Case> cases = {
        {"Ethernet0", devport_attrs(1, 0, 8), true, "Invalid input value."},
        {"ethernet0", devport_attrs(1, 0, 8), false, "Interface name is not Ethernet."},
        {"Eth0", devport_attrs(1, 0, 8), false, "Interface name is not Ethernet."},
        {long_name.c_str(), devport_attrs(1, 0, 8), false, "Invalid interface name."},
        {"Ethernet0;reboot", devport_attrs(1, 0, 8), false, "Invalid interface name."},
        {"Ethernet 0", devport_attrs(1, 0, 8), false, "Invalid interface name."},
        {"Ethernet0", {}, false, "Unknown devport attribute. (sg:-1, sl:-1, nl:-1, lt:-1)"},
        {"Ethernet0",
         {devport(1, 1), devport(5, 0), devport(6, 8), devport(21, 1)},  // no speed
         false,
         "Unknown devport attribute. (sg:1, sl:0, nl:8, lt:1)"},
        {"Ethernet0", devport_attrs(0, 0, 8), false,
         "Invalid devport attribute. (sg:0, sl:0, nl:8, lt:0)"},
        {"Ethernet0", devport_attrs(34, 0, 1), false,
         "Invalid devport attribute. (sg:34, sl:0, nl:1, lt:0)"},
        {"Ethernet0", devport_attrs(1, 8, 1), false,
         "Invalid devport attribute. (sg:1, sl:8, nl:1, lt:0)"},
        {"Ethernet0", devport_attrs(1, -2, 1), false,
         "Invalid devport attribute. (sg:1, sl:-2, nl:1, lt:0)"},
        {"Ethernet0", devport_attrs(33, 2, 1), false,
         "Invalid devport attribute. (sg:33, sl:2, nl:1, lt:0)"},
        {"Ethernet0", devport_attrs(1, 0, 0), false,
         "Invalid devport attribute. (sg:1, sl:0, nl:0, lt:0)"},
        {"Ethernet0", devport_attrs(1, 0, 9), false,
         "Invalid devport attribute. (sg:1, sl:0, nl:9, lt:0)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        pltfm::test::LogCapture log;
        std::vector<ifcs_attr_t> attrs = c.attrs;
        const uint32_t given = static_cast<uint32_t>(attrs.size());
        attrs.push_back(devport(0, 0));  // a list is present even when its count is 0
        uint32_t count = given;
        std::string name = c.name;
        ifcs_attr_t *list =
            pltfm_port_pre_init(name.data(), c.null_list ? nullptr : attrs.data(), &count);
        EXPECT_EQ(list, nullptr);
        EXPECT_EQ(count, given);
        const auto m = messages(log.text());
        ASSERT_EQ(m.size(), 2u) << log.text();
        EXPECT_EQ(m[0], "In pltfm_port_pre_init (intf_name=" + name + ")");
        EXPECT_EQ(m[1], c.message);
    }
    // Missing name or count.
    pltfm::test::LogCapture log;
    auto attrs = devport_attrs(1, 0, 8);
    uint32_t count = 5;
    EXPECT_EQ(pltfm_port_pre_init(nullptr, attrs.data(), &count), nullptr);
    char name[] = "Ethernet0";
    EXPECT_EQ(pltfm_port_pre_init(name, attrs.data(), nullptr), nullptr);
    EXPECT_EQ(messages(log.text()),
              (std::vector<std::string>{
                  "In pltfm_port_pre_init (intf_name=(null))", "Invalid input value.",
                  "In pltfm_port_pre_init (intf_name=Ethernet0)", "Invalid input value."}));
}

TEST(SerdesPort, EventsRefuseOutsideTheDataModel) {
    struct Case {
        const char *name;
        std::vector<ifcs_attr_t> attrs;
        const char *message;
    };
    const std::vector<Case> cases = {
        {"Ethernet8", {}, "Unknown devport attribute. (sg:-1, sl:-1, nl:-1)"},
        {"Ethernet8",
         {devport(1, 2), devport(6, 4)},
         "Unknown devport attribute. (sg:2, sl:-1, nl:4)"},
        {"Port8", devport_attrs(2, 0, 8), "Interface name is not Ethernet."},
        {"Ethernet8$(x)", devport_attrs(2, 0, 8), "Invalid interface name."},
        {"Ethernet8", devport_attrs(2, 0, 0), "Invalid devport attribute. (sg:2, sl:0, nl:0)"},
        {"Ethernet8", devport_attrs(40, 0, 8), "Invalid devport attribute. (sg:40, sl:0, nl:8)"},
        {"Ethernet8", devport_attrs(33, 5, 1), "Invalid devport attribute. (sg:33, sl:5, nl:1)"},
    };
    for (const auto &ev : kEvents) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(ev.entry) + c.message);
            pltfm::test::LogCapture log;
            std::vector<ifcs_attr_t> attrs = c.attrs;
            const uint32_t given = static_cast<uint32_t>(attrs.size());
            attrs.push_back(devport(0, 0));
            uint32_t count = given;
            std::string name = c.name;
            EXPECT_EQ(ev.fn(name.data(), attrs.data(), &count), PLTFM_INVAL);
            EXPECT_EQ(count, given);
            const auto m = messages(log.text());
            ASSERT_EQ(m.size(), 2u) << log.text();
            EXPECT_EQ(m[0], std::string(ev.entry) + name + ")");
            EXPECT_EQ(m[1], c.message);
        }
        pltfm::test::LogCapture log;
        auto attrs = devport_attrs(2, 0, 8);
        uint32_t count = 5;
        char name[] = "Ethernet8";
        EXPECT_EQ(ev.fn(nullptr, attrs.data(), &count), PLTFM_INVAL);
        EXPECT_EQ(ev.fn(name, nullptr, &count), PLTFM_INVAL);
        EXPECT_EQ(ev.fn(name, attrs.data(), nullptr), PLTFM_INVAL);
        const auto m = messages(log.text());
        ASSERT_EQ(m.size(), 6u);
        EXPECT_EQ(m[0], std::string(ev.entry) + "(null))");
        for (int i : {1, 3, 5}) EXPECT_EQ(m[static_cast<std::size_t>(i)], "Invalid input value.");
    }
}

TEST(SerdesPort, PortDownReleasesTheLowestCachedListThenAsksTheTransceiverLayer) {
    auto cache_list = [](const char *name) {
        auto *list = static_cast<ifcs_attr_t *>(pltfm::mem::alloc_zeroed(3, sizeof(ifcs_attr_t)));
        auto *arr = static_cast<int8_t *>(pltfm::mem::alloc_zeroed(4, 1));
        list[0].id = IFCS_DEVPORT_ATTR_TX_EQ_PRE1;
        list[0].value.i8_list = {4, arr};
        list[0].bitmap = IFCS_ATTR_VALUE_FLAG_I8_LIST;
        auto *ab = static_cast<uint32_t *>(pltfm::mem::alloc_zeroed(1, 4));
        list[1].id = IFCS_DEVPORT_ATTR_AUTO_NEG_LD_BP_TECH_ABILITY;
        list[1].value.devport_an_bp_tech_ability_list = {1, ab};
        list[1].bitmap = IFCS_ATTR_VALUE_FLAG_DEVPORT_AN_BP_TECH_ABILITY_LIST;
        EXPECT_TRUE(pltfm::serdes::intf_db_cache(name, list, 3));
        return list;
    };
    cache_list("Ethernet8");
    ifcs_attr_t *second = cache_list("Ethernet8");

    pltfm::test::LogCapture log;
    char name[] = "Ethernet8";
    // No port was ever configured, so the transceiver layer does not know the name; its code
    // comes back unchanged, and the list is released all the same (LSan checks the arrays).
    const int rc = pltfm_port_down(name);
    EXPECT_EQ(rc, PLTFM_NOTFOUND);
    EXPECT_EQ(intf_db[0].intf_name[0], '\0');
    EXPECT_EQ(intf_db[1].attr_ptr, second);
    const auto m = messages(log.text());
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m.front(), "In pltfm_port_down (intf_name=Ethernet8)");
    EXPECT_EQ(m.back(), "pltfm_transceiver_configure failed rc=10");

    EXPECT_EQ(pltfm_port_down(name), PLTFM_NOTFOUND);
    EXPECT_EQ(intf_db[1].intf_name[0], '\0');
    EXPECT_EQ(pltfm_port_down(name), PLTFM_NOTFOUND);  // nothing left to release

    // Names outside the data model are refused before anything is released.
    cache_list("Ethernet8");
    pltfm::test::LogCapture refused;
    EXPECT_EQ(pltfm_port_down(nullptr), PLTFM_INVAL);
    std::string long_name = "Ethernet8" + std::string(20, '0');
    EXPECT_EQ(pltfm_port_down(long_name.data()), PLTFM_INVAL);
    EXPECT_EQ(messages(refused.text()),
              (std::vector<std::string>{
                  "In pltfm_port_down (intf_name=(null))", "Invalid input value.",
                  "In pltfm_port_down (intf_name=" + long_name + ")", "Invalid interface name."}));
    EXPECT_STREQ(intf_db[0].intf_name, "Ethernet8");
    EXPECT_TRUE(pltfm::serdes::intf_db_release("Ethernet8"));
}

TEST(SerdesPort, AnLtValidateIsAnEmptyHook) {
    pltfm_attr_t an{PLTFM_ATTR_AN, "1"};
    int an_count = 1;
    ifcs_attr_t rec{};
    uint32_t rec_count = 1;
    EXPECT_EQ(pltfm_an_lt_validate(&an, &an_count, &rec, &rec_count), PLTFM_SUCCESS);
    EXPECT_EQ(pltfm_an_lt_validate(nullptr, nullptr, nullptr, nullptr), PLTFM_SUCCESS);
    EXPECT_EQ(an_count, 1);
    EXPECT_EQ(rec_count, 1u);
    EXPECT_EQ(rec.bitmap, 0u);
    EXPECT_STREQ(an.value, "1");
}
