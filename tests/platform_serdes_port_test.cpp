// Port entry points refusing what lies outside the data model before doing any work (entry
// message first, then the one refusal), and port-down releasing the cached list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alloc.h"
#include "ifcs_devport.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "serdes_records.h"
#include "test_util.h"

namespace {

using pltfm::test::devport;

// Serdes group, start lane, lane count, speed and link training as the SDK passes them.
std::vector<ifcs_attr_t> attrs(int32_t sg, int32_t sl, int32_t nl) {
    return {devport(IFCS_DEVPORT_ATTR_SERDES_GROUP, sg), devport(IFCS_DEVPORT_ATTR_START_LANE, sl),
            devport(IFCS_DEVPORT_ATTR_NUM_LANES, nl), devport(IFCS_DEVPORT_ATTR_SPEED, 400000),
            devport(IFCS_DEVPORT_ATTR_LINK_TRAINING, 0)};
}

// The message parts of the log lines, in order.
std::vector<std::string> messages(const std::string &log) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = log.substr(start, end - start);
        const std::size_t sep = line.find(": ");
        out.push_back(sep == std::string::npos ? line : line.substr(sep + 2));
    }
    return out;
}

struct Case {
    std::string name;  // "(null)" for a null name
    std::vector<ifcs_attr_t> attrs;
    const char *message;
    enum { none, null_list, null_count } null_arg = none;
};

// Calls `fn` as the SDK would and checks the refusal: `refused` result, *attr_count
// untouched, and exactly the entry message and the refusal message.
template <class Fn>
void expect_refusal(Fn fn, const Case &c, const std::string &entry) {
    SCOPED_TRACE(c.name + ": " + c.message);
    pltfm::test::LogCapture log;
    auto list = c.attrs;
    const auto given = static_cast<uint32_t>(list.size());
    list.push_back(devport(0, 0));  // a list is present even when its count is 0
    uint32_t count = given;
    std::string name = c.name;
    EXPECT_TRUE(fn(c.name == "(null)" ? nullptr : name.data(),
                   c.null_arg == Case::null_list ? nullptr : list.data(),
                   c.null_arg == Case::null_count ? nullptr : &count));
    EXPECT_EQ(count, given);
    EXPECT_EQ(messages(log.text()),
              (std::vector<std::string>{entry + "(intf_name=" + name + ")", c.message}));
}

}  // namespace

TEST(SerdesPort, PreInitRefusesOutsideTheDataModel) {
    auto pre_init = [](char *n, ifcs_attr_t *l, uint32_t *c) {
        return pltfm_port_pre_init(n, l, c) == nullptr;
    };
    const std::string entry = "In pltfm_port_pre_init ";
    const Case cases[] = {
        {"Ethernet0", attrs(1, 0, 8), "Invalid input value.", Case::null_list},
        {"Ethernet0", attrs(1, 0, 8), "Invalid input value.", Case::null_count},
        {"(null)", attrs(1, 0, 8), "Invalid input value."},
        {"ethernet0", attrs(1, 0, 8), "Interface name is not Ethernet."},
        {"Ethernet" + std::string(16, '1'), attrs(1, 0, 8), "Invalid interface name."},
        {"Ethernet0", {}, "Unknown devport attribute. (sg:-1, sl:-1, nl:-1, lt:-1)"},
        {"Ethernet0",
         {devport(1, 1), devport(5, 0), devport(6, 8), devport(21, 1)},  // no speed
         "Unknown devport attribute. (sg:1, sl:0, nl:8, lt:1)"},
        {"Ethernet0", attrs(0, 0, 8), "Invalid devport attribute. (sg:0, sl:0, nl:8, lt:0)"},
        {"Ethernet0", attrs(34, 0, 1), "Invalid devport attribute. (sg:34, sl:0, nl:1, lt:0)"},
        {"Ethernet0", attrs(1, 8, 1), "Invalid devport attribute. (sg:1, sl:8, nl:1, lt:0)"},
        {"Ethernet0", attrs(33, 2, 1), "Invalid devport attribute. (sg:33, sl:2, nl:1, lt:0)"},
        {"Ethernet0", attrs(1, 0, 9), "Invalid devport attribute. (sg:1, sl:0, nl:9, lt:0)"},
    };
    for (const auto &c : cases) expect_refusal(pre_init, c, entry);
}

