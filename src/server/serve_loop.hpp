// The background loop started by serve(): it reads frames from the client
// and runs the registered actions, printing a line per step.
#pragma once

#include "server/fd.hpp"
#include "server/models/widget_registry.hpp"
#include "server/stop_channel.hpp"

namespace vantu {

// Starts a detached thread that owns the three items until it ends. Throws
// vantu::Fatal "failed to spawn thread: ..." when no thread can be made.
void start_serve_loop(StopReceiver receiver, Fd connection, ActionTable table);

}  // namespace vantu
