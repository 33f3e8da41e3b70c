// Port events: the per-slot state bits, and the transmit lasers of the port's lanes on an
// optical module (SFF-8636 TX disable register; CMIS change computed from the media lane
// assignment and reported as skipped).
#include <cstring>
#include <optional>

#include "intf_name.h"
#include "log.h"
#include "platform_hw_internal.h"
#include "port_state.h"
#include "transceiver_decode.h"

namespace {

using pltfm::decode::MaskFailure;

constexpr uint32_t bit(pltfm_port_state_t s) {
    return 1u << static_cast<unsigned>(s);
}

// Lane bits start_lane .. start_lane + num_lanes - 1 that fall inside an 8-bit register.
uint8_t lane_bits(int32_t start_lane, int32_t num_lanes) {
    unsigned bits = 0;
    for (int64_t b = start_lane; b < static_cast<int64_t>(start_lane) + num_lanes; ++b)
        if (b >= 0 && b < 8) bits |= 1u << b;
    return static_cast<uint8_t>(bits);
}

// What the laser routine works from, copied under `mutex`.
struct LaserView {
    pltfm_port_t port;
    char cable_type[PLTFM_ATTR_VALUE_LEN];
    char speed[PLTFM_ATTR_VALUE_LEN];
};

LaserView copy_view(uint32_t slot) {
    LaserView v{};
    pthread_mutex_lock(&mutex);
    v.port = port_ar[slot];
    std::memcpy(v.cable_type, port_attr_list[slot][1].value, sizeof v.cable_type);
    std::memcpy(v.speed, port_attr_list[slot][2].value, sizeof v.speed);
    pthread_mutex_unlock(&mutex);
    v.cable_type[sizeof v.cable_type - 1] = '\0';
    v.speed[sizeof v.speed - 1] = '\0';
    return v;
}

// Media lane mask of the port described by `port` (slot phy_port); the caller holds the
// cage's i2c_mutex entry.
uint8_t media_lane_mask(uint32_t phy_port, const pltfm_port_t &port,
                        pltfm::hw::ModuleRegisters &registers) {
    static constexpr const char *kFunc = "pltfm_transceiver_get_media_lane_mask";
    const int p = static_cast<int>(phy_port) - 1;
    auto reader = [&port, &registers](uint8_t page, uint8_t reg) {
        return registers.read(port, page, reg);
    };
    const auto m = pltfm::decode::media_lanes(pltfm::decode::ByteReader(reader), port.fp_start_lane,
                                              port.fp_num_lanes);

    if (m.failure == MaskFailure::default_lane_count) {
        PLTFM_LOG_AS(kFunc, "Get media lane count Failed For Port %d!!", p);
        return 0;
    }
    PLTFM_LOG_AS(kFunc, "Port %d default lane count 0x%02x", p, m.default_lane_count);
    for (int i = 0; i < 8; ++i) {
        const auto l = static_cast<std::size_t>(i);
        if (m.failure == MaskFailure::appsel_lane && m.failed_lane == i) {
            PLTFM_LOG_AS(kFunc, "Get appsel lane %d Failed For Port %d!!", i, p);
            return 0;
        }
        if (i >= m.lanes_done && m.failure != MaskFailure::lane_count) break;
        PLTFM_LOG_AS(kFunc, "appsel lane %d = 0x%02x For Port %d", i, m.staged_byte[l], p);
        if (m.failure == MaskFailure::lane_count && m.failed_lane == i) {
            PLTFM_LOG_AS(kFunc, "Get lane count %d Failed For Port %d!!", m.failed_code, p);
            return 0;
        }
        const int code = m.appsel_lane[l].AppSelCode;
        if (m.lane_count_read[l])
            PLTFM_LOG_AS(kFunc, "lane count app %d = 0x%02x For Port %d", code,
                         m.lane_count_byte[l], p);
        const auto &dp = m.data_path[l];
        PLTFM_LOG_AS(kFunc, "lane %d host start=%d count=%d media start=%d count=%d For Port %d", i,
                     dp.HostLaneStart, dp.HostLaneCount, dp.MediaLaneStart, dp.MediaLaneCount, p);
    }
    if (m.failure == MaskFailure::start_lane_not_found) {
        PLTFM_LOG_AS(kFunc, "Find host start lane %d Failed For Port %d!!", port.fp_start_lane, p);
        return 0;
    }
    const auto &found = m.data_path[static_cast<std::size_t>(m.found)];
    if (m.failure == MaskFailure::lane_count_mismatch) {
        PLTFM_LOG_AS(
            kFunc,
            "start_lane %d is found but lane count is different mac=%d host=%d For Port %d!!",
            port.fp_start_lane, port.fp_num_lanes, found.HostLaneCount, p);
        return 0;
    }
    PLTFM_LOG_AS(kFunc, "start_lane %d count %d is found with media start=%d count=%d For Port %d",
                 port.fp_start_lane, port.fp_num_lanes, found.MediaLaneStart, found.MediaLaneCount,
                 p);
    if (m.failure == MaskFailure::no_media_lanes) {
        PLTFM_LOG_AS(kFunc, "Find host start lane %d Failed For Port %d!!", port.fp_start_lane, p);
        return 0;
    }
    PLTFM_LOG_AS(kFunc, "media_lane_mask=0x%02x For Port %d", m.mask, p);
    return m.mask;
}

// Exclusion of a cage's module registers, held for the whole read-modify-write.
class CageLock {
  public:
    explicit CageLock(uint32_t slot) : m_(&i2c_mutex[pltfm::hw::cage_lock_slot(slot)]) {
        pthread_mutex_lock(m_);
    }
    ~CageLock() { pthread_mutex_unlock(m_); }
    CageLock(const CageLock &) = delete;
    CageLock &operator=(const CageLock &) = delete;

