// Parsing numeric addresses and looking up host names.
#include "server/address.hpp"

#include <arpa/inet.h>
#include <netdb.h>

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>

#include "base/error.hpp"
#include "base/texts.hpp"

namespace vantu {

std::optional<std::uint16_t> parse_port(std::string_view text) {
    std::uint16_t port = 0;
    if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return port;
}

namespace {

void set_port(SocketAddress& addr, std::uint16_t port) {
    in_port_t net_port = htons(port);
    if (addr.storage.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&addr.storage)->sin6_port = net_port;
    } else {
        reinterpret_cast<sockaddr_in*>(&addr.storage)->sin_port = net_port;
    }
}

// An IPv4 address, or an IPv6 address in brackets.
std::optional<SocketAddress> parse_ip(std::string_view host) {
    const bool v6 = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    const std::string text(v6 ? host.substr(1, host.size() - 2) : host);
    SocketAddress out;
    void* bytes = v6 ? static_cast<void*>(&reinterpret_cast<sockaddr_in6*>(&out.storage)->sin6_addr)
                     : static_cast<void*>(&reinterpret_cast<sockaddr_in*>(&out.storage)->sin_addr);
    out.storage.ss_family = v6 ? AF_INET6 : AF_INET;
    if (inet_pton(out.storage.ss_family, text.c_str(), bytes) != 1) return std::nullopt;
    out.size = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    return out;
}

std::optional<SocketAddress> parse_numeric(std::string_view address) {
    std::size_t colon = address.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::optional<std::uint16_t> port = parse_port(address.substr(colon + 1));
    std::optional<SocketAddress> out = port ? parse_ip(address.substr(0, colon)) : std::nullopt;
    if (out) set_port(*out, *port);
    return out;
}

std::vector<SocketAddress> lookup(const std::string& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        std::string why = rc == EAI_SYSTEM ? os_error_text(errno) : gai_strerror(rc);
        throw Error(std::string(texts::lookup_failed) + why);
    }
    std::vector<SocketAddress> out;
    for (addrinfo* ai = found; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
        SocketAddress addr;
        std::memcpy(&addr.storage, ai->ai_addr, ai->ai_addrlen);
        addr.size = ai->ai_addrlen;
        set_port(addr, port);
        out.push_back(addr);
    }
    freeaddrinfo(found);
    return out;
}

}  // namespace

bool is_ip_literal(std::string_view host) { return parse_ip(host).has_value(); }

bool is_host_and_port(std::string_view address) {
    const std::size_t colon = address.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || !parse_port(address.substr(colon + 1))) {
        return false;
    }
    const std::string_view host = address.substr(0, colon);
    if (host.front() == '[' || host.find(':') != std::string_view::npos) return is_ip_literal(host);
    for (const char c : host) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !(c >= '0' && c <= '9') && c != '-' && c != '.' && c != '_') return false;
    }
    return true;
}

std::vector<SocketAddress> resolve_address(std::string_view address) {
    // The C resolvers stop at a NUL byte and would quietly use a shorter host.
    if (address.find('\0') != std::string_view::npos) throw Error(std::string(texts::invalid_address));
    if (std::optional<SocketAddress> numeric = parse_numeric(address)) return {*numeric};
    std::size_t colon = address.rfind(':');
    if (colon == std::string_view::npos) throw Error(std::string(texts::invalid_address));
    std::optional<std::uint16_t> port = parse_port(address.substr(colon + 1));
    if (!port) throw Error(std::string(texts::invalid_port));
    return lookup(std::string(address.substr(0, colon)), *port);
}

}  // namespace vantu
