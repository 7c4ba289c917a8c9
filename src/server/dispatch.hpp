// The dispatch of one frame through an action table.
#pragma once

#include <optional>

#include "base/console.hpp"
#include "base/frame.hpp"
#include "server/action_runner.hpp"
#include "server/models/action_table.hpp"

namespace vantu {

// Runs the action registered for the frame's identity key through `runner`,
// printing the frame's progress lines, from "Found frame" to "done". A key
// without an action is not a failure.
std::optional<ActionFailure> execute_action(const FrameIndex& actions, const Frame& frame,
                                            ActionRunner& runner, const Progress& progress);

}  // namespace vantu
