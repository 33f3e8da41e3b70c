/* Facade of the SerDes tuning database: load a tuning directory, look a port up, tear the
 * database down. The rest of the library reaches the tuning tree only through these. */
#ifndef PLATFORM_DATABASE_H
#define PLATFORM_DATABASE_H

#include "platform_types.h"

PLTFM_EXTERN_C_BEGIN

/* Loads every tuning file of the directory into the empty database. */
PLTFM_API pltfm_status_t pltfm_parser_database_init(const char *serdes_params_directory_p);

/* Looks a port up by its seven key attributes; output_count_p: in capacity, out count. */
PLTFM_API pltfm_status_t pltfm_parser_database_get(const pltfm_attr_t *input_attr_p,
                                                   uint32_t input_count,
                                                   pltfm_attr_t *output_attr_p,
                                                   uint32_t *output_count_p);

/* Frees the whole database; PLTFM_UNINIT when none is loaded. */
PLTFM_API pltfm_status_t pltfm_parser_database_deinit(void);

PLTFM_EXTERN_C_END

#endif /* PLATFORM_DATABASE_H */
