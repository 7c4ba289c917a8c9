// Parsing allow list entries and matching peers against them.
#include "server/allow_list.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>
#include <cstring>
#include <optional>

namespace vantu {
namespace {

constexpr std::array<std::uint8_t, 12> mapped_prefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool is_mapped(const std::uint8_t* bytes) {
    return std::memcmp(bytes, mapped_prefix.data(), mapped_prefix.size()) == 0;
}

std::optional<unsigned> parse_prefix(std::string_view text, unsigned longest) {
    unsigned prefix = 0;
    if (text.empty() || text.size() > 3 || text.front() < '0' || text.front() > '9') return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), prefix);
    if (ec != std::errc() || end != text.data() + text.size() || prefix > longest) return std::nullopt;
    return prefix;
}

// Clears the bits after the prefix, so that "10.1.2.3/8" is 10.0.0.0/8.
void mask(std::array<std::uint8_t, 16>& bytes, unsigned prefix) {
    for (unsigned bit = prefix; bit < bytes.size() * 8; ++bit) {
        bytes[bit / 8] &= static_cast<std::uint8_t>(~(0x80u >> (bit % 8)));
    }
}

bool same_prefix(const std::array<std::uint8_t, 16>& a, const std::array<std::uint8_t, 16>& b,
                 unsigned prefix) {
    const unsigned whole = prefix / 8;
    if (std::memcmp(a.data(), b.data(), whole) != 0) return false;
    if (prefix % 8 == 0) return true;
    const auto keep = static_cast<std::uint8_t>(0xff00u >> (prefix % 8));
    return (a[whole] & keep) == (b[whole] & keep);
}

}  // namespace

PeerAddress PeerAddress::of(const sockaddr_storage& peer) {
    PeerAddress out;
    if (peer.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(peer);
        out.family = AF_INET;
        std::memcpy(out.bytes.data(), &v4.sin_addr, 4);
        out.port = ntohs(v4.sin_port);
    } else if (peer.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(peer);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&v6.sin6_addr);
        out.family = is_mapped(bytes) ? AF_INET : AF_INET6;
        if (out.family == AF_INET) std::memcpy(out.bytes.data(), bytes + 12, 4);
        else std::memcpy(out.bytes.data(), bytes, 16);
        out.port = ntohs(v6.sin6_port);
    }
    return out;
}

std::string_view PeerAddress::text(std::array<char, 64>& out) const {
    if (!inet_ntop(family, bytes.data(), out.data(), INET6_ADDRSTRLEN)) return "an unknown address";
    std::size_t size = std::strlen(out.data());
    constexpr std::string_view port_word = " port ";
    std::memcpy(out.data() + size, port_word.data(), port_word.size());
    size += port_word.size();
    size = std::to_chars(out.data() + size, out.data() + out.size(), port).ptr - out.data();
    return {out.data(), size};
}

bool AllowList::add(std::string_view entry) {
    const std::size_t slash = entry.find('/');
    const std::string address(entry.substr(0, slash));
    if (address.find('\0') != std::string::npos) return false;
    Network net{AF_INET, {}, 32};
    if (inet_pton(AF_INET, address.c_str(), net.bytes.data()) != 1) {
        net = {AF_INET6, {}, 128};
        if (inet_pton(AF_INET6, address.c_str(), net.bytes.data()) != 1) return false;
    }
    if (slash != std::string_view::npos) {
        const auto prefix = parse_prefix(entry.substr(slash + 1), net.prefix);
        if (!prefix) return false;
        net.prefix = *prefix;
    }
    // "::ffff:10.0.0.0/104" names IPv4 peers, which are matched as IPv4.
    if (net.family == AF_INET6 && net.prefix >= 96 && is_mapped(net.bytes.data())) {
        std::memmove(net.bytes.data(), net.bytes.data() + 12, 4);
        std::memset(net.bytes.data() + 4, 0, 12);
        net.family = AF_INET;
        net.prefix -= 96;
    }
    mask(net.bytes, net.prefix);
    networks_.push_back(net);
    entries_.emplace_back(entry);
    return true;
}

bool AllowList::allows(const PeerAddress& peer) const {
    for (const Network& net : networks_) {
        if (net.family == peer.family && same_prefix(net.bytes, peer.bytes, net.prefix)) return true;
    }
    return false;
}

}  // namespace vantu
