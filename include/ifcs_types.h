/* The chip SDK's attribute record as exchanged with libpltfm. Only the members the library
 * reads or produces are declared here; the identifier values, flag bits and offsets are
 * fixed by the SDK and must not change. */
#ifndef IFCS_TYPES_H
#define IFCS_TYPES_H

#include <stdint.h>

#include "pltfm_export.h"

PLTFM_EXTERN_C_BEGIN

typedef uint32_t ifcs_attr_id_t;

typedef enum ifcs_bool_e { IFCS_BOOL_FALSE = 0, IFCS_BOOL_TRUE = 1 } ifcs_bool_e;
typedef uint32_t ifcs_bool_t; /* 32-bit */

/* One element of an auto-negotiation backplane technology ability list (4 bytes). */
typedef uint32_t ifcs_devport_an_bp_tech_ability_t;

typedef struct ifcs_u8_list_s {
    uint32_t count;
    uint8_t *arr;
} ifcs_u8_list_t;

typedef struct ifcs_i8_list_s {
    uint32_t count;
    int8_t *arr;
} ifcs_i8_list_t;

typedef struct ifcs_u32_list_s {
    uint32_t count;
    uint32_t *arr;
} ifcs_u32_list_t;

typedef struct ifcs_devport_an_bp_tech_ability_list_s {
    uint32_t count;
    ifcs_devport_an_bp_tech_ability_t *arr;
} ifcs_devport_an_bp_tech_ability_list_t;

/* Value union, 120 bytes. The SDK's union has one member per bitmap flag, in flag order; the
 * library reads and writes only the members below, and the flag of each is fixed:
 * u32 bit 1, u8_list bit 6, i8_list bit 8, u32_list bit 10, data bit 21,
 * devport_an_bp_tech_ability_list bit 41. */
typedef union ifcs_attr_value_u {
    uint32_t u32;
    ifcs_bool_t data;
    ifcs_u8_list_t u8_list;
    ifcs_i8_list_t i8_list;
    ifcs_u32_list_t u32_list;
    ifcs_devport_an_bp_tech_ability_list_t devport_an_bp_tech_ability_list;
    uint8_t raw[120];
} ifcs_attr_value_t;

/* 64 one-bit flags: which member of the value union a record carries. */
typedef uint64_t ifcs_attr_value_bitmap_t;

#define IFCS_ATTR_VALUE_FLAG_U32 (1ULL << 1)
#define IFCS_ATTR_VALUE_FLAG_U8_LIST (1ULL << 6)
#define IFCS_ATTR_VALUE_FLAG_I8_LIST (1ULL << 8)
#define IFCS_ATTR_VALUE_FLAG_U32_LIST (1ULL << 10)
#define IFCS_ATTR_VALUE_FLAG_DATA (1ULL << 21)
#define IFCS_ATTR_VALUE_FLAG_DEVPORT_AN_BP_TECH_ABILITY_LIST (1ULL << 41)

typedef struct ifcs_attr_s {
    ifcs_attr_id_t id;               /* offset 0: an ifcs_devport_attr_id_e value */
    ifcs_attr_value_t value;         /* offset 8 */
    ifcs_attr_value_bitmap_t bitmap; /* offset 128 */
} ifcs_attr_t;

PLTFM_EXTERN_C_END

#endif /* IFCS_TYPES_H */
