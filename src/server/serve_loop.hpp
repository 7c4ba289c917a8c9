// The background loop started by serve(): it reads frames from the client
// and runs the registered actions, printing a line per step.
#pragma once

#include "server/loop_start.hpp"

namespace vantu {

// Starts a detached thread that owns `start` until it ends. Throws
// vantu::Fatal "failed to spawn thread: ..." when no thread can be made.
void start_serve_loop(LoopStart start);

}  // namespace vantu
