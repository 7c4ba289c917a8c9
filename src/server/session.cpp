// The first end of a session, recorded once for every thread, and the
// action a thread is running.
#include "server/session.hpp"

#include <utility>

namespace vantu {

Session::Session() : decided_fd_(new_event_fd()), final_fd_(new_event_fd()) {}

void Session::end(SessionEnd why, std::string text, std::unique_ptr<Handle> exception) {
    std::lock_guard lock(mutex_);
    if (over()) return;
    why_ = why;
    text_ = std::move(text);
    exception_ = std::move(exception);
    over_.store(true, std::memory_order_release);
    // Never read back: the descriptors stay readable for every later wait.
    signal_event(decided_fd_.get());
    if (!action_running_) signal_event(final_fd_.get());
}

void Session::release_exception() {
    std::unique_ptr<Handle> released;
    std::lock_guard lock(mutex_);
    released = std::move(exception_);
}

bool Session::begin_action() {
    std::lock_guard lock(mutex_);
    if (over()) return false;
    action_running_ = true;
    return true;
}

void Session::end_action() {
    std::lock_guard lock(mutex_);
    action_running_ = false;
    if (over()) signal_event(final_fd_.get());
}

namespace {
thread_local const Session* session_in_action = nullptr;
}  // namespace

ActionScope::ActionScope(Session& session) : session_(session), started_(session.begin_action()) {
    if (started_) session_in_action = &session;
}

ActionScope::~ActionScope() {
    if (!started_) return;
    session_in_action = nullptr;
    session_.end_action();
}

bool ActionScope::running(const Session& session) { return session_in_action == &session; }

}  // namespace vantu
