/* Transceiver management: module EEPROM access over i2c sysfs, module identification from
 * the EEPROM or the OS's Redis state database, the per-port key attribute and state tables,
 * transmit laser control, Redis access and the module insertion monitor. */
#ifndef PLATFORM_HW_H
#define PLATFORM_HW_H

#include <pthread.h>
#include <stdint.h>

#include "platform_types.h"

PLTFM_EXTERN_C_BEGIN

/* Port slots 1 to 258 index every per-port table; entry 0 is never used. */
#define PLTFM_PORT_SLOT_MAX 258
#define PLTFM_PORT_SLOT_TABLE_SIZE 259
/* Key attributes of a port: vendor, cable type, speed, encoding, front port, lanes, lane. */
#define PLTFM_KEY_ATTR_COUNT 7

/* Administrative actions of the port toggle. */
typedef enum pltfm_act_e {
    PLTFM_ACT_ADMIN_DOWN = 0,
    PLTFM_ACT_ADMIN_UP = 1,
    PLTFM_ACT_INVALID = 2
} pltfm_act_e;
typedef pltfm_act_e pltfm_act_t;

/* Access rules: port_ar, port_state_ar and port_attr_list are read and written with `mutex`
 * held (port_ar is written only by pltfm_transceiver_configure). i2c_mutex[s] serialises the
 * laser routine's read-modify-write of a module's registers. `mutex` and an i2c_mutex entry
 * are never held together. port_default_speed_ar is written once at start-up, before the
 * insertion thread exists, and only read afterwards. */
PLTFM_API extern pthread_mutex_t mutex;
PLTFM_API extern pthread_mutex_t i2c_mutex[PLTFM_PORT_SLOT_TABLE_SIZE];
PLTFM_API extern pltfm_port_t port_ar[PLTFM_PORT_SLOT_TABLE_SIZE];
PLTFM_API extern uint32_t port_state_ar[PLTFM_PORT_SLOT_TABLE_SIZE];
PLTFM_API extern pltfm_attr_t port_attr_list[PLTFM_PORT_SLOT_TABLE_SIZE][PLTFM_KEY_ATTR_COUNT];
PLTFM_API extern int32_t port_default_speed_ar[PLTFM_PORT_SLOT_TABLE_SIZE];

/* Module EEPROM: the byte at (page, reg) lies at file offset page * 128 + reg. */
PLTFM_API pltfm_status_t pltfm_eeprom_get_from_i2c(pltfm_port_t port, uint8_t page, uint8_t reg,
                                                   uint8_t *val, uint32_t size);
PLTFM_API pltfm_status_t pltfm_eeprom_set_to_i2c(pltfm_port_t port, uint8_t page, uint8_t reg,
                                                 uint8_t val);

/* Cable type ("OPTICS", "DAC_1M", "DAC_3M", "RJ45") from the module's EEPROM. */
PLTFM_API pltfm_status_t pltfm_transceiver_info_get_from_i2c(pltfm_port_t port, char *cable_type);

/* Runs a command through the shell; the first output line, without its line feed. */
PLTFM_API pltfm_status_t pltfm_redis_read(const char *cmd, char *str, int32_t len);
/* Sets one hash field; key, attribute and value come already quoted for the shell. */
PLTFM_API pltfm_status_t pltfm_redis_write(uint32_t table, const char *key, const char *attribute,
                                           const char *value);

/* Cable type from the module's record in the state database. */
PLTFM_API pltfm_status_t pltfm_transceiver_info_get_from_redis(pltfm_port_t port,
                                                               char *cable_type);

/* Default speed of port slot `port` from the SKU's port configuration file. */
PLTFM_API pltfm_status_t pltfm_port_default_speed_get_from_config_file(int32_t port);

/* Fills the seven key attributes of a port; update_flag non-zero stores a fresh answer. */
PLTFM_API pltfm_status_t pltfm_transceiver_info_get(pltfm_port_t port, pltfm_attr_t *attr_list_p,
                                                    int attr_count, int update_flag);

/* Records a port event in the slot's state bits and acts on the module's lasers. */
PLTFM_API pltfm_status_t pltfm_transceiver_configure(pltfm_port_t port, pltfm_port_state_t state);

/* Prepares the transceiver tables and starts the insertion-monitor thread. */
PLTFM_API pltfm_status_t pltfm_transceiver_monitor(void);
/* Body of the insertion-monitor thread; never returns. */
PLTFM_API void *pltfm_transceiver_hw_oir_monitor(void *p);

PLTFM_EXTERN_C_END

#endif /* PLATFORM_HW_H */
