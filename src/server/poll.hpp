// Waiting for descriptors until a deadline, and the waits that callers from
// Python make through the binding.
#pragma once

#include <poll.h>

#include <span>

#include "server/deadline.hpp"

namespace vantu {

enum class Woken { ready, timed_out, interrupted };

// What EINTR means to a wait: the serve thread has no signal handlers to
// run and waits on; a thread of the Python program must return to run them.
enum class OnSignal { retry, wake };

// One wait until a descriptor has an event or the deadline passes. Throws
// OsError when poll itself fails.
Woken poll_until(std::span<pollfd> fds, const Deadline& deadline, OnSignal on_signal);

// How an operation called from Python blocks: the binding's waiter gives
// the interpreter lock back for the wait and runs signal handlers when one
// interrupts it (and may throw from them). Returns ready or timed_out.
class Waiter {
public:
    virtual Woken wait(std::span<pollfd> fds, const Deadline& deadline) = 0;

protected:
    ~Waiter() = default;
};

// How a thread without Python waits (the serve thread): there is no lock
// to hand back and no signal handler of its own to run.
class PlainWaiter final : public Waiter {
public:
    Woken wait(std::span<pollfd> fds, const Deadline& deadline) override {
        return poll_until(fds, deadline, OnSignal::retry);
    }
};

}  // namespace vantu
