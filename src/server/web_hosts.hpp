// Which names a browser may use for the page. A page reached under a name
// the program did not choose is a DNS rebinding: another site's name that
// now points at this machine, through which that site's script would read
// the page and drive the program. And an upgrade whose Origin is another
// site's is that site's script, in the phone's browser.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vantu {

// Whether a Host header names this machine: an IP address (IPv6 in
// brackets), "localhost", `machine` or `machine`.local, or one of `extra`,
// each without case and with or without a port.
bool host_allowed(std::string_view host, std::string_view machine,
                  std::span<const std::string> extra);

// Whether an Origin header ("http://robot.local:8080") names the same host
// and port as the Host header ("robot.local:8080"), the default ports
// spelt out or not.
bool same_origin(std::string_view origin, std::string_view host);

}  // namespace vantu
