// The laser routine when the module cannot be read as it should: pulled before each of its
// register reads in turn, and EEPROM files that are missing, empty or cut short (pages the
// file does not reach read as zero). The routine's result and its last message are checked:
// it stops at the first failure and reports no change it could not compute. Runs in both
// Redis modes, which decide the key attributes the routine works from.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "hw_test_util.h"
#include "platform_hw_internal.h"
#include "test_util.h"

using namespace pltfm::test;

namespace {

// The last log line, without its source prefix ("file:line "), so "function: message".
std::string last_line(const std::string &log) {
    if (log.empty()) return "";
    const std::size_t end = log.size() - (log.back() == '\n' ? 1 : 0);
    const std::size_t start = log.rfind('\n', end - 1);
    std::string line = log.substr(start == std::string::npos ? 0 : start + 1, end - (start + 1));
    const std::size_t blank = line.find(' ');
    return blank == std::string::npos ? line : line.substr(blank + 1);
}

// Reads the module's EEPROM file as the library does, but pulls the module (removes the
// file) just before read number `pull_at` (0: never), as when it is pulled while the routine
// runs.
class PulledBeforeRead final : public pltfm::hw::ModuleRegisters {
  public:
    PulledBeforeRead(FakePlatform &fake, int cage, int pull_at)
        : fake_(fake), cage_(cage), pull_at_(pull_at) {}
    std::optional<uint8_t> read(const pltfm_port_t &port, uint8_t page, uint8_t reg) override {
        if (++reads_ == pull_at_) fake_.empty_cage(cage_);
        return eeprom_.read(port, page, reg);
    }
    int reads() const { return reads_; }

