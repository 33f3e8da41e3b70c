/* Every public header compiles as C and links against libpltfm; a few layout facts are
 * checked again from the C side. */
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

int main(void) {
    return PLTFM_SUCCESS;
}
