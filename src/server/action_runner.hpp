// How the serve loop runs an action: the one place where a frame reaches
// the program. The binding's runner takes the interpreter lock, turns the
// event into its Python object and calls the callable.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/widget_kinds.hpp"
#include "server/handle.hpp"
#include "server/models/action_table.hpp"

namespace vantu {

// What an action raised: its text as the loop reports it ("ValueError:
// boom") and the exception itself, for wait().
struct ActionFailure {
    std::string text;
    std::unique_ptr<Handle> exception;
};

// One per serve loop, used on the loop's thread only.
class ActionRunner {
public:
    virtual ~ActionRunner() = default;

    // Runs `action` with the event as its one argument.
    virtual std::optional<ActionFailure> run(const Action& action,
                                             const WidgetRegistry& event) = 0;
    // Before the loop waits: gives back what run() may keep between the
    // frames of one burst (the interpreter lock).
    virtual void pause() = 0;
    // At the loop's end, once it has dropped its table.
    virtual void finish() = 0;
};

}  // namespace vantu
