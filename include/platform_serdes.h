/* Entry points that the chip SDK calls: library lifecycle, port pre-initialisation with its
 * SerDes tuning records, and port state events; with the per-interface cache of the record
 * lists handed out. */
#ifndef PLATFORM_SERDES_H
#define PLATFORM_SERDES_H

#include <stdint.h>

#include "ifcs_devport.h"
#include "ifcs_types.h"
#include "platform_types.h"

PLTFM_EXTERN_C_BEGIN

#define PLTFM_INTF_DB_SIZE 258

/* One cached record list, owned by the library from port pre-initialisation to port-down. */
typedef struct pltfm_intf_db_s {
    uint32_t attr_num;                      /* records allocated in attr_ptr */
    char intf_name[PLTFM_INTF_NAME_LEN];    /* empty: the entry is free */
    ifcs_attr_t *attr_ptr;
} pltfm_intf_db_t;

PLTFM_API extern pltfm_intf_db_t intf_db[PLTFM_INTF_DB_SIZE];

/* Lifecycle. */
PLTFM_API int pltfm_pre_init(char *platform);
PLTFM_API int pltfm_init(char *platform);
PLTFM_API int pltfm_post_init(char *platform);
/* Body of the tuning rescan thread; never returns. */
PLTFM_API void *pltfm_csv_rescan(void *p);

/* Port pre-initialisation: the SerDes tuning records of the port, or null. */
PLTFM_API ifcs_attr_t *pltfm_port_pre_init(char *intf_name, ifcs_attr_t *attr_list_p,
                                           uint32_t *attr_count);

/* Tuning rows to SDK records; caches the list in intf_db. */
PLTFM_API int pltfm_serdes_parameters_translate(pltfm_port_t port, pltfm_attr_t *serdes_attr_list,
                                                int serdes_attr_count, ifcs_attr_t *ifcs_attr_list,
                                                uint32_t *ifcs_attr_count);

/* Port state events. */
PLTFM_API int pltfm_port_init(char *intf_name, ifcs_attr_t *attr_list_p, uint32_t *attr_count);
PLTFM_API int pltfm_port_link_up(char *intf_name, ifcs_attr_t *attr_list_p, uint32_t *attr_count);
PLTFM_API int pltfm_port_link_down(char *intf_name, ifcs_attr_t *attr_list_p,
                                   uint32_t *attr_count);
PLTFM_API int pltfm_port_down(char *intf_name);
PLTFM_API int pltfm_an_lt_validate(pltfm_attr_t *an_lt_attr_list, int *an_lt_attr_count,
                                   ifcs_attr_t *ifcs_attr_list, uint32_t *ifcs_attr_count);

PLTFM_EXTERN_C_END

#endif /* PLATFORM_SERDES_H */
