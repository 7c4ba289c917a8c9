// The browser's transport: each frame travels as one binary WebSocket
// message, in both directions, after the HTTP upgrade.
#pragma once

#include <memory>

#include "server/transport.hpp"

namespace vantu {

// One per connection: it remembers whether its closing frame went out.
std::shared_ptr<const Transport> websocket_transport();

}  // namespace vantu
