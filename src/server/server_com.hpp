// The server interface, and the dispatch of one frame through an action
// table.
#pragma once

#include <optional>
#include <string>

#include "base/console.hpp"
#include "base/frame.hpp"
#include "binding/gil.hpp"
#include "binding/pending_release.hpp"
#include "server/models/widget_registry.hpp"

namespace vantu {

class ServerCom {
public:
    virtual ~ServerCom() = default;
    // Starts serving the held connection in the background.
    virtual void serve() = 0;
};

// What an action raised: the exception, with its traceback, and its text
// as the loop reports it ("ValueError: boom").
struct ActionFailure {
    std::string text;
    py::CaughtException exception;
};

// Runs the action registered for the frame's identity key with the widget
// event as its one argument, printing a line per step; `gil` is the
// calling thread's hold on the interpreter. A key without an action is not
// a failure.
std::optional<ActionFailure> execute_action(const FrameIndex& actions, const Frame& frame,
                                            py::ThreadGil& gil, const Progress& progress);

}  // namespace vantu
