// Port entry points the chip SDK calls: pre-initialisation, which returns the SerDes tuning
// records of a new port, and the state events (init, link up, link down, down) that the
// transceiver layer turns into laser settings; plus the empty AN/LT validation hook.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "alloc.h"
#include "ifcs_devport.h"
#include "intf_name.h"
#include "log.h"
#include "platform_database.h"
#include "platform_hw.h"
#include "platform_hw_internal.h"
#include "platform_serdes.h"
#include "platform_serdes_internal.h"
#include "port_state.h"

namespace {

// Rows of tuning a port may have in the database: one lane row and its values per lane.
constexpr uint32_t kParamsCapacity = 280;

// The board: SerDes groups 1 to 33 (fp_port_id 0 to 32), eight lanes per group, and the
// last group serving the two extra cages on lanes 0 and 1.
constexpr int32_t kSerdesGroupMin = 1;
constexpr int32_t kSerdesGroupMax = 33;
constexpr int32_t kLanesPerGroup = 8;
constexpr int32_t kLastGroupLanes = 2;

constexpr int32_t kAbsent = -1;

// The device-port attributes the entry points read; kAbsent until given.
struct DevportAttrs {
    int32_t serdes_gp = kAbsent;
    int32_t start_lane = kAbsent;
    int32_t num_lanes = kAbsent;
    int32_t link_speed = kAbsent;
    int32_t link_train = kAbsent;
};

// A later record with the same id overrides an earlier one; other ids are ignored.
DevportAttrs read_devport_attrs(const ifcs_attr_t *list, uint32_t count) {
    DevportAttrs a;
    for (uint32_t i = 0; i < count; ++i) {
        const auto v = static_cast<int32_t>(list[i].value.u32);
        switch (list[i].id) {
            case IFCS_DEVPORT_ATTR_SERDES_GROUP:
                a.serdes_gp = v;
                break;
            case IFCS_DEVPORT_ATTR_START_LANE:
                a.start_lane = v;
                break;
            case IFCS_DEVPORT_ATTR_NUM_LANES:
                a.num_lanes = v;
                break;
            case IFCS_DEVPORT_ATTR_SPEED:
                a.link_speed = v;
                break;
            case IFCS_DEVPORT_ATTR_LINK_TRAINING:
                a.link_train = v;
                break;
            default:
                break;
        }
    }
    return a;
}

// True when the port lies on the board: a SerDes group, a start lane within it and a lane
// count of 1 to 8. Everything below (slots, lane masks, list sizes) relies on it.
bool on_board(const DevportAttrs &a) {
    if (a.serdes_gp < kSerdesGroupMin || a.serdes_gp > kSerdesGroupMax) return false;
    const int32_t lanes = a.serdes_gp == kSerdesGroupMax ? kLastGroupLanes : kLanesPerGroup;
    if (a.start_lane < 0 || a.start_lane >= lanes) return false;
    return a.num_lanes >= 1 && a.num_lanes <= kLanesPerGroup;
}

pltfm_port_t make_port(const char *intf_name, const DevportAttrs &a) {
    pltfm_port_t port{};
    std::strncpy(port.intf_name, intf_name, sizeof port.intf_name - 1);
    port.fp_port_id = a.serdes_gp - 1;
    port.fp_start_lane = port.cur_start_lane = a.start_lane;
    port.fp_num_lanes = port.cur_num_lanes = a.num_lanes;
    return port;
}

const char *shown(const char *text) {
    return text != nullptr ? text : "(null)";
}

// The name checks every attribute-carrying entry point makes, in this order. Logs as `func`.
bool name_accepted(const char *func, const char *intf_name) {
    if (std::strstr(intf_name, "Ethernet") == nullptr) {
        PLTFM_LOG_AS(func, "Interface name is not Ethernet.");
        return false;
    }
    if (!pltfm::is_safe_intf_name(intf_name)) {
        PLTFM_LOG_AS(func, "%s", pltfm::kInvalidIntfNameMessage.data());
        return false;
    }
    return true;
}

// Shared body of init, link up and link down.
int port_event(const char *func, char *intf_name, const ifcs_attr_t *attr_list_p,
               const uint32_t *attr_count, pltfm_port_state_t state) {
    if (attr_list_p == nullptr || attr_count == nullptr || intf_name == nullptr) {
        PLTFM_LOG_AS(func, "Invalid input value.");
        return PLTFM_INVAL;
    }
    if (!name_accepted(func, intf_name)) return PLTFM_INVAL;

    const DevportAttrs a = read_devport_attrs(attr_list_p, *attr_count);
    if (*attr_count == 0 || a.serdes_gp == kAbsent || a.start_lane == kAbsent ||
        a.num_lanes == kAbsent) {
        PLTFM_LOG_AS(func, "Unknown devport attribute. (sg:%d, sl:%d, nl:%d)", a.serdes_gp,
                     a.start_lane, a.num_lanes);
        return PLTFM_INVAL;
    }
    if (!on_board(a)) {
        PLTFM_LOG_AS(func, "Invalid devport attribute. (sg:%d, sl:%d, nl:%d)", a.serdes_gp,
                     a.start_lane, a.num_lanes);
        return PLTFM_INVAL;
    }
    PLTFM_LOG_AS(func, "Input devport attributes recvd: (sg:%d, sl:%d, nl:%d)", a.serdes_gp - 1,
                 a.start_lane, a.num_lanes);

    const pltfm_status_t rc = pltfm_transceiver_configure(make_port(intf_name, a), state);
    if (rc != PLTFM_SUCCESS)
        PLTFM_LOG_AS(func, "pltfm_transceiver_configure failed rc=%d", rc);
    else
        PLTFM_LOG_AS(func, "pltfm_transceiver_configure Success");
    return rc;
}

}  // namespace

