// Turning "host:port" into socket addresses.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vantu {

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t size = 0;
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// A port number from 0 to 65535 in decimal, nothing else.
std::optional<std::uint16_t> parse_port(std::string_view text);
// An IPv4 address, or an IPv6 address in brackets.
bool is_ip_literal(std::string_view host);
// A host (a name, an IPv4 address, an IPv6 address in brackets), a colon
// and a port: checked without a lookup.
bool is_host_and_port(std::string_view address);

// A numeric address ("127.0.0.1:80", "[::1]:80") is used as it is; anything
// else is split at its last colon and the host resolved. Throws vantu::Error
// ("invalid socket address", "invalid port value", "failed to lookup
// address information: ...").
std::vector<SocketAddress> resolve_address(std::string_view address);

}  // namespace vantu
