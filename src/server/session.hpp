// One session with a client: whether it is over and why. The server
// object, the loops serving it and any thread in wait() share it; it is
// safe to use from every thread.
//
// An end is decided once, by whatever comes first (close(), a takeover,
// the client leaving or going silent, a failure), and no action of the
// session starts after that. The end is final when the action that was
// running, if any, has returned too: wait() waits for that.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "server/fd.hpp"
#include "server/handle.hpp"

namespace vantu {

enum class SessionEnd {
    ended,          // the client left or went silent, close(), or a failure
    action_raised,  // an action raised exception()
    undecodable,    // the client sent bytes that are not a frame: `text`
};

class Session {
public:
    Session();

    // Decides the end; the first one is kept, later calls change nothing.
    void end(SessionEnd why = SessionEnd::ended, std::string text = {},
             std::unique_ptr<Handle> exception = {});

    // Whether the end is decided.
    bool over() const { return over_.load(std::memory_order_acquire); }
    // Readable once the end is final, for any number of waiters.
    int final_fd() const { return final_fd_.get(); }
    // Readable once the end is decided: for a wait inside the session's own
    // action, which cannot wait for that action to return.
    int decided_fd() const { return decided_fd_.get(); }

    // Valid once over() is true; they never change after that.
    SessionEnd why() const { return why_; }
    const std::string& text() const { return text_; }
    const Handle* exception() const { return exception_.get(); }
    // For the garbage collector, breaking a cycle through the exception.
    void release_exception();

private:
    friend class ActionScope;
    // False, and nothing starts, once the end is decided.
    bool begin_action();
    void end_action();

    std::mutex mutex_;
    std::atomic<bool> over_{false};
    bool action_running_ = false;
    Fd decided_fd_;
    Fd final_fd_;
    SessionEnd why_ = SessionEnd::ended;
    std::string text_;
    std::unique_ptr<Handle> exception_;
};

// An action of `session` running on this thread, for the scope; none when
// the session's end was decided before it could start (started() false).
// A failure inside an action, even one that a callback it made saw first,
// is the action's to report: the loop ends the session with what it raised.
class ActionScope {
public:
    explicit ActionScope(Session& session);
    ~ActionScope();
    ActionScope(const ActionScope&) = delete;
    ActionScope& operator=(const ActionScope&) = delete;

    bool started() const { return started_; }
    // Whether this thread is running an action of `session`.
    static bool running(const Session& session);

private:
    Session& session_;
    bool started_;
};

}  // namespace vantu
