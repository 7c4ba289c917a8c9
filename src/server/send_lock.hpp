// The lock that keeps one frame on the wire at a time. Taking it free costs
// one atomic operation; a thread that finds it held waits on a descriptor,
// through the same waiter as for socket room, so that the wait gives the
// interpreter lock back and ends on a signal, a cancellation or a deadline.
#pragma once

#include <atomic>

#include "server/fd.hpp"

namespace vantu {

class SendLock {
public:
    SendLock();

    bool try_lock();
    void unlock();
    // Readable after an unlock that a waiter may have missed; consume() before
    // trying again. Spurious wake-ups are harmless: the waiter tries again.
    int wake_fd() const { return wake_.get(); }
    void consume_wake() const;
    // Marks the lock as wanted by a waiter, so that the next unlock wakes it;
    // true when it was free, and is now held by the caller.
    bool lock_or_mark_wanted();

private:
    // 0 free, 1 held, 2 held and wanted.
    std::atomic<int> state_{0};
    Fd wake_;
};

}  // namespace vantu
