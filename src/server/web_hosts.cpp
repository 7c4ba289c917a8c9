// Host and Origin headers against the names of this machine.
#include "server/web_hosts.hpp"

#include <algorithm>
#include <optional>

#include "base/http_request.hpp"
#include "server/address.hpp"

namespace vantu {
namespace {

using http::equal_ignoring_case;

struct HostPort {
    std::string_view host;
    std::optional<std::uint16_t> port;  // none when not given
};

// "name", "name:80", "[::1]", "[::1]:80"; nothing for a port that is not
// one.
std::optional<HostPort> split(std::string_view text) {
    std::size_t colon = text.rfind(':');
    // A colon inside brackets belongs to an IPv6 address.
    if (colon != std::string_view::npos && text.front() == '[' && text.rfind(']') > colon) {
        colon = std::string_view::npos;
    }
    if (colon == std::string_view::npos) return HostPort{text, std::nullopt};
    const std::optional<std::uint16_t> port = parse_port(text.substr(colon + 1));
    if (!port) return std::nullopt;
    return HostPort{text.substr(0, colon), port};
}

}  // namespace

bool host_allowed(std::string_view host, std::string_view machine,
                  std::span<const std::string> extra) {
    if (host.empty()) return false;
    const std::optional<HostPort> parts = split(host);
    if (!parts || parts->host.empty()) return false;
    const std::string_view name = parts->host;
    if (is_ip_literal(name) || equal_ignoring_case(name, "localhost")) return true;
    if (!machine.empty()) {
        if (equal_ignoring_case(name, machine)) return true;
        if (name.size() == machine.size() + 6 && equal_ignoring_case(name.substr(0, machine.size()), machine) &&
            equal_ignoring_case(name.substr(machine.size()), ".local")) {
            return true;
        }
    }
    return std::any_of(extra.begin(), extra.end(),
                       [&](const std::string& allowed) { return equal_ignoring_case(name, allowed); });
}

bool same_origin(std::string_view origin, std::string_view host) {
    std::uint16_t default_port = 0;
    if (origin.starts_with("http://")) {
        origin.remove_prefix(7);
        default_port = 80;
    } else if (origin.starts_with("https://")) {
        origin.remove_prefix(8);
        default_port = 443;
    } else {
        return false;  // "null", and schemes no page of ours has
    }
    const std::optional<HostPort> from = split(origin);
    const std::optional<HostPort> to = split(host);
    if (!from || !to || from->host.empty()) return false;
    // A Host without a port is the scheme's default port, behind a proxy
    // that speaks TLS as well.
    const std::uint16_t port = from->port.value_or(default_port);
    return equal_ignoring_case(from->host, to->host) && (to->port ? port == *to->port : port == default_port);
}

}  // namespace vantu
