// Lookups of the live tuning tree for checks beside port pre-initialisation, under the
// facade's lock like every lookup: the rows a port would get, without a message, and where
// its rows were read.
#pragma once

#include <string>

#include "platform_types.h"

namespace pltfm::database {

// pltfm_parser_database_get without messages.
pltfm_status_t get_quietly(const pltfm_attr_t *keys, uint32_t key_count, pltfm_attr_t *rows,
                           uint32_t *row_count) noexcept;

// Where the rows of the port the seven keys name were read, as "<file>:<lines>", files in the
// order of the port's lanes and their lines as ranges ("generic_optics.csv:14-21"); empty
// when the port has no rows or they were not read from files. Characters of file names that
// could not stand inside double quotes on a command line show as '?'.
std::string tuning_rows_text(const pltfm_attr_t *keys, uint32_t key_count) noexcept;

}  // namespace pltfm::database
