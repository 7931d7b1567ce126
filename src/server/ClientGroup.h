#pragma once
// Who counts as one client for the service's limits (submissions a second, ladder
// entries a day, open connections).

#include <string>
#include <string_view>

namespace morvane {

// An IPv4 address stands for itself. An IPv6 address stands for its /64: a host
// is handed a whole /64 and may take any address in it, so counting single
// addresses would let one client spread over as many limits as it likes. An
// IPv4-mapped IPv6 address is its IPv4 address. Anything else is its own text.
std::string clientGroup(std::string_view address);

} // namespace morvane
