// The TCP operations of the server, on owned descriptors.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "server/address.hpp"
#include "server/deadline.hpp"
#include "server/fd.hpp"
#include "server/poll.hpp"

namespace vantu {

// A listening socket on the first address that binds (address reuse on,
// backlog 128). Throws the last attempt's error, or vantu::Error "could not
// resolve to any addresses" when there was none to try.
Fd listen_on(const std::vector<SocketAddress>& addresses);

// Waits through `waiter` for one client. Nothing when the deadline passes
// first or `cancel_fd` becomes readable. The connection is close-on-exec,
// with TCP_NODELAY and keepalive set.
Fd wait_for_client(const Fd& listener, int cancel_fd, const Deadline& deadline, Waiter& waiter);

// Shuts both directions down. A connection the peer has already reset is
// down already: that is not an error.
void shutdown_both(int fd);

Fd duplicate(int fd);

}  // namespace vantu