  private:
    FakePlatform &fake_;
    int cage_, pull_at_, reads_ = 0;
    pltfm::hw::EepromRegisters eeprom_;
};

// Host lanes 0 to 3 on application 1 (4 host and 4 media lanes), lanes 4 to 7 on
// application 9, whose lane counts stand on page 1: the port on lanes 4 to 7 has media lanes
// 4 to 7.
EepromImage two_applications(uint8_t tx_disable) {
    return qsfp_dd_optic()
        .cmis_app(1, 0x11, 0x1A, 4, 4)
        .cmis_data_path(1, 0, 4)
        .cmis_app(9, 0x11, 0x1A, 4, 4)
        .cmis_data_path(9, 4, 4)
        .cmis_tx_disable(tx_disable);
}

TEST(LaserRoutine, ModulePulledBeforeEachReadInTurn) {
    HwEnv env;
    constexpr uint32_t kSlot = 5;  // front panel 1, start lane 4: "Port 4"
    port_ar[kSlot] = make_port("Ethernet4", 30, 4, 4);
    store_attrs(kSlot, "OPTICS", "50G/400G", "PAM4");
    const std::string mask = "pltfm_transceiver_get_media_lane_mask: ";
    const std::string helper = "pltfm_transceiver_configure_helper: ";
    // The register reads in order, and what the routine says when each one fails.
    const struct {
        const char *read;
        std::string message;
    } reads[] = {
        {"TX disable register", helper + "Get TX Laser Value Failed For Port 4!!"},
        {"lane counts of application 1", mask + "Get media lane count Failed For Port 4!!"},
        {"host lane 0", mask + "Get appsel lane 0 Failed For Port 4!!"},
        {"application 1 of lane 0", mask + "Get lane count 1 Failed For Port 4!!"},
        {"host lane 1", mask + "Get appsel lane 1 Failed For Port 4!!"},
        {"host lane 2", mask + "Get appsel lane 2 Failed For Port 4!!"},
        {"host lane 3", mask + "Get appsel lane 3 Failed For Port 4!!"},
        {"host lane 4", mask + "Get appsel lane 4 Failed For Port 4!!"},
        {"application 9 of lane 4", mask + "Get lane count 9 Failed For Port 4!!"},
        {"host lane 5", mask + "Get appsel lane 5 Failed For Port 4!!"},
        {"host lane 6", mask + "Get appsel lane 6 Failed For Port 4!!"},
        {"host lane 7", mask + "Get appsel lane 7 Failed For Port 4!!"},
    };
    const int count = static_cast<int>(std::size(reads));
    const std::string path = env.fake.eeprom_path(1);
    // Enabling lasers that are off, disabling lasers that are on: the change the routine
    // reports when every read succeeds.
    const struct {
        pltfm_port_state_t state;
        uint8_t tx_disable;
        const char *change;
    } actions[] = {
        {PLTFM_PORT_PRE_INIT, 0xF0,
         "Skip: Set TX Laser Enable From 0xF0 To 0x00 For Port 4 With 4 Lanes"},
        {PLTFM_PORT_DOWN, 0x00,
         "Skip: Set TX Laser Disable From 0x00 To 0xF0 For Port 4  With 4 Lanes"},
    };
    for (const auto &a : actions) {
        SCOPED_TRACE(a.state);
        for (int pull_at = 0; pull_at <= count; ++pull_at) {
            env.fake.cage(1, two_applications(a.tx_disable));
            PulledBeforeRead registers(env.fake, 1, pull_at);
            LogCapture log;
            const pltfm_status_t rc = pltfm::hw::configure_lasers(kSlot, a.state, registers);
            if (pull_at == 0) {  // all present
                EXPECT_EQ(rc, PLTFM_SUCCESS);
                EXPECT_EQ(registers.reads(), count);
                // Application 1's lane counts as the module gives them, then the mask.
                EXPECT_TRUE(log.contains(mask + "Port 4 default lane count 0x44\n")) << log.text();
                EXPECT_TRUE(log.contains(mask + "media_lane_mask=0xf0 For Port 4\n")) << log.text();
                EXPECT_EQ(last_line(log.text()), helper + a.change) << log.text();
                continue;
            }
            const auto &r = reads[pull_at - 1];
            SCOPED_TRACE(r.read);
            EXPECT_EQ(rc, pull_at == 1 ? PLTFM_NOTFOUND : PLTFM_SUCCESS);
            EXPECT_EQ(registers.reads(), pull_at) << "reads go on after a failed one";
            EXPECT_TRUE(
                log.contains("pltfm_eeprom_get_from_i2c: Open EEPROM file fail. (" + path + ")\n"));
            // The failure is the routine's last word: no mask, no change reported.
            EXPECT_EQ(last_line(log.text()), r.message) << log.text();
        }
    }
}

// Through the transceiver layer as port pre-initialisation and port-down drive it, with the
// key attributes from Redis and EEPROM files the module only partly fills.
TEST(LaserRoutine, MissingEmptyAndShortEepromFiles) {
    HwEnv env;
    ASSERT_TRUE(env.redis.ok()) << env.redis.error();
    const std::string helper = "pltfm_transceiver_configure_helper: ";
    const std::string mask = "pltfm_transceiver_get_media_lane_mask: ";
    // Page 16 ends after the staged configuration of host lanes 0 to 3.
    const std::size_t lanes_0_to_3 = 16 * 128 + 145 + 4;
    const struct {
        const char *what;
        std::optional<EepromImage> image;  // none: no EEPROM file
        int start, lanes;
        const std::string last;       // last line of pre-initialisation's routine
        const std::string last_down;  // and of port-down's
    } cases[] = {
        {"no file", std::nullopt, 0, 8, helper + "Get TX Laser Value Failed For Port 0!!",
         helper + "Get TX Laser Value Failed For Port 0!!"},
        // Every byte reads as zero: all lanes on application 0, which has no host lanes.
        {"empty file", EepromImage(0), 0, 8,
         mask + "start_lane 0 is found but lane count is different mac=8 host=0 For Port 0!!",
         mask + "start_lane 0 is found but lane count is different mac=8 host=0 For Port 0!!"},
        {"page 0 only", EepromImage(qsfp_dd_optic()).resize(256), 0, 8,
         mask + "start_lane 0 is found but lane count is different mac=8 host=0 For Port 0!!",
         mask + "start_lane 0 is found but lane count is different mac=8 host=0 For Port 0!!"},
        // Lanes 4 to 7 read as application 0, data path 0: no data path starts at lane 4.
        {"page 16 cut after lane 3", EepromImage(qsfp_dd_optic_breakout(2)).resize(lanes_0_to_3), 4,
         4, mask + "Find host start lane 4 Failed For Port 4!!",
         mask + "Find host start lane 4 Failed For Port 4!!"},
        // The application's lane counts give no media lane.
        {"no media lanes", qsfp_dd_optic().cmis_app(1, 0x11, 0x1A, 8, 0), 0, 8,
         mask + "Find host start lane 0 Failed For Port 0!!",
         mask + "Find host start lane 0 Failed For Port 0!!"},
        // The whole file: the change is computed and reported.
        {"whole breakout module", qsfp_dd_optic_breakout(2), 4, 4,
         helper + "Skip: Set TX Laser Enable From 0xFF To 0x0F For Port 4 With 4 Lanes",
         mask + "media_lane_mask=0xf0 For Port 4"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.image)
            env.fake.cage(1, *c.image);
        else
            env.fake.empty_cage(1);
        const std::string name = "Ethernet" + std::to_string(c.start);
        const pltfm_port_t port = make_port(name, 30, c.start, c.lanes);
        const uint32_t slot = static_cast<uint32_t>(c.start) + 1;
        env.speed(name, std::to_string(50000 * c.lanes));
        env.record(name, "QSFP-DD Double Density 8X Pluggable Transceiver", "400GBASE-DR4 Optical",
                   "MPO 1x12", "0");
        pltfm_attr_t list[PLTFM_KEY_ATTR_COUNT];
        key_list(list);
        LogCapture quiet;
        ASSERT_EQ(pltfm_transceiver_info_get(port, list, PLTFM_KEY_ATTR_COUNT, 1), PLTFM_SUCCESS);
        ASSERT_EQ(values(list), "GENERIC|OPTICS|50G/400G|PAM4|0|" + std::to_string(c.lanes) + "|" +
                                    std::to_string(c.start) + "|");
        const std::vector<uint8_t> before = env.fake.eeprom(1);
        {
            LogCapture log;
            // The routine's own result is not the port event's: the event is recorded.
            EXPECT_EQ(pltfm_transceiver_configure(port, PLTFM_PORT_PRE_INIT), PLTFM_SUCCESS);
            const std::string text = log.text();
            const std::size_t state = text.rfind("set port config state is 0");
            ASSERT_NE(state, std::string::npos) << text;
            EXPECT_EQ(last_line(text.substr(0, text.rfind('\n', state) + 1)), c.last) << text;
        }
        {
            LogCapture log;
            EXPECT_EQ(pltfm_transceiver_configure(make_port(name), PLTFM_PORT_DOWN), PLTFM_SUCCESS);
            const std::string text = log.text();
            const std::size_t state = text.rfind("set port config state is 2");
            ASSERT_NE(state, std::string::npos) << text;
            EXPECT_EQ(last_line(text.substr(0, text.rfind('\n', state) + 1)), c.last_down) << text;
        }
        EXPECT_EQ(env.fake.eeprom(1), before) << "a CMIS module's register is never written";
        pthread_mutex_lock(&mutex);
        EXPECT_EQ(port_state_ar[slot], 1u << PLTFM_PORT_DOWN);
        port_state_ar[slot] = 0;
        pthread_mutex_unlock(&mutex);
    }
}

}  // namespace
