// A mutex with a descriptor to wait on, for frames sent from several threads.
#include "server/send_lock.hpp"

namespace vantu {

SendLock::SendLock() : wake_(new_event_fd()) {}

bool SendLock::try_lock() {
    int free = 0;
    return state_.compare_exchange_strong(free, 1, std::memory_order_acquire);
}

bool SendLock::lock_or_mark_wanted() {
    return state_.exchange(2, std::memory_order_acquire) == 0;
}

void SendLock::unlock() {
    if (state_.exchange(0, std::memory_order_release) == 2) signal_event(wake_.get());
}

void SendLock::consume_wake() const { drain_event(wake_.get()); }

}  // namespace vantu
