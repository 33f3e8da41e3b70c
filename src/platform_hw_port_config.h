// The SKU's port configuration file read in-process, for the native I/O mode: the same answer
// as the pipeline `grep "Ethernet<n> " <file> | awk '{print $4}'` gives, without a process.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pltfm::hw::port_config {

// What the pipeline prints first, its line feed included: the fourth blank-separated column
// of the first line that contains `pattern` (empty when the line has fewer columns). nullopt
// when it prints nothing: no such file, no such line, or a file grep takes for binary (a NUL
// byte anywhere, or a matching line that is not valid UTF-8 under a UTF-8 locale). The file
// is read again only when it changed since the last call.
std::optional<std::string> fourth_column(const std::string &path, std::string_view pattern);

}  // namespace pltfm::hw::port_config
