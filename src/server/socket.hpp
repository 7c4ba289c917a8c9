// The TCP operations of the server, on owned descriptors.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "server/address.hpp"
#include "server/deadline.hpp"
#include "server/fd.hpp"
#include "server/poll.hpp"

namespace vantu {

// A listening socket on the first address that binds (address reuse on,
// backlog 128), non-blocking. Throws the last attempt's error, or vantu::Error "could not
// resolve to any addresses" when there was none to try.
Fd listen_on(const std::vector<SocketAddress>& addresses);

// The next connection waiting in the (non-blocking) listener, and its
// peer's address; nothing when none waits. The connection is close-on-exec,
// with TCP_NODELAY and keepalive set.
std::optional<Fd> accept_pending(const Fd& listener, sockaddr_storage& peer);

// Closes a connection with a reset.
void reset_connection(Fd conn);

// Makes a listening socket refuse connections from now on; its descriptor
// stays valid until closed.
void stop_listening(int fd);

// Shuts both directions down. A connection the peer has already reset is
// down already: that is not an error.
void shutdown_both(int fd);

Fd duplicate(int fd);

// The address a socket is bound to: "127.0.0.1:8080", "[::]:8080".
std::string local_address_text(int fd);

}  // namespace vantu