TEST(SerdesPort, EventsRefuseOutsideTheDataModel) {
    using EventFn = int (*)(char *, ifcs_attr_t *, uint32_t *);
    const std::pair<EventFn, std::string> events[] = {
        {pltfm_port_init, "In pltfm_port_init "},
        {pltfm_port_link_up, "In pltfm_link_up "},
        {pltfm_port_link_down, "In pltfm_link_down "}};
    const Case cases[] = {
        {"Ethernet8", attrs(2, 0, 8), "Invalid input value.", Case::null_list},
        {"Ethernet8", attrs(2, 0, 8), "Invalid input value.", Case::null_count},
        {"(null)", attrs(2, 0, 8), "Invalid input value."},
        {"Ethernet8",
         {devport(1, 2), devport(6, 4)},
         "Unknown devport attribute. (sg:2, sl:-1, nl:4)"},
        {"Port8", attrs(2, 0, 8), "Interface name is not Ethernet."},
        {"Ethernet8", attrs(40, 0, 8), "Invalid devport attribute. (sg:40, sl:0, nl:8)"},
        {"Ethernet8", attrs(33, 5, 1), "Invalid devport attribute. (sg:33, sl:5, nl:1)"},
    };
    for (const auto &[fn, entry] : events) {
        auto refused = [fn](char *n, ifcs_attr_t *l, uint32_t *c) {
            return fn(n, l, c) == PLTFM_INVAL;
        };
        for (const auto &c : cases) expect_refusal(refused, c, entry);
    }
}

TEST(SerdesPort, PortDownReleasesTheLowestCachedListThenAsksTheTransceiverLayer) {
    auto cache_list = [](const char *name) {
        auto *list = static_cast<ifcs_attr_t *>(pltfm::mem::alloc_zeroed(2, sizeof(ifcs_attr_t)));
        list[0].value.i8_list = {4, static_cast<int8_t *>(pltfm::mem::alloc_zeroed(4, 1))};
        list[0].bitmap = IFCS_ATTR_VALUE_FLAG_I8_LIST;
        EXPECT_TRUE(pltfm::serdes::intf_db_cache(name, list, 2));
        return list;
    };
    cache_list("Ethernet8");
    ifcs_attr_t *second = cache_list("Ethernet8");

    pltfm::test::LogCapture log;
    char name[] = "Ethernet8";
    // No port was ever configured, so the transceiver layer does not know the name; its code
    // comes back unchanged, and the list is released all the same (LSan checks the arrays).
    EXPECT_EQ(pltfm_port_down(name), PLTFM_NOTFOUND);
    EXPECT_EQ(intf_db[0].intf_name[0], '\0');
    EXPECT_EQ(intf_db[1].attr_ptr, second);
    EXPECT_EQ(messages(log.text()).front(), "In pltfm_port_down (intf_name=Ethernet8)");
    EXPECT_EQ(messages(log.text()).back(), "pltfm_transceiver_configure failed rc=10");
    // Names outside the data model are refused before anything is released.
    pltfm::test::LogCapture refused;
    EXPECT_EQ(pltfm_port_down(nullptr), PLTFM_INVAL);
    std::string long_name = "Ethernet8" + std::string(20, '0');
    EXPECT_EQ(pltfm_port_down(long_name.data()), PLTFM_INVAL);
    EXPECT_EQ(messages(refused.text()),
              (std::vector<std::string>{
                  "In pltfm_port_down (intf_name=(null))", "Invalid input value.",
                  "In pltfm_port_down (intf_name=" + long_name + ")", "Invalid interface name."}));
    EXPECT_EQ(intf_db[1].attr_ptr, second);
    EXPECT_TRUE(pltfm::serdes::intf_db_release("Ethernet8"));
}
