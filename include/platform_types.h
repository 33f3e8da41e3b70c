/* Vocabulary shared by every module of libpltfm: status codes, the key/value attribute
 * record in which transceiver keys and SerDes tuning values travel, the port descriptor
 * and the port states. None of these types crosses to the chip SDK. */
#ifndef PLATFORM_TYPES_H
#define PLATFORM_TYPES_H

#include <stdint.h>

#include "pltfm_export.h"

PLTFM_EXTERN_C_BEGIN

/* Status of every operation; one of pltfm_reason_e. The values are pinned. */
typedef int32_t pltfm_status_t;

typedef enum pltfm_reason_e {
    PLTFM_SUCCESS = 0,
    PLTFM_UNINIT = 1,
    PLTFM_BUSY = 2,
    PLTFM_CONFIG = 3,
    PLTFM_MEMORY = 4,
    PLTFM_PARAM = 5,
    PLTFM_EXIST = 6,
    PLTFM_MULTI_EXIST = 7,
    PLTFM_ENTRY_REPLACED = 8,
    PLTFM_LENGTH_MISMATCH = 9,
    PLTFM_NOTFOUND = 10,
    PLTFM_INVAL = 11,
    PLTFM_UNSUPPORTED = 12,
    PLTFM_RESOURCE_FULL = 13,
    PLTFM_TIMEOUT = 14,
    PLTFM_DEVICE_ACCESS_ERROR = 15,
    PLTFM_DRIVER_ERROR = 16
} pltfm_reason_e;

/* Attribute keys, contiguous from 0 and sorted by name. CABLE_TYPE, ENCODING, FRONT_PORT,
 * LANE, NUM_LANES, SPEED and VENDOR identify a port's tuning; the rest are tuning values. */
typedef enum pltfm_attr_type_e {
    PLTFM_ATTR_AN = 0,
    PLTFM_ATTR_AN_ABILITY = 1,
    PLTFM_ATTR_CABLE_TYPE = 2,
    PLTFM_ATTR_ENCODING = 3,
    PLTFM_ATTR_FEC = 4,
    PLTFM_ATTR_FRONT_PORT = 5,
    PLTFM_ATTR_INDEX = 6,
    PLTFM_ATTR_LANE = 7,
    PLTFM_ATTR_LINK_TRAINING = 8,
    PLTFM_ATTR_NUM_LANES = 9,
    PLTFM_ATTR_OPTICAL_MODULE_CTLE = 10,
    PLTFM_ATTR_OPTICAL_MODULE_HOST_CTLE_FOR_TP1A = 11,
    PLTFM_ATTR_OPTICAL_MODULE_HTX_AMPLITUDE = 12,
    PLTFM_ATTR_OPTICAL_MODULE_HTX_EQ = 13,
    PLTFM_ATTR_OPTICAL_MODULE_HTX_TXEQ_POST = 14,
    PLTFM_ATTR_OPTICAL_MODULE_HTX_TXEQ_PRE = 15,
    PLTFM_ATTR_RX_AGC_TARGET = 16,
    PLTFM_ATTR_RX_CTLE_BW = 17,
    PLTFM_ATTR_RX_CTLE_HF = 18,
    PLTFM_ATTR_RX_CTLE_LF = 19,
    PLTFM_ATTR_RX_EQ_COARSE_TUNE_EFFORT_25G = 20,
    PLTFM_ATTR_RX_EQ_COARSE_TUNE_EFFORT_50G = 21,
    PLTFM_ATTR_RX_EQ_FINE_TUNE_EFFORT_25G = 22,
    PLTFM_ATTR_RX_EQ_FINE_TUNE_EFFORT_50G = 23,
    PLTFM_ATTR_RX_EYE_DISQUALIFY_THRESHOLD_25G = 24,
    PLTFM_ATTR_RX_GAINSHAPE1 = 25,
    PLTFM_ATTR_RX_GAINSHAPE2 = 26,
    PLTFM_ATTR_SD_OPTICAL_MODE = 27,
    PLTFM_ATTR_SD_RESET_25G = 28,
    PLTFM_ATTR_SD_RESET_THRESHOLD = 29,
    PLTFM_ATTR_SD_RESET_THRESHOLD_25G = 30,
    PLTFM_ATTR_SPEED = 31,
    PLTFM_ATTR_TX_EQ_ATTN = 32,
    PLTFM_ATTR_TX_EQ_MAIN = 33,
    PLTFM_ATTR_TX_EQ_POST = 34,
    PLTFM_ATTR_TX_EQ_POST1 = 35,
    PLTFM_ATTR_TX_EQ_POST2 = 36,
    PLTFM_ATTR_TX_EQ_PRE1 = 37,
    PLTFM_ATTR_TX_EQ_PRE2 = 38,
    PLTFM_ATTR_TX_EQ_PRE3 = 39,
    PLTFM_ATTR_VENDOR = 40,
    PLTFM_ATTR_VERSION = 41
} pltfm_attr_type_e;

/* Stored as a 32-bit enumeration. */
typedef pltfm_attr_type_e pltfm_attr_type_t;

/* Size of pltfm_attr_t.value and of every interface-name field, terminator included. */
#define PLTFM_ATTR_VALUE_LEN 24
#define PLTFM_INTF_NAME_LEN 24

/* One attribute: its key and its value as NUL-terminated text (at most 23 characters). */
typedef struct pltfm_attr_s {
    pltfm_attr_type_t key;
    char value[PLTFM_ATTR_VALUE_LEN];
} pltfm_attr_t;

/* One switch port as the library sees it; passed by value. */
typedef struct {
    char intf_name[PLTFM_INTF_NAME_LEN]; /* "Ethernet<n>", NUL-terminated */
    int32_t fp_port_id;                  /* SerDes group index: SDK group number minus one */
    int32_t fp_start_lane;               /* first lane within the SerDes group */
    int32_t fp_num_lanes;                /* number of lanes at creation */
    int32_t cur_start_lane;              /* first lane in use */
    int32_t cur_num_lanes;               /* number of lanes in use */
} pltfm_port_t;

/* The moment at which a port is configured; bit n of a slot's state bits records state n. */
typedef enum pltfm_port_state_e {
    PLTFM_PORT_PRE_INIT = 0,
    PLTFM_PORT_INIT = 1,
    PLTFM_PORT_DOWN = 2,
    PLTFM_PORT_LINK_UP = 3,
    PLTFM_PORT_LINK_DOWN = 4,
    PLTFM_PORT_INSERTED = 5
} pltfm_port_state_e;

typedef pltfm_port_state_e pltfm_port_state_t;

PLTFM_EXTERN_C_END

#endif /* PLATFORM_TYPES_H */
