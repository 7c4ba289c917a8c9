// What serve() hands a new serve loop.
#pragma once

#include <memory>

#include "server/action_runner.hpp"
#include "server/admission.hpp"
#include "server/allow_list.hpp"
#include "server/listener.hpp"
#include "server/loop_settings.hpp"
#include "server/models/action_table.hpp"
#include "server/served_connection.hpp"

namespace vantu {

// The loop owns it until it ends.
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

}  // namespace vantu
