// Port events and transmit lasers: state bits, SFF-8636 TX disable writes per lane, CMIS media
// lane masks (reported, never written), port-down routing, and cage-wide exclusion.
#include <gtest/gtest.h>

#include <thread>

#include "fake_platform.h"
#include "hw_test_util.h"
#include "platform_hw_internal.h"
#include "redis_server.h"
#include "test_util.h"
#include "transceiver_decode.h"

using namespace pltfm::test;

namespace {

// Slot of Ethernet<n> on the first cage (front-panel number 1, SerDes group 30).
constexpr uint32_t kSlot = 1;

pltfm::decode::MediaLaneLayout mask_of(const EepromImage &img, int start, int lanes) {
    return pltfm::decode::media_lanes_from_image(img.bytes(), start, lanes);
}

}  // namespace

TEST(PortEvents, StateSequenceAndLaserWritesOnQsfp28Optic) {
    FakePlatform fake;
    fake.cage(1, qsfp28_optic()).activate();  // TX disable 0x0F
    store_attrs(kSlot, "OPTICS", "25G/100G", "NRZ");
    const pltfm_port_t port = make_port("Ethernet0", 30, 0, 4);
    const pltfm_port_state_t seq[] = {PLTFM_PORT_PRE_INIT, PLTFM_PORT_INIT, PLTFM_PORT_LINK_UP,
                                      PLTFM_PORT_LINK_DOWN, PLTFM_PORT_DOWN, PLTFM_PORT_PRE_INIT};
    const int bits[] = {1, 3, 11, 19, 20, 17};
    const uint8_t reg_after[] = {0x00, 0x00, 0x00, 0x00, 0x0F, 0x00};
    for (int i = 0; i < 6; ++i) {
        LogCapture log;
        pltfm_port_t p = port;
        if (seq[i] == PLTFM_PORT_DOWN) {  // port-down passes the name only
            p = pltfm_port_t{};
            std::strcpy(p.intf_name, "Ethernet0");
        }
        ASSERT_EQ(pltfm_transceiver_configure(p, seq[i]), PLTFM_SUCCESS);
        EXPECT_TRUE(log.contains("Port 0 set port config state is " + std::to_string(seq[i]) +
                                 " port_state_ar:" + std::to_string(bits[i]) + ".\n"))
            << log.text();
        EXPECT_EQ(fake.eeprom_byte(1, 0, 86), reg_after[i]) << i;
        if (i == 0) {
            EXPECT_TRUE(log.contains("Set TX Laser Enable From 0x0F To 0x00 For Port 0 With 4 Lanes\n"));
        }
        if (i == 4) {
            EXPECT_TRUE(log.contains("Set TX Laser Disable From 0x00 To 0x0F For Port 0  With 4 Lanes\n"));
        }
        if (i == 1 || i == 2 || i == 3) {
            EXPECT_FALSE(log.contains("Get (Ethernet0)")) << "no module access on link events";
        }
    }
    LogCapture log;
    pltfm_port_t p{};
    std::strcpy(p.intf_name, "Ethernet8");
    EXPECT_EQ(pltfm_transceiver_configure(p, PLTFM_PORT_DOWN), PLTFM_NOTFOUND);
    EXPECT_TRUE(log.contains("Invalid Port Ethernet8\n"));
}

