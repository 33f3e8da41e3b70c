// Compile-time pins of the record layouts that the chip SDK and stored data rely on.
#include <cstddef>

#include "ifcs_devport.h"
#include "ifcs_types.h"
#include "platform_serdes.h"
#include "platform_types.h"

static_assert(sizeof(ifcs_attr_t) == 136, "ifcs_attr_t is 136 bytes");
static_assert(offsetof(ifcs_attr_t, id) == 0);
static_assert(offsetof(ifcs_attr_t, value) == 8);
static_assert(offsetof(ifcs_attr_t, bitmap) == 128);
static_assert(sizeof(ifcs_attr_value_t) == 120);
static_assert(offsetof(ifcs_attr_t, value.u8_list.count) == 8);
static_assert(offsetof(ifcs_attr_t, value.u8_list.arr) == 16);
static_assert(offsetof(ifcs_attr_t, value.i8_list.arr) == 16);
static_assert(offsetof(ifcs_attr_t, value.u32_list.arr) == 16);
static_assert(offsetof(ifcs_attr_t, value.devport_an_bp_tech_ability_list.count) == 8);
static_assert(offsetof(ifcs_attr_t, value.devport_an_bp_tech_ability_list.arr) == 16);
static_assert(sizeof(ifcs_bool_t) == 4 && sizeof(ifcs_devport_an_bp_tech_ability_t) == 4);

static_assert(sizeof(pltfm_attr_type_t) == 4, "stored as a 32-bit enumeration");
static_assert(sizeof(pltfm_attr_t) == 28 && offsetof(pltfm_attr_t, value) == 4);
static_assert(sizeof(pltfm_port_t) == 44);
static_assert(offsetof(pltfm_port_t, fp_port_id) == 24);
static_assert(offsetof(pltfm_port_t, cur_num_lanes) == 40);
static_assert(sizeof(pltfm_status_t) == 4);
