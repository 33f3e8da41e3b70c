// The tuning files read the simple way, independently of the library's loader, and the SDK
// records a port's lanes must receive from them: the reference the end-to-end and event-order
// tests compare the library's answers with.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "serdes_records.h"

namespace pltfm::test {

// One lane of one column group: the column names and texts, in column order.
using LaneTuning = std::vector<std::pair<std::string, std::string>>;
// "cable|vendor|speed|encoding|front port" -> lanes in file order.
using Reference = std::map<std::string, std::vector<LaneTuning>>;

// Every *.csv of the directory; cells trimmed and upper-cased, separator lines skipped.
Reference read_reference(const std::string &dir);

// "cable|vendor|speed|encoding|front port|lane" -> that lane's tuning: one entry per row the
// files hold, as a tuning tree must hold them.
using Rows = std::map<std::string, LaneTuning>;
Rows read_rows(const std::string &dir);

// The records lanes first to first + n - 1 (by position) must give, in the column order of
// the first lane.
std::vector<Rec> expected(const std::vector<LaneTuning> &lanes, std::size_t first, std::size_t n);

}  // namespace pltfm::test
