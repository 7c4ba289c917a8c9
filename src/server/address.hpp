// Turning "host:port" into socket addresses.
#pragma once

#include <sys/socket.h>

#include <string_view>
#include <vector>

namespace vantu {

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t size = 0;
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// A numeric address ("127.0.0.1:80", "[::1]:80") is used as it is; anything
// else is split at its last colon and the host resolved. Throws vantu::Error
// ("invalid socket address", "invalid port value", "failed to lookup
// address information: ...").
std::vector<SocketAddress> resolve_address(std::string_view address);

}  // namespace vantu
