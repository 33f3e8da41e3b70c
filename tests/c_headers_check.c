/* Every public header compiles as C and every exported name links against libpltfm with C
 * linkage; a few layout facts are checked again from the C side. */
#include <stddef.h>
#include <stdio.h>

#include "ifcs_devport.h"
#include "ifcs_types.h"
#include "pi_csvfile_private.h"
#include "pi_database_private.h"
#include "platform_database.h"
#include "platform_hw.h"
#include "platform_serdes.h"
#include "platform_types.h"

_Static_assert(sizeof(ifcs_attr_t) == 136, "ifcs_attr_t is 136 bytes");
_Static_assert(offsetof(ifcs_attr_t, bitmap) == 128, "bitmap at 128");
_Static_assert(sizeof(pltfm_attr_t) == 28, "pltfm_attr_t is 28 bytes");

typedef void (*any_fn)(void);

int main(void) {
    /* Every exported function and object, taken by address: the link fails when one is
     * missing or was declared with C++ linkage. */
    const any_fn functions[] = {
        (any_fn)pi_csv_file_parse_all,
        (any_fn)pi_database_add_row,
        (any_fn)pi_database_deinit,
        (any_fn)pi_database_get,
        (any_fn)pi_database_init,
        (any_fn)pltfm_an_lt_validate,
        (any_fn)pltfm_csv_rescan,
        (any_fn)pltfm_eeprom_get_from_i2c,
        (any_fn)pltfm_eeprom_set_to_i2c,
        (any_fn)pltfm_init,
        (any_fn)pltfm_parser_database_deinit,
        (any_fn)pltfm_parser_database_get,
        (any_fn)pltfm_parser_database_init,
        (any_fn)pltfm_port_default_speed_get_from_config_file,
        (any_fn)pltfm_port_down,
        (any_fn)pltfm_port_init,
        (any_fn)pltfm_port_link_down,
        (any_fn)pltfm_port_link_up,
        (any_fn)pltfm_port_pre_init,
        (any_fn)pltfm_post_init,
        (any_fn)pltfm_pre_init,
        (any_fn)pltfm_redis_read,
        (any_fn)pltfm_redis_write,
        (any_fn)pltfm_serdes_parameters_translate,
        (any_fn)pltfm_transceiver_configure,
        (any_fn)pltfm_transceiver_hw_oir_monitor,
        (any_fn)pltfm_transceiver_info_get,
        (any_fn)pltfm_transceiver_info_get_from_i2c,
        (any_fn)pltfm_transceiver_info_get_from_redis,
        (any_fn)pltfm_transceiver_monitor,
    };
    const void *objects[] = {
        (const void *)&i2c_mutex,
        (const void *)&intf_db,
        (const void *)&mutex,
        (const void *)&pi_key_name_cable_type_p,
        (const void *)&pi_key_name_encoding_p,
        (const void *)&pi_key_name_front_port_p,
        (const void *)&pi_key_name_lane_p,
        (const void *)&pi_key_name_speed_p,
        (const void *)&pi_key_name_vendor_p,
        (const void *)&port_ar,
        (const void *)&port_attr_list,
        (const void *)&port_default_speed_ar,
        (const void *)&port_state_ar,
    };
    for (size_t i = 0; i < sizeof functions / sizeof functions[0]; ++i) {
        if (functions[i] == NULL) {
            fprintf(stderr, "exported function %zu is null\n", i);
            return 1;
        }
    }
    for (size_t i = 0; i < sizeof objects / sizeof objects[0]; ++i) {
        if (objects[i] == NULL) {
            fprintf(stderr, "exported object %zu is null\n", i);
            return 1;
        }
    }
    return PLTFM_SUCCESS;
}
