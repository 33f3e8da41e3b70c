// Board wiring and the demo layout.
#include "board.h"

#include "platform_hw_internal.h"

namespace pltfm::sim {

namespace {

struct KindRow {
    ModuleKind kind;
    const char *name;
    ModuleInfo info;
};

constexpr KindRow kKinds[] = {
    {ModuleKind::empty, "empty", {"  .  ", "empty"}},
    {ModuleKind::qsfp_dd_optic, "qsfp-dd-optic", {"DD-OP", "DD optic 400G"}},
    {ModuleKind::qsfp_dd_optic_4x, "qsfp-dd-optic-4x", {"DD-4x", "DD optic 4x100G"}},
    {ModuleKind::qsfp_dd_optic_2x, "qsfp-dd-optic-2x", {"DD-2x", "DD optic 2x100G"}},
    {ModuleKind::qsfp_dd_dac_1m, "qsfp-dd-dac-1m", {"DD-C1", "DD DAC 1m"}},
    {ModuleKind::qsfp_dd_dac_3m, "qsfp-dd-dac-3m", {"DD-C3", "DD DAC 3m"}},
    {ModuleKind::qsfp28_optic, "qsfp28-optic", {"Q28OP", "Q28 optic 100G"}},
    {ModuleKind::qsfp28_dac_1m, "qsfp28-dac-1m", {"Q28C1", "Q28 DAC 1m"}},
    {ModuleKind::qsfp28_dac_3m, "qsfp28-dac-3m", {"Q28C3", "Q28 DAC 3m"}},
    {ModuleKind::sfp_optic, "sfp-optic", {"SFPOP", "SFP+ optic 10G"}},
    {ModuleKind::sfp_rj45, "sfp-rj45", {"RJ45 ", "SFP+ RJ45"}},
    {ModuleKind::unknown, "unknown", {"  ?  ", "module (EEPROM)"}},
};

}  // namespace

ModuleInfo module_info(ModuleKind kind) {
    for (const auto &row : kKinds) {
        if (row.kind == kind) return row.info;
    }
    return kKinds[0].info;
}

const char *module_kind_name(ModuleKind kind) {
    for (const auto &row : kKinds) {
        if (row.kind == kind) return row.name;
    }
    return kKinds[0].name;
}

std::optional<ModuleKind> module_kind_by_name(const std::string &name) {
    for (const auto &row : kKinds) {
        if (name == row.name) return row.kind;
    }
    return std::nullopt;
}

std::vector<std::string> module_kind_names() {
    std::vector<std::string> out;
    for (const auto &row : kKinds) out.emplace_back(row.name);
    return out;
}

BoardPlan demo_board() {
    BoardPlan plan;
    // A realistic mix, repeated along the faceplate: 400G DACs and optics, breakouts, 100G
    // QSFP28 modules on four lanes, and a few empty cages.
    constexpr ModuleKind kPattern[] = {
        ModuleKind::qsfp_dd_dac_1m, ModuleKind::qsfp_dd_dac_3m,   ModuleKind::qsfp_dd_optic,
        ModuleKind::qsfp_dd_optic,  ModuleKind::qsfp_dd_optic_4x, ModuleKind::qsfp_dd_optic_2x,
        ModuleKind::qsfp28_optic,   ModuleKind::qsfp28_dac_1m,    ModuleKind::qsfp28_dac_3m,
        ModuleKind::empty,          ModuleKind::qsfp_dd_dac_1m,   ModuleKind::qsfp_dd_optic,
        ModuleKind::qsfp_dd_dac_3m, ModuleKind::qsfp_dd_optic_4x, ModuleKind::qsfp28_optic,
        ModuleKind::empty,
    };
    for (int c = 1; c <= 32; ++c) {
        const ModuleKind kind = kPattern[(c - 1) % std::size(kPattern)];
        if (kind != ModuleKind::empty) plan.modules[c] = kind;
        const int base = (c - 1) * hw::kLanesPerCage;
        switch (kind) {
            case ModuleKind::qsfp_dd_optic_4x:  // 4 x 100G on 2 lanes: 50G PAM4 lanes
                for (int i = 0; i < 4; ++i) plan.ports.push_back(*port_of(base + 2 * i, 2, 100000));
                break;
            case ModuleKind::qsfp_dd_optic_2x:  // 2 x 100G on 4 lanes: 25G NRZ lanes
                for (int i = 0; i < 2; ++i) plan.ports.push_back(*port_of(base + 4 * i, 4, 100000));
                break;
            case ModuleKind::qsfp28_optic:
            case ModuleKind::qsfp28_dac_1m:
            case ModuleKind::qsfp28_dac_3m:  // 100G on the cage's first 4 lanes
                plan.ports.push_back(*port_of(base, 4, 100000));
                break;
            default:  // 400G on 8 lanes
                plan.ports.push_back(*port_of(base, 8, 400000));
                break;
        }
    }
    plan.modules[33] = ModuleKind::sfp_optic;
    plan.modules[34] = ModuleKind::sfp_rj45;
    plan.ports.push_back(*port_of(256, 1, 10000));
    plan.ports.push_back(*port_of(257, 1, 10000));
    return plan;
}

}  // namespace pltfm::sim
