/* The in-memory tuning tree: six levels of singly linked lists (cable type, vendor, lane
 * speed, encoding, front-panel port, lane), each entry led by its key attribute. Used by the
 * tuning loader and the database facade; not part of the SDK-facing interface. */
#ifndef PI_DATABASE_PRIVATE_H
#define PI_DATABASE_PRIVATE_H

#include "platform_types.h"

PLTFM_EXTERN_C_BEGIN

typedef struct pi_lane_entry_s {
    pltfm_attr_t attr;                      /* PLTFM_ATTR_LANE, the lane text */
    pltfm_attr_t *serdes_attr_p;            /* lane marker then the row's tuning values */
    uint32_t serdes_attr_count;             /* value count + 1 */
    struct pi_lane_entry_s *le_next_p;
} pi_lane_entry_t;

typedef struct pi_front_panel_port_entry_s {
    pltfm_attr_t attr;                      /* PLTFM_ATTR_FRONT_PORT */
    pi_lane_entry_t *lane_p;                /* lanes in the order rows first named them */
    struct pi_front_panel_port_entry_s *fppe_next_p;
} pi_front_panel_port_entry_t;

typedef struct pi_encoding_entry_s {
    pltfm_attr_t attr;                      /* PLTFM_ATTR_ENCODING */
    pi_front_panel_port_entry_t *front_panel_port_p;
    struct pi_encoding_entry_s *ee_next_p;
} pi_encoding_entry_t;

typedef struct pi_lane_speed_entry_s {
    pltfm_attr_t attr;                      /* PLTFM_ATTR_SPEED */
    pi_encoding_entry_t *encoding_p;
    struct pi_lane_speed_entry_s *lse_next_p;
} pi_lane_speed_entry_t;

typedef struct pi_vendor_name_entry_s {
    pltfm_attr_t attr;                      /* PLTFM_ATTR_VENDOR */
    pi_lane_speed_entry_t *lane_speed_p;
    struct pi_vendor_name_entry_s *vne_next_p;
} pi_vendor_name_entry_t;

typedef struct pi_cable_type_entry_s {
    pltfm_attr_t attr;                      /* PLTFM_ATTR_CABLE_TYPE */
    pi_vendor_name_entry_t *vendor_name_p;
    struct pi_cable_type_entry_s *cte_next_p;
} pi_cable_type_entry_t;

/* Inserts one row: six key attributes and the tuning values of one lane. */
PLTFM_API pltfm_status_t pi_database_add_row(const pltfm_attr_t *key_list_p, uint32_t key_count,
                                             const pltfm_attr_t *value_list_p,
                                             uint32_t value_count);

/* Copies the tuning blocks of a port's lanes; value_count_p: in capacity, out count. */
PLTFM_API pltfm_status_t pi_database_get(const pltfm_attr_t *key_list_p, uint32_t key_count,
                                         pltfm_attr_t *value_list_p, uint32_t *value_count_p);

/* Frees the whole tree; PLTFM_UNINIT when it is already empty. */
PLTFM_API pltfm_status_t pi_database_deinit(void);

/* Loads a tuning directory into the empty tree; discards it when the load fails. */
PLTFM_API pltfm_status_t pi_database_init(const char *serdes_params_directory_p);

PLTFM_EXTERN_C_END

#endif /* PI_DATABASE_PRIVATE_H */
