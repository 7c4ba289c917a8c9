// The background loop started by serve(): it reads frames from the client
// and runs the registered actions, printing a line per step.
#pragma once

#include <memory>

#include "server/action_runner.hpp"
#include "server/allow_list.hpp"
#include "server/listener.hpp"
#include "server/loop_settings.hpp"
#include "server/models/action_table.hpp"
#include "server/served_connection.hpp"

namespace vantu {

// What serve() hands the loop; the loop owns it until it ends.
struct LoopStart {
    std::shared_ptr<ServedConnection> served;
    ServedConnection::Serving serving;
    ActionTable table;
    LoopSettings settings;
    std::unique_ptr<ActionRunner> runner;
    // With takeover: the listener the loop watches, where it lets allowed
    // newcomers into the admission, the peers allowed, and whether the loop
    // watches for a newcomer that ends the session.
    std::shared_ptr<Listener> listener = nullptr;
    std::shared_ptr<Admission> admission = nullptr;
    std::shared_ptr<const AllowList> allow = nullptr;
    bool takeover = false;
};

// Starts a detached thread that owns `start` until it ends. Throws
// vantu::Fatal "failed to spawn thread: ..." when no thread can be made.
void start_serve_loop(LoopStart start);

}  // namespace vantu
