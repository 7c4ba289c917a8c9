// The app's transport: MessagePack frames back to back on the TCP stream,
// in both directions, with nothing around them.
#pragma once

#include <memory>

#include "server/transport.hpp"

namespace vantu {

// A partial frame longer than this is refused instead of growing without
// bound.
inline constexpr std::size_t raw_max_pending = 64 * 1024;

std::shared_ptr<const Transport> raw_transport();

}  // namespace vantu
