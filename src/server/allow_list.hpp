// Which peers may connect: addresses and networks in CIDR form, IPv4 and
// IPv6, checked against each accepted connection's peer address.
#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantu {

// A peer as the allow list sees it: an IPv4-mapped IPv6 address
// (::ffff:a.b.c.d) is the IPv4 address it carries, so that a dual-stack
// listener matches IPv4 entries.
struct PeerAddress {
    sa_family_t family = AF_UNSPEC;
    std::array<std::uint8_t, 16> bytes{};  // the first 4 for IPv4
    std::uint16_t port = 0;

    static PeerAddress of(const sockaddr_storage& peer);
    // "192.168.1.20 port 51234", "fe80::1 port 51234": for messages.
    std::string_view text(std::array<char, 64>& out) const;
};

class AllowList {
public:
    // Adds "192.168.1.0/24", "127.0.0.1", "::1" or "fe80::/10"; a bare
    // address is its own /32 or /128. False, and nothing added, for
    // anything else.
    bool add(std::string_view entry);
    bool allows(const PeerAddress& peer) const;
    // As they were added.
    const std::vector<std::string>& entries() const { return entries_; }

private:
    struct Network {
        sa_family_t family;
        std::array<std::uint8_t, 16> bytes;
        unsigned prefix;
    };
    std::vector<Network> networks_;
    std::vector<std::string> entries_;
};

}  // namespace vantu
