// The first end of a session, recorded once for every thread, and the
// action a thread is running.
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

namespace {
thread_local const Session* session_in_action = nullptr;
}  // namespace

ActionScope::ActionScope(const Session& session) { session_in_action = &session; }
ActionScope::~ActionScope() { session_in_action = nullptr; }
bool ActionScope::running(const Session& session) { return session_in_action == &session; }

}  // namespace vantu
