/* Device-port attribute identifiers and enumerations of the chip SDK that libpltfm reads
 * (port creation attributes) and produces (SerDes tuning records). Values are the SDK's. */
#ifndef IFCS_DEVPORT_H
#define IFCS_DEVPORT_H

#include "ifcs_types.h"

PLTFM_EXTERN_C_BEGIN

typedef enum ifcs_devport_attr_id_e {
    IFCS_DEVPORT_ATTR_SERDES_GROUP = 1,                    /* in, u32 */
    IFCS_DEVPORT_ATTR_START_LANE = 5,                      /* in, u32 */
    IFCS_DEVPORT_ATTR_NUM_LANES = 6,                       /* in, u32 */
    IFCS_DEVPORT_ATTR_SPEED = 8,                           /* in, u32 */
    IFCS_DEVPORT_ATTR_AUTO_NEG = 16,                       /* out, u32 */
    IFCS_DEVPORT_ATTR_AUTO_NEG_LD_BP_TECH_ABILITY = 17,    /* out, devport_an_bp_tech_ability_list */
    IFCS_DEVPORT_ATTR_LINK_TRAINING = 21,                  /* in and out, u32 */
    IFCS_DEVPORT_ATTR_TX_EQ_PRE1 = 43,                     /* out, i8_list */
    IFCS_DEVPORT_ATTR_TX_EQ_PRE2 = 44,                     /* out, i8_list */
    IFCS_DEVPORT_ATTR_TX_EQ_PRE3 = 45,                     /* out, i8_list */
    IFCS_DEVPORT_ATTR_TX_EQ_ATTN = 46,                     /* out, i8_list */
    IFCS_DEVPORT_ATTR_TX_EQ_POST = 47,                     /* out, i8_list */
    IFCS_DEVPORT_ATTR_RX_CTLE_LF = 50,                     /* out, u8_list */
    IFCS_DEVPORT_ATTR_RX_CTLE_HF = 51,                     /* out, u8_list */
    IFCS_DEVPORT_ATTR_RX_CTLE_BW = 52,                     /* out, u8_list */
    IFCS_DEVPORT_ATTR_RX_GAINSHAPE1 = 53,                  /* out, u32_list */
    IFCS_DEVPORT_ATTR_RX_GAINSHAPE2 = 54,                  /* out, u32_list */
    IFCS_DEVPORT_ATTR_RX_AGC_TARGET = 55,                  /* out, u32_list */
    IFCS_DEVPORT_ATTR_RX_EYE_DISQUALIFY_THRESHOLD_25G = 56, /* out, u32_list */
    IFCS_DEVPORT_ATTR_RX_EQ_COARSE_TUNE_EFFORT_25G = 58,   /* out, u32 */
    IFCS_DEVPORT_ATTR_RX_EQ_COARSE_TUNE_EFFORT_50G = 59,   /* out, u32 */
    IFCS_DEVPORT_ATTR_RX_EQ_FINE_TUNE_EFFORT_25G = 61,     /* out, u32 */
    IFCS_DEVPORT_ATTR_RX_EQ_FINE_TUNE_EFFORT_50G = 62,     /* out, u32 */
    IFCS_DEVPORT_ATTR_SD_RESET_25G = 75,                   /* out, data */
    IFCS_DEVPORT_ATTR_SD_RESET_THRESHOLD_25G = 76          /* out, u32 */
} ifcs_devport_attr_id_e;

/* Receiver tuning effort. HIGH is 1, not 2. */
typedef enum ifcs_devport_rx_tune_effort_e {
    IFCS_DEVPORT_RX_TUNE_EFFORT_LOW = 0,
    IFCS_DEVPORT_RX_TUNE_EFFORT_HIGH = 1,
    IFCS_DEVPORT_RX_TUNE_EFFORT_MEDIUM = 16
} ifcs_devport_rx_tune_effort_e;

PLTFM_EXTERN_C_END

#endif /* IFCS_DEVPORT_H */