  private:
    pthread_mutex_t *m_;
};

}  // namespace

namespace pltfm::hw {

std::optional<uint8_t> EepromRegisters::read(const pltfm_port_t &port, uint8_t page, uint8_t reg) {
    uint8_t value = 0;
    if (pltfm_eeprom_get_from_i2c(port, page, reg, &value, 1) != PLTFM_SUCCESS) return std::nullopt;
    return value;
}

}  // namespace pltfm::hw

uint8_t pltfm_transceiver_get_media_lane_mask(uint32_t phy_port) {
    if (phy_port < 1 || phy_port > PLTFM_PORT_SLOT_MAX) return 0;
    const LaserView v = copy_view(phy_port);
    CageLock lock(phy_port);
    pltfm::hw::EepromRegisters eeprom;
    return media_lane_mask(phy_port, v.port, eeprom);
}

namespace {

// The laser routine for a slot whose view was copied; says what it did with the module.
pltfm_status_t set_lasers(uint32_t phy_port, const LaserView &v, pltfm_port_state_t state,
                          pltfm::hw::ModuleRegisters &registers, pltfm::hw::Lasers &did) {
    using pltfm::hw::Lasers;
    const int p = static_cast<int>(phy_port) - 1;
    if (std::strcmp(v.cable_type, "OPTICS") != 0) {
        did = Lasers::not_an_optic;
        return PLTFM_SUCCESS;
    }
    const bool cmis = std::strcmp(v.speed, "50G/400G") == 0;
    const bool sff8636 = std::strcmp(v.speed, "25G/100G") == 0;
    if (!cmis && !sff8636) {
        did = Lasers::not_managed;
        return PLTFM_SUCCESS;
    }

    PLTFM_LOG_AS("pltfm_transceiver_configure_helper", cmis ? "QSFP-DD Optics" : "QSFP28 Optics");
    const uint8_t page = cmis ? pltfm::decode::cmis::kPageDataPath : 0;
    const uint8_t reg = cmis ? pltfm::decode::cmis::kTxDisable : pltfm::decode::sff8636::kTxDisable;
    const std::optional<uint8_t> read = registers.read(v.port, page, reg);
    if (!read) {
        PLTFM_LOG_AS("pltfm_transceiver_configure_helper",
                     "Get TX Laser Value Failed For Port %d!!", p);
        did = Lasers::unreadable;
        return PLTFM_NOTFOUND;
    }
    const uint8_t tx_laser = *read;
    if (state != PLTFM_PORT_PRE_INIT && state != PLTFM_PORT_DOWN) return PLTFM_SUCCESS;

    const bool enable = state == PLTFM_PORT_PRE_INIT;
    did = cmis ? Lasers::not_written : enable ? Lasers::enabled : Lasers::disabled;
    const uint8_t bits = cmis ? media_lane_mask(phy_port, v.port, registers)
                              : lane_bits(v.port.fp_start_lane, v.port.fp_num_lanes);
    const uint8_t tx_laser_set =
        enable ? static_cast<uint8_t>(tx_laser & ~bits) : static_cast<uint8_t>(tx_laser | bits);
    if (tx_laser_set == tx_laser) return PLTFM_SUCCESS;

    if (cmis) {
        // The register is left alone on CMIS modules; the change is only reported.
        if (enable)
            PLTFM_LOG_AS(
                "pltfm_transceiver_configure_helper",
                "Skip: Set TX Laser Enable From 0x%02X To 0x%02X For Port %d With %d Lanes",
                tx_laser, tx_laser_set, p, v.port.fp_num_lanes);
        else
            PLTFM_LOG_AS(
                "pltfm_transceiver_configure_helper",
                "Skip: Set TX Laser Disable From 0x%02X To 0x%02X For Port %d  With %d Lanes",
                tx_laser, tx_laser_set, p, v.port.fp_num_lanes);
        return PLTFM_SUCCESS;
    }
    if (enable)
        PLTFM_LOG_AS("pltfm_transceiver_configure_helper",
                     "Set TX Laser Enable From 0x%02X To 0x%02X For Port %d With %d Lanes",
                     tx_laser, tx_laser_set, p, v.port.fp_num_lanes);
    else
        PLTFM_LOG_AS("pltfm_transceiver_configure_helper",
                     "Set TX Laser Disable From 0x%02X To 0x%02X For Port %d  With %d Lanes",
                     tx_laser, tx_laser_set, p, v.port.fp_num_lanes);
    // A failed write is logged by the EEPROM layer; the port event goes on.
    (void)pltfm_eeprom_set_to_i2c(v.port, page, reg, tx_laser_set);
    return PLTFM_SUCCESS;
}

}  // namespace

