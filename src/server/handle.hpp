// What the binding layer keeps for the server, such as the exception an
// action raised: the server moves it between threads and drops it, and
// never looks inside.
#pragma once

namespace vantu {

class Handle {
public:
    // May run on any thread: the binding's handles defer what needs more.
    virtual ~Handle() = default;
};

}  // namespace vantu