ifcs_attr_t *pltfm_port_pre_init(char *intf_name, ifcs_attr_t *attr_list_p, uint32_t *attr_count) {
    PLTFM_LOG("In pltfm_port_pre_init (intf_name=%s)", shown(intf_name));
    if (attr_list_p == nullptr || attr_count == nullptr || intf_name == nullptr) {
        PLTFM_LOG("Invalid input value.");
        return nullptr;
    }
    if (!name_accepted(__func__, intf_name)) return nullptr;

    const uint32_t in_attr_cnt = *attr_count;
    const DevportAttrs a = read_devport_attrs(attr_list_p, in_attr_cnt);
    if (in_attr_cnt == 0 || a.serdes_gp == kAbsent || a.start_lane == kAbsent ||
        a.num_lanes == kAbsent || a.link_train == kAbsent || a.link_speed == kAbsent) {
        PLTFM_LOG("Unknown devport attribute. (sg:%d, sl:%d, nl:%d, lt:%d)", a.serdes_gp,
                  a.start_lane, a.num_lanes, a.link_train);
        return nullptr;
    }
    if (!on_board(a)) {
        PLTFM_LOG("Invalid devport attribute. (sg:%d, sl:%d, nl:%d, lt:%d)", a.serdes_gp,
                  a.start_lane, a.num_lanes, a.link_train);
        return nullptr;
    }
    PLTFM_LOG("Input devport attributes recvd: (sg:%d, sl:%d, nl:%d, lt:%d)", a.serdes_gp - 1,
              a.start_lane, a.num_lanes, a.link_train);

    const pltfm_port_t port = make_port(intf_name, a);
    pltfm_attr_t key_attr[PLTFM_KEY_ATTR_COUNT] = {
        {PLTFM_ATTR_VENDOR, ""},   {PLTFM_ATTR_CABLE_TYPE, ""}, {PLTFM_ATTR_SPEED, ""},
        {PLTFM_ATTR_ENCODING, ""}, {PLTFM_ATTR_FRONT_PORT, ""}, {PLTFM_ATTR_NUM_LANES, ""},
        {PLTFM_ATTR_LANE, ""},
    };

    // The port is on the board (checked above), so it has a slot.
    const uint32_t slot = *pltfm::hw::port_slot(port.fp_port_id, port.fp_start_lane);
    pltfm::hw::InfoSource source;
    pltfm_status_t rc = pltfm::hw::transceiver_info_traced(port, key_attr, PLTFM_KEY_ATTR_COUNT, 1, &source);
    if (rc != PLTFM_SUCCESS) {
        PLTFM_LOG("pltfm_transceiver_info_get failed rc=%d", rc);
        pltfm::port_state::hand_out_failed(slot);
        return nullptr;
    }
    PLTFM_LOG("pltfm_transceiver_info_get Success");

    rc = pltfm_transceiver_configure(port, PLTFM_PORT_PRE_INIT);
    if (rc != PLTFM_SUCCESS) {
        PLTFM_LOG("pltfm_transceiver_configure failed rc=%d", rc);
        pltfm::port_state::hand_out_failed(slot);
        return nullptr;
    }
    PLTFM_LOG("pltfm_transceiver_configure Success");

    pltfm_attr_t params_attr[kParamsCapacity];
    uint32_t params_attr_count = kParamsCapacity;
    rc = pltfm_parser_database_get(key_attr, PLTFM_KEY_ATTR_COUNT, params_attr, &params_attr_count);
    if (rc != PLTFM_SUCCESS) {
        PLTFM_LOG("pltfm_parser_database_get failed rc=%d", rc);
        pltfm::port_state::hand_out_failed(slot);
        return nullptr;
    }
    PLTFM_LOG("pltfm_parser_database_get Success");

    // The usual size has room for one record per key of the first lane when every lane
    // carries the same keys; it grows where it would not hold every record the rows give
    // (fewer lanes in the tuning file than the port has).
    const uint32_t lanes = static_cast<uint32_t>(a.num_lanes);
    const uint32_t needed = pltfm::serdes::translated_record_count(port, params_attr,
                                                                   static_cast<int>(params_attr_count));
    uint32_t ifcs_attr_count = std::max(lanes + params_attr_count / lanes, needed);
    auto *ifcs_attr_list =
        static_cast<ifcs_attr_t *>(pltfm::mem::alloc_zeroed(ifcs_attr_count, sizeof(ifcs_attr_t)));
    if (ifcs_attr_list == nullptr) {
        PLTFM_LOG("Allocate memory for pltfm_attr_list fail.");
        pltfm::port_state::hand_out_failed(slot);
        return nullptr;
    }
    const uint32_t capacity = ifcs_attr_count;

    rc = pltfm_serdes_parameters_translate(port, params_attr, static_cast<int>(params_attr_count),
                                           ifcs_attr_list, &ifcs_attr_count);
    if (rc != PLTFM_SUCCESS) {
        PLTFM_LOG("pltfm_serdes_parameters_translate failed rc=%d", rc);
        // Not cached and not handed out: nothing else can reach it.
        pltfm::serdes::release_attr_list(ifcs_attr_list, capacity);
        pltfm::port_state::hand_out_failed(slot);
        return nullptr;
    }
    PLTFM_LOG("pltfm_serdes_parameters_translate Success");
    pltfm::port_state::Handout handout;
    handout.port = port;
    std::memcpy(handout.keys, key_attr, sizeof key_attr);
    handout.source = source;
    handout.records = ifcs_attr_count;
    handout.digest = pltfm::serdes::records_digest(ifcs_attr_list, ifcs_attr_count);
    pltfm::port_state::handed_out(slot, handout);
    *attr_count = ifcs_attr_count;
    return ifcs_attr_list;
}

