// The server interface, and the dispatch of one frame through an action
// table.
#pragma once

#include "base/frame.hpp"
#include "binding/gil.hpp"
#include "server/models/widget_registry.hpp"

namespace vantu {

class ServerCom {
public:
    virtual ~ServerCom() = default;
    // Starts serving the held connection in the background.
    virtual void serve() = 0;
};

// Runs the action registered for the frame's identity key with the widget
// event as its one argument, printing a line per step; `gil` is the
// calling thread's hold on the interpreter. A key without an action is not
// an error. When the action raises, throws vantu::Error whose text is the
// exception's type and text ("ValueError: boom").
void execute_action(const ActionTable& table, const Frame& frame, py::ThreadGil& gil);

}  // namespace vantu