TEST(Laser, BreakoutLanesNonOpticsAndUnchangedRegister) {
    FakePlatform fake;
    fake.cage(1, qsfp28_optic()).activate();
    store_attrs(3, "OPTICS", "25G/100G", "NRZ");
    ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet2", 30, 2, 1), PLTFM_PORT_PRE_INIT), PLTFM_SUCCESS);
    EXPECT_EQ(fake.eeprom_byte(1, 0, 86), 0x0B);  // only bit 2 changed
    {
        LogCapture log;  // already enabled: no line, no write
        ASSERT_EQ(pltfm_transceiver_configure_helper(3, PLTFM_PORT_PRE_INIT), PLTFM_SUCCESS);
        EXPECT_FALSE(log.contains("Set TX Laser"));
        EXPECT_FALSE(log.contains("Set (Ethernet2)"));
    }
    for (auto [cable, speed] : {std::pair{"DAC_1M", "25G/100G"}, std::pair{"OPTICS", "10G/40G"}}) {
        store_attrs(3, cable, speed, "NRZ");
        LogCapture log;
        ASSERT_EQ(pltfm_transceiver_configure_helper(3, PLTFM_PORT_DOWN), PLTFM_SUCCESS);
        EXPECT_FALSE(log.contains("Get (")) << "no module access";
    }
    store_attrs(3, "OPTICS", "25G/100G", "NRZ");
    fake.empty_cage(1);
    LogCapture log;
    EXPECT_EQ(pltfm_transceiver_configure_helper(3, PLTFM_PORT_DOWN), PLTFM_NOTFOUND);
    EXPECT_TRUE(log.contains("Get TX Laser Value Failed For Port 2!!\n"));
}

TEST(MediaLaneMask, CmisLaneAssignments) {
    auto img = qsfp_dd_optic();  // all lanes 0x10, app 1 = 0x88
    EXPECT_EQ(mask_of(img, 0, 8).mask, 0xFF);
    auto two = qsfp_dd_optic_breakout(2);  // 0x20 x4, 0x28 x4, app 2 = 0x44
    EXPECT_EQ(mask_of(two, 4, 4).mask, 0xF0);
    EXPECT_EQ(mask_of(two, 0, 4).mask, 0x0F);
    auto eight_four = qsfp_dd_optic().cmis_app(1, 0x11, 0x1A, 8, 4);
    EXPECT_EQ(mask_of(eight_four, 0, 8).mask, 0x0F);
    auto two_one = qsfp_dd_optic().cmis_app(3, 0x11, 0x1A, 2, 1);
    for (int l = 0; l < 8; l += 2) two_one.cmis_data_path(3, l, 2);
    EXPECT_EQ(two_one.get(16, 147), 0x34);
    EXPECT_EQ(mask_of(two_one, 4, 2).mask, 0x04);
    const auto mismatch = mask_of(img, 0, 4);
    EXPECT_EQ(mismatch.mask, 0);
    EXPECT_EQ(mismatch.failure, pltfm::decode::MaskFailure::lane_count_mismatch);
    EXPECT_EQ(mask_of(two, 2, 2).failure, pltfm::decode::MaskFailure::start_lane_not_found);
    auto no_media = qsfp_dd_optic().cmis_app(1, 0x11, 0x1A, 8, 0);
    EXPECT_EQ(mask_of(no_media, 0, 8).failure, pltfm::decode::MaskFailure::no_media_lanes);
    // Lane counts of code 9 come from page 1; an image without page 16 fails at lane 0.
    auto app9 = qsfp_dd_optic().cmis_app(9, 0x11, 0x1A, 8, 8);
    app9.cmis_data_path(9, 0, 8);
    EXPECT_EQ(mask_of(app9, 0, 8).mask, 0xFF);
    EXPECT_EQ(mask_of(EepromImage(256).set(0, 88, 0x88), 0, 8).failure, pltfm::decode::MaskFailure::appsel_lane);
}

