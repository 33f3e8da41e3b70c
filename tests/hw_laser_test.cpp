// Port events and transmit lasers: state bits, SFF-8636 TX disable writes per lane, CMIS media
// lane masks (reported, never written), and cage-wide exclusion of breakout ports.
#include <gtest/gtest.h>

#include <thread>

#include "hw_test_util.h"
#include "platform_hw_internal.h"
#include "test_util.h"
#include "transceiver_decode.h"

using namespace pltfm::test;
using pltfm::decode::MaskFailure;

TEST(PortEvents, StateSequenceAndLaserWritesOnQsfp28Optic) {
    FakePlatform fake;
    fake.cage(1, qsfp28_optic()).activate();  // TX disable 0x0F
    store_attrs(1, "OPTICS", "25G/100G", "NRZ");
    const struct {
        pltfm_port_state_t state;
        int bits;
        uint8_t reg;
        const char *laser;  // expected laser line, else no module access at all
    } seq[] = {{PLTFM_PORT_PRE_INIT, 1, 0x00, "Set TX Laser Enable From 0x0F To 0x00 For Port 0 With 4 Lanes\n"},
               {PLTFM_PORT_INIT, 3, 0x00, nullptr},
               {PLTFM_PORT_LINK_UP, 11, 0x00, nullptr},
               {PLTFM_PORT_LINK_DOWN, 19, 0x00, nullptr},
               {PLTFM_PORT_DOWN, 20, 0x0F, "Set TX Laser Disable From 0x00 To 0x0F For Port 0  With 4 Lanes\n"},
               {PLTFM_PORT_PRE_INIT, 17, 0x00, "Set TX Laser Enable From 0x0F To 0x00 For Port 0 With 4 Lanes\n"}};
    for (const auto &s : seq) {
        LogCapture log;  // port-down passes the name only
        const pltfm_port_t p = s.state == PLTFM_PORT_DOWN ? make_port("Ethernet0") : make_port("Ethernet0", 30, 0, 4);
        ASSERT_EQ(pltfm_transceiver_configure(p, s.state), PLTFM_SUCCESS);
        EXPECT_TRUE(log.contains("Port 0 set port config state is " + std::to_string(s.state) +
                                 " port_state_ar:" + std::to_string(s.bits) + ".\n")) << log.text();
        EXPECT_EQ(fake.eeprom_byte(1, 0, 86), s.reg) << s.state;
        EXPECT_EQ(log.contains(s.laser ? s.laser : "Get (Ethernet0)"), s.laser != nullptr) << log.text();
    }
    LogCapture log;
    EXPECT_EQ(pltfm_transceiver_configure(make_port("Ethernet8"), PLTFM_PORT_DOWN), PLTFM_NOTFOUND);
    EXPECT_TRUE(log.contains("Invalid Port Ethernet8\n"));
}

TEST(Laser, BreakoutLaneNonOpticsAndUnreadableRegister) {
    FakePlatform fake;
    fake.cage(1, qsfp28_optic()).activate();
    store_attrs(3, "OPTICS", "25G/100G", "NRZ");
    ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet2", 30, 2, 1), PLTFM_PORT_PRE_INIT), PLTFM_SUCCESS);
    EXPECT_EQ(fake.eeprom_byte(1, 0, 86), 0x0B);  // only lane 2's bit changed
    store_attrs(3, "DAC_1M", "25G/100G", "NRZ");
    {
        LogCapture log;
        ASSERT_EQ(pltfm_transceiver_configure_helper(3, PLTFM_PORT_DOWN), PLTFM_SUCCESS);
        EXPECT_FALSE(log.contains("Get (")) << "a copper cable has no laser";
    }
    store_attrs(3, "OPTICS", "25G/100G", "NRZ");
    fake.empty_cage(1);
    LogCapture log;
    EXPECT_EQ(pltfm_transceiver_configure_helper(3, PLTFM_PORT_DOWN), PLTFM_NOTFOUND);
    EXPECT_TRUE(log.contains("Get TX Laser Value Failed For Port 2!!\n"));
}

TEST(MediaLaneMask, CmisLaneAssignments) {
    const auto two_one = [] {  // 2 host lanes per data path, 1 media lane each
        auto img = qsfp_dd_optic().cmis_app(3, 0x11, 0x1A, 2, 1);
        for (int l = 0; l < 8; l += 2) img.cmis_data_path(3, l, 2);
        return img;
    }();
    const struct {
        const char *what;
        EepromImage img;
        int start, lanes;
        uint8_t mask;
        MaskFailure failure;
    } cases[] = {
        {"2x4 upper", qsfp_dd_optic_breakout(2), 4, 4, 0xF0, MaskFailure::none},
        {"8 host 4 media", qsfp_dd_optic().cmis_app(1, 0x11, 0x1A, 8, 4), 0, 8, 0x0F, MaskFailure::none},
        {"2 host 1 media", two_one, 4, 2, 0x04, MaskFailure::none},
        {"app 9 from page 1", qsfp_dd_optic().cmis_app(9, 0x11, 0x1A, 8, 8).cmis_data_path(9, 0, 8), 0, 8, 0xFF, MaskFailure::none},
        {"count mismatch", qsfp_dd_optic(), 0, 4, 0, MaskFailure::lane_count_mismatch},
        {"no data path at 2", qsfp_dd_optic_breakout(2), 2, 2, 0, MaskFailure::start_lane_not_found},
        {"no media lanes", qsfp_dd_optic().cmis_app(1, 0x11, 0x1A, 8, 0), 0, 8, 0, MaskFailure::no_media_lanes},
        {"no page 16", EepromImage(256).set(0, 88, 0x88), 0, 8, 0, MaskFailure::appsel_lane},
        {"empty image", EepromImage(0), 0, 8, 0, MaskFailure::default_lane_count},
    };
    for (const auto &c : cases) {
        const auto m = pltfm::decode::media_lanes_from_image(c.img.bytes(), c.start, c.lanes);
        EXPECT_EQ(m.mask, c.mask) << c.what;
        EXPECT_EQ(m.failure, c.failure) << c.what;
    }
}

TEST(MediaLaneMask, LibraryReportsTheCmisChangeWithoutWriting) {
    FakePlatform fake;
    fake.cage(1, qsfp_dd_optic()).activate();
    store_attrs(1, "OPTICS", "50G/400G", "PAM4");
    LogCapture log;
    ASSERT_EQ(pltfm_transceiver_configure(make_port("Ethernet0", 30, 0, 8), PLTFM_PORT_PRE_INIT), PLTFM_SUCCESS);
    EXPECT_TRUE(log.contains("pltfm_transceiver_get_media_lane_mask: media_lane_mask=0xff For Port 0\n"));
    EXPECT_TRUE(log.contains("Skip: Set TX Laser Enable From 0xFF To 0x00 For Port 0 With 8 Lanes\n")) << log.text();
    EXPECT_EQ(fake.eeprom_byte(1, 16, 130), 0xFF);  // never written
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
}
