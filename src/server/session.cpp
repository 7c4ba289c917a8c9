// The first end of a session, recorded once for every thread.
#include "server/session.hpp"

#include <utility>

namespace vantu {

Session::Session() : over_fd_(new_event_fd()) {}

void Session::end(SessionEnd why, std::string text, std::unique_ptr<Handle> exception) {
    std::lock_guard lock(mutex_);
    if (over()) return;
    why_ = why;
    text_ = std::move(text);
    exception_ = std::move(exception);
    over_.store(true, std::memory_order_release);
    // Never read back: the descriptor stays readable for every later wait.
    signal_event(over_fd_.get());
}

}  // namespace vantu
