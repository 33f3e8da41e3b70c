// Module images and OS records per module kind.
#include "modules.h"

#include "eeprom_image.h"

namespace pltfm::sim {

namespace {

constexpr const char *kQsfpDdType = "QSFP-DD Double Density 8X Pluggable Transceiver";
constexpr const char *kQsfp28Type = "QSFP28 or later";
constexpr const char *kSfpType = "SFP/SFP+/SFP28";

}  // namespace

std::string eeprom_bytes(ModuleKind kind) {
    using namespace pltfm::test;
    switch (kind) {
        case ModuleKind::empty:
        case ModuleKind::unknown: return {};
        case ModuleKind::qsfp_dd_optic: return qsfp_dd_optic().str();
        case ModuleKind::qsfp_dd_optic_4x: return qsfp_dd_optic_breakout(4).str();
        case ModuleKind::qsfp_dd_optic_2x: return qsfp_dd_optic_breakout(2).str();
        case ModuleKind::qsfp_dd_dac_1m: return qsfp_dd_dac(1.0).str();
        case ModuleKind::qsfp_dd_dac_3m: return qsfp_dd_dac(3.0).str();
        case ModuleKind::qsfp28_optic: return qsfp28_optic().str();
        case ModuleKind::qsfp28_dac_1m: return qsfp28_dac(1).str();
        case ModuleKind::qsfp28_dac_3m: return qsfp28_dac(3).str();
        case ModuleKind::sfp_optic: return sfp_optic().str();
        case ModuleKind::sfp_rj45: return sfp_rj45().str();
    }
    return {};
}

std::vector<std::pair<std::string, std::string>> transceiver_info(ModuleKind kind) {
    switch (kind) {
        case ModuleKind::empty:
        case ModuleKind::unknown: return {};
        case ModuleKind::qsfp_dd_optic:
        case ModuleKind::qsfp_dd_optic_4x:
        case ModuleKind::qsfp_dd_optic_2x:
            return {{"type", kQsfpDdType},
                    {"cable_length", "0"},
                    {"specification_compliance", "sm_media_interface"},
                    {"connector", "MPO 1x12"},
                    {"manufacturer", "SIMOPTIC"}};
        case ModuleKind::qsfp_dd_dac_1m:
        case ModuleKind::qsfp_dd_dac_3m:
            return {{"type", kQsfpDdType},
                    {"cable_length", kind == ModuleKind::qsfp_dd_dac_1m ? "1" : "3"},
                    {"specification_compliance", "passive_copper_media_interface"},
                    {"connector", "No separable connector"},
                    {"manufacturer", "SIMCABLE"}};
        case ModuleKind::qsfp28_optic:
            return {{"type", kQsfp28Type},
                    {"cable_length", "0"},
                    {"specification_compliance",
                     "{'Extended Ethernet Compliance Code': '100GBASE-SR4 or 25GBASE-SR', "
                     "'Fibre Channel Transmission Media': 'Multimode, 50um (OM3)'}"},
                    {"connector", "MPO 1x12"},
                    {"manufacturer", "SIMOPTIC"}};
        case ModuleKind::qsfp28_dac_1m:
        case ModuleKind::qsfp28_dac_3m:
            return {{"type", kQsfp28Type},
                    {"cable_length", kind == ModuleKind::qsfp28_dac_1m ? "1" : "3"},
                    {"specification_compliance",
                     "{'Extended Ethernet Compliance Code': '100GBASE-CR4 or 25GBASE-CR CA-L'}"},
                    {"connector", "No separable connector"},
                    {"manufacturer", "SIMCABLE"}};
        case ModuleKind::sfp_optic:
            return {{"type", kSfpType},
                    {"cable_length", "0"},
                    {"specification_compliance", "{'10GbE Compliance Codes': '10G Base-SR'}"},
                    {"connector", "LC"},
                    {"manufacturer", "SIMOPTIC"}};
        case ModuleKind::sfp_rj45:
            return {{"type", kSfpType},
                    {"cable_length", "0"},
                    {"specification_compliance", "{'Ethernet Compliance Codes': '10GBASE-T'}"},
                    {"connector", "RJ45"},
                    {"manufacturer", "SIMCOPPER"}};
    }
    return {};
}

}  // namespace pltfm::sim
