// The background loop started by serve(): it reads frames from the client
// and runs the registered actions, printing a line per step.
#pragma once

#include <memory>

#include "server/action_runner.hpp"
#include "server/allow_list.hpp"
#include "server/fd.hpp"
#include "server/listener.hpp"
#include "server/loop_settings.hpp"
#include "server/models/action_table.hpp"
#include "server/session.hpp"
#include "server/stop_channel.hpp"

namespace vantu {

// What serve() hands the loop; the thread owns it until it ends.
struct LoopStart {
    StopReceiver receiver;
    Fd connection;
    ActionTable table;
    LoopSettings settings;
    std::shared_ptr<Session> session;
    std::unique_ptr<ActionRunner> runner;
    // With takeover: the listener the loop watches through the session, so
    // that an allowed newcomer ends it, and the peers allowed.
    std::shared_ptr<Listener> listener = nullptr;
    std::shared_ptr<const AllowList> allow = nullptr;
};

// Starts a detached thread that owns `start` until it ends. Throws
// vantu::Fatal "failed to spawn thread: ..." when no thread can be made.
void start_serve_loop(LoopStart start);

}  // namespace vantu
