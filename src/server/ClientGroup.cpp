#include "server/ClientGroup.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

namespace morvane {

std::string clientGroup(std::string_view address) {
    if (address.find(':') == std::string_view::npos || address.size() >= INET6_ADDRSTRLEN)
        return std::string(address);
    std::string text(address);
    in6_addr bytes{};
    if (::inet_pton(AF_INET6, text.c_str(), &bytes) != 1)
        return text;
    char out[INET6_ADDRSTRLEN] = {};
    if (IN6_IS_ADDR_V4MAPPED(&bytes)) {
        ::inet_ntop(AF_INET, &bytes.s6_addr[12], out, sizeof out);
        return out;
    }
    std::fill(bytes.s6_addr + 8, bytes.s6_addr + 16, uint8_t{0});
    ::inet_ntop(AF_INET6, &bytes, out, sizeof out);
    return std::string(out) + "/64";
}

} // namespace morvane
