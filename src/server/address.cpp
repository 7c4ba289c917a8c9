#include "server/address.hpp"

#include <arpa/inet.h>
#include <netdb.h>

#include <charconv>
#include <cstring>
#include <optional>
#include <string>

#include "base/error.hpp"

namespace vantu {
namespace {

std::optional<std::uint16_t> parse_port(std::string_view text) {
    std::uint16_t port = 0;
    if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return port;
}

std::optional<SocketAddress> parse_numeric(std::string_view address) {
    std::size_t colon = address.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::optional<std::uint16_t> port = parse_port(address.substr(colon + 1));
    if (!port) return std::nullopt;
    std::string_view host = address.substr(0, colon);
    SocketAddress out;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        std::string text(host.substr(1, host.size() - 2));
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&out.storage);
        if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) != 1) return std::nullopt;
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(*port);
        out.size = sizeof(sockaddr_in6);
        return out;
    }
    std::string text(host);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out.storage);
    if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) != 1) return std::nullopt;
    v4->sin_family = AF_INET;
    v4->sin_port = htons(*port);
    out.size = sizeof(sockaddr_in);
    return out;
}

std::vector<SocketAddress> lookup(const std::string& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        std::string why = rc == EAI_SYSTEM ? os_error_text(errno) : gai_strerror(rc);
        throw Error("failed to lookup address information: " + why);
    }
    std::vector<SocketAddress> out;
    for (addrinfo* ai = found; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
        SocketAddress addr;
        std::memcpy(&addr.storage, ai->ai_addr, ai->ai_addrlen);
        addr.size = ai->ai_addrlen;
        in_port_t net_port = htons(port);
        if (ai->ai_family == AF_INET) {
            reinterpret_cast<sockaddr_in*>(&addr.storage)->sin_port = net_port;
        } else {
            reinterpret_cast<sockaddr_in6*>(&addr.storage)->sin6_port = net_port;
        }
        out.push_back(addr);
    }
    freeaddrinfo(found);
    return out;
}

}  // namespace

std::vector<SocketAddress> resolve_address(std::string_view address) {
    // The C resolvers stop at a NUL byte and would quietly use a shorter host.
    if (address.find('\0') != std::string_view::npos) throw Error("invalid socket address");
    if (std::optional<SocketAddress> numeric = parse_numeric(address)) return {*numeric};
    std::size_t colon = address.rfind(':');
    if (colon == std::string_view::npos) throw Error("invalid socket address");
    std::optional<std::uint16_t> port = parse_port(address.substr(colon + 1));
    if (!port) throw Error("invalid port value");
    return lookup(std::string(address.substr(0, colon)), *port);
}

}  // namespace vantu