TEST(MediaLaneMask, LibraryLogsAndReportsSkippedCmisChange) {
    FakePlatform fake;
    fake.cage(1, qsfp_dd_optic()).cage(2, qsfp_dd_optic()).activate();
    store_attrs(kSlot, "OPTICS", "50G/400G", "PAM4");
    {
        LogCapture log;
        ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0", 30, 0, 8), PLTFM_PORT_PRE_INIT), PLTFM_SUCCESS);
        EXPECT_TRUE(log.contains("QSFP-DD Optics\n"));
        EXPECT_TRUE(log.contains("pltfm_transceiver_get_media_lane_mask: Port 0 default lane count 0x88\n"));
        EXPECT_TRUE(log.contains("appsel lane 7 = 0x10 For Port 0\n"));
        EXPECT_TRUE(log.contains("lane count app 1 = 0x88 For Port 0\n"));
        EXPECT_TRUE(log.contains("lane 3 host start=0 count=8 media start=0 count=8 For Port 0\n"));
        EXPECT_TRUE(log.contains("start_lane 0 count 8 is found with media start=0 count=8 For Port 0\n"));
        EXPECT_TRUE(log.contains("media_lane_mask=0xff For Port 0\n"));
        EXPECT_TRUE(log.contains("Skip: Set TX Laser Enable From 0xFF To 0x00 For Port 0 With 8 Lanes\n")) << log.text();
    }
    EXPECT_EQ(fake.eeprom_byte(1, 16, 130), 0xFF);  // never written
    store_attrs(9, "OPTICS", "50G/400G", "PAM4");
    LogCapture log;
    ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet8", 31, 0, 4), PLTFM_PORT_PRE_INIT), PLTFM_SUCCESS);
    EXPECT_TRUE(log.contains("start_lane 0 is found but lane count is different mac=4 host=8 For Port 8!!\n")) << log.text();
    EXPECT_FALSE(log.contains("Skip:"));
}

TEST(PortEvents, DownAfterModuleExchangeTogglesAdminUp) {
    RedisServer redis;
    ASSERT_TRUE(redis.ok()) << redis.error();
    redis.use_on_path();
    FakePlatform fake;
    fake.cage(1, qsfp28_optic()).activate();
    store_attrs(kSlot, "OPTICS", "25G/100G", "NRZ");
    ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0", 30, 0, 4), PLTFM_PORT_INIT), PLTFM_SUCCESS);
    port_state_ar[kSlot] = 1u << PLTFM_PORT_INSERTED;  // the monitor recorded an exchange
    redis.hset(4, "PORT|Ethernet0", "admin_status", "down");
    pltfm_port_t p{};
    std::strcpy(p.intf_name, "Ethernet0");
    LogCapture log;
    ASSERT_EQ(pltfm_transceiver_configure(p, PLTFM_PORT_DOWN), PLTFM_SUCCESS);
    EXPECT_EQ(redis.hget(4, "PORT|Ethernet0", "admin_status"), "up");
    EXPECT_EQ(port_state_ar[kSlot], (1u << PLTFM_PORT_INSERTED) | (1u << PLTFM_PORT_DOWN));
    EXPECT_FALSE(log.contains("Get (Ethernet0)")) << "no laser access";
}

TEST(Laser, BreakoutPortsOfOneCageNeverLoseAnUpdate) {
    FakePlatform fake;
    fake.cage(1, qsfp28_optic()).activate();
    store_attrs(1, "OPTICS", "25G/100G", "NRZ");
    store_attrs(3, "OPTICS", "25G/100G", "NRZ");
    port_ar[1] = make_port("Ethernet0", 30, 0, 2);
    port_ar[3] = make_port("Ethernet2", 30, 2, 2);
    LogCapture quiet;
    auto worker = [](uint32_t slot) {
        for (int i = 0; i < 150; ++i) {
            pltfm_transceiver_configure_helper(slot, PLTFM_PORT_PRE_INIT);
            pltfm_transceiver_configure_helper(slot, PLTFM_PORT_DOWN);
        }
    };
    std::thread a(worker, 1u), b(worker, 3u);
    a.join();
    b.join();
    EXPECT_EQ(fake.eeprom_byte(1, 0, 86), 0x0F);
    std::thread c([] { pltfm_transceiver_configure_helper(1, PLTFM_PORT_PRE_INIT); });
    std::thread d([] { pltfm_transceiver_configure_helper(3, PLTFM_PORT_PRE_INIT); });
    c.join();
    d.join();
    EXPECT_EQ(fake.eeprom_byte(1, 0, 86), 0x00);
}
