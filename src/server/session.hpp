// One serve loop's session with its client: whether it is over and why.
// The server object, its loop and any thread in wait() share it; it is
// safe to use from every thread.
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

    // The first end is the one kept; later calls change nothing.
    void end(SessionEnd why = SessionEnd::ended, std::string text = {},
             std::unique_ptr<Handle> exception = {});

    bool over() const { return over_.load(std::memory_order_acquire); }
    // Readable from the end on, for any number of waiters.
    int over_fd() const { return over_fd_.get(); }

    // Valid once over() is true; they never change after that.
    SessionEnd why() const { return why_; }
    const std::string& text() const { return text_; }
    const Handle* exception() const { return exception_.get(); }

private:
    std::mutex mutex_;
    std::atomic<bool> over_{false};
    Fd over_fd_;
    SessionEnd why_ = SessionEnd::ended;
    std::string text_;
    std::unique_ptr<Handle> exception_;
};

// Marks the thread as running an action of `session` for its scope. A
// failure inside an action, even one that a callback it made saw first, is
// the action's to report: the loop ends the session with what it raised.
class ActionScope {
public:
    explicit ActionScope(const Session& session);
    ~ActionScope();
    ActionScope(const ActionScope&) = delete;
    ActionScope& operator=(const ActionScope&) = delete;

    static bool running(const Session& session);
};

}  // namespace vantu
