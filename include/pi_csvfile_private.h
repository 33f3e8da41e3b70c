/* Loader of a directory of tuning CSV files into the tuning tree, with the key words of the
 * header lines and the line entry its tokenizer fills. */
#ifndef PI_CSVFILE_PRIVATE_H
#define PI_CSVFILE_PRIVATE_H

#include "platform_types.h"

PLTFM_EXTERN_C_BEGIN

/* Positions of the six database keys in the loader's key list. */
typedef enum pi_key_idx_e {
    PI_KEY_IDX_CABLE_TYPE = 0,
    PI_KEY_IDX_VENDOR = 1,
    PI_KEY_IDX_SPEED = 2,
    PI_KEY_IDX_ENCODING = 3,
    PI_KEY_IDX_FRONT_PORT = 4,
    PI_KEY_IDX_LANE = 5,
    PI_KEY_IDX_MAX = 6
} pi_key_idx_e;

/* Header key words, "CABLE TYPE", "VENDOR", "SPEED", "ENCODING", "FRONT PORT", "LANE". */
PLTFM_API extern const char *pi_key_name_cable_type_p;
PLTFM_API extern const char *pi_key_name_vendor_p;
PLTFM_API extern const char *pi_key_name_speed_p;
PLTFM_API extern const char *pi_key_name_encoding_p;
PLTFM_API extern const char *pi_key_name_front_port_p;
PLTFM_API extern const char *pi_key_name_lane_p;

/* One tokenized line. The entry owns the texts in its slots (null for an empty cell). */
typedef struct pi_csv_line_entry_s {
    int32_t line_no;     /* line number used in the tokenizer's messages */
    int32_t token_count; /* number of slots in token_list_p */
    char **token_list_p;
} pi_csv_line_entry_t;

/* One listed tuning file. */
typedef struct pi_csv_file_entry_s {
    char *file_path_p;    /* directory as given, '/', entry name */
    int32_t column_count; /* N: cells of line 1 */
    int32_t line_count;   /* lines read by the first pass */
} pi_csv_file_entry_t;

/* Lists, checks and loads every tuning file of the directory. */
PLTFM_API pltfm_status_t pi_csv_file_parse_all(const char *dir_path_p);

PLTFM_EXTERN_C_END

#endif /* PI_CSVFILE_PRIVATE_H */