pltfm_status_t pltfm_transceiver_configure_helper(uint32_t phy_port, pltfm_port_state_t state) {
    pltfm::hw::EepromRegisters eeprom;
    return pltfm::hw::configure_lasers(phy_port, state, eeprom);
}

pltfm_status_t pltfm::hw::configure_lasers(uint32_t phy_port, pltfm_port_state_t state,
                                           ModuleRegisters &registers) {
    if (phy_port < 1 || phy_port > PLTFM_PORT_SLOT_MAX) return PLTFM_INVAL;
    const LaserView v = copy_view(phy_port);
    pltfm::hw::Lasers did = pltfm::hw::Lasers::unknown;
    pltfm_status_t rc = PLTFM_SUCCESS;
    {
        // Breakout ports of one module share its TX disable register: lock the whole cage.
        CageLock lock(phy_port);
        rc = set_lasers(phy_port, v, state, registers, did);
    }
    if (did != pltfm::hw::Lasers::unknown) {
        pthread_mutex_lock(&mutex);
        pltfm::hw::lasers_ar[phy_port] = did;
        pthread_mutex_unlock(&mutex);
    }
    return rc;
}

pltfm_status_t pltfm_transceiver_configure(pltfm_port_t port, pltfm_port_state_t state) {
    using namespace pltfm::hw;
    const IntfName name = intf_name_of(port);
    if (static_cast<int>(state) < PLTFM_PORT_PRE_INIT ||
        static_cast<int>(state) > PLTFM_PORT_INSERTED) {
        PLTFM_LOG("Invalid port state %d", static_cast<int>(state));
        return PLTFM_INVAL;
    }
    uint32_t slot = 0;
    if (state == PLTFM_PORT_DOWN) {
        pthread_mutex_lock(&mutex);
        for (uint32_t s = 1; s <= PLTFM_PORT_SLOT_MAX; ++s) {
            if (name.text[0] != '\0' &&
                std::strncmp(port_ar[s].intf_name, name.c_str(), PLTFM_INTF_NAME_LEN) == 0) {
                slot = s;
                break;
            }
        }
        if (slot == 0) {
            pthread_mutex_unlock(&mutex);
            PLTFM_LOG("Invalid Port %s", name.c_str());
            return PLTFM_NOTFOUND;
        }
        if (port_state_ar[slot] & bit(PLTFM_PORT_PRE_INIT)) {
            pthread_mutex_unlock(&mutex);
            (void)pltfm_transceiver_configure_helper(slot, PLTFM_PORT_DOWN);
            pthread_mutex_lock(&mutex);
            port_state_ar[slot] &= ~(bit(PLTFM_PORT_PRE_INIT) | bit(PLTFM_PORT_INIT));
        }
        // Only a port the library took down for a module exchange is brought back up, so the
        // OS re-creates it with the new module; any other port-down leaves the operator's
        // administrative status alone.
        if (admin_cycle[slot] != AdminCycle::none) {
            const IntfName stored = intf_name_of(port_ar[slot]);
            if (stored.safe())
                close_admin_cycle(slot, stored.c_str());
            else
                admin_cycle[slot] = AdminCycle::none;
        }
    } else {
        const auto s = port_slot(port.fp_port_id, port.fp_start_lane);
        if (!s || port.fp_num_lanes < 1) {
            PLTFM_LOG(kInvalidPortMessage, name.c_str(), port.fp_port_id, port.fp_start_lane,
                      port.fp_num_lanes);
            return PLTFM_INVAL;
        }
        // The stored name is later formatted into Redis commands by the monitor and toggle.
        if (!name.safe()) {
            PLTFM_LOG("%s", pltfm::kInvalidIntfNameMessage.data());
            return PLTFM_INVAL;
        }
        slot = *s;
        pthread_mutex_lock(&mutex);
        port_ar[slot] = port;
        std::memcpy(port_ar[slot].intf_name, name.text, sizeof name.text);
        switch (state) {
            case PLTFM_PORT_PRE_INIT:
                // The port is being created: an exchange cycle still open has nothing to undo.
                admin_cycle[slot] = AdminCycle::none;
                pthread_mutex_unlock(&mutex);
                (void)pltfm_transceiver_configure_helper(slot, PLTFM_PORT_PRE_INIT);
                pthread_mutex_lock(&mutex);
                port_state_ar[slot] &= ~(bit(PLTFM_PORT_DOWN) | bit(PLTFM_PORT_LINK_UP));
                break;
            case PLTFM_PORT_INIT:
                port_state_ar[slot] &= ~(bit(PLTFM_PORT_DOWN) | bit(PLTFM_PORT_LINK_UP));
                break;
            case PLTFM_PORT_LINK_UP:
                port_state_ar[slot] &= ~bit(PLTFM_PORT_LINK_DOWN);
                break;
            case PLTFM_PORT_LINK_DOWN:
                port_state_ar[slot] &= ~bit(PLTFM_PORT_LINK_UP);
                break;
            default:
                break;
        }
    }
    port_state_ar[slot] |= bit(state);
    const uint32_t bits = port_state_ar[slot];
    pthread_mutex_unlock(&mutex);
    PLTFM_LOG("Port %d set port config state is %d port_state_ar:%d.", static_cast<int>(slot) - 1,
              static_cast<int>(state), static_cast<int>(bits));
    // Pre-initialisation publishes the port once it knows what it handed out.
    if (state != PLTFM_PORT_PRE_INIT) pltfm::port_state::changed(slot);
    return PLTFM_SUCCESS;
}