int pltfm_port_init(char *intf_name, ifcs_attr_t *attr_list_p, uint32_t *attr_count) {
    PLTFM_LOG("In pltfm_port_init (intf_name=%s)", shown(intf_name));
    return port_event(__func__, intf_name, attr_list_p, attr_count, PLTFM_PORT_INIT);
}

int pltfm_port_link_up(char *intf_name, ifcs_attr_t *attr_list_p, uint32_t *attr_count) {
    PLTFM_LOG("In pltfm_link_up (intf_name=%s)", shown(intf_name));
    return port_event(__func__, intf_name, attr_list_p, attr_count, PLTFM_PORT_LINK_UP);
}

int pltfm_port_link_down(char *intf_name, ifcs_attr_t *attr_list_p, uint32_t *attr_count) {
    PLTFM_LOG("In pltfm_link_down (intf_name=%s)", shown(intf_name));
    return port_event(__func__, intf_name, attr_list_p, attr_count, PLTFM_PORT_LINK_DOWN);
}

int pltfm_port_down(char *intf_name) {
    PLTFM_LOG("In pltfm_port_down (intf_name=%s)", shown(intf_name));
    if (intf_name == nullptr) {
        PLTFM_LOG("Invalid input value.");
        return PLTFM_INVAL;
    }
    if (!pltfm::is_safe_intf_name(intf_name)) {
        PLTFM_LOG("%s", pltfm::kInvalidIntfNameMessage.data());
        return PLTFM_INVAL;
    }

    // The SDK must not use the list any more once the port is down.
    pltfm::serdes::intf_db_release(intf_name);

    pltfm_port_t port{};
    std::strncpy(port.intf_name, intf_name, sizeof port.intf_name - 1);
    const pltfm_status_t rc = pltfm_transceiver_configure(port, PLTFM_PORT_DOWN);
    if (rc != PLTFM_SUCCESS)
        PLTFM_LOG("pltfm_transceiver_configure failed rc=%d", rc);
    else
        PLTFM_LOG("pltfm_transceiver_configure Success");
    return rc;
}

int pltfm_an_lt_validate(pltfm_attr_t * /*an_lt_attr_list*/, int * /*an_lt_attr_count*/,
                         ifcs_attr_t * /*ifcs_attr_list*/, uint32_t * /*ifcs_attr_count*/) {
    return PLTFM_SUCCESS;
}
