// The listening socket of accept() and, when a returning phone may take
// the place of the one being served, of the serve loop: it lets allowed
// peers in, turns the others away, and holds a newcomer until accept()
// takes it. Shared by the server object, its accept() calls and its loop.
#pragma once

#include <memory>
#include <mutex>

#include "server/allow_list.hpp"
#include "server/deadline.hpp"
#include "server/fd.hpp"
#include "server/poll.hpp"
#include "server/session.hpp"

namespace vantu {

class Listener {
public:
    explicit Listener(Fd socket);

    int fd() const { return socket_.get(); }

    // Accepts one waiting connection, if there is one. A peer that `allow`
    // (when given) refuses is reset at once and named on standard error;
    // an allowed one waits here for take(), replacing an earlier one, and
    // ends the session that serve() named.
    void admit(const AllowList* allow);
    // The newcomer admit() let in, if one waits.
    Fd take();
    // Waits through `waiter` for an allowed newcomer and takes it; nothing
    // when the deadline passes first, `cancel_fd` becomes readable or the
    // listener is closed.
    Fd wait(int cancel_fd, const AllowList* allow, const Deadline& deadline, Waiter& waiter);

    // The session that a newcomer ends.
    void serve(const std::shared_ptr<Session>& session);
    // Stops listening, for every holder, and drops a waiting newcomer.
    void close();
    bool closed() const;

private:
    Fd socket_;
    mutable std::mutex mutex_;
    bool closed_ = false;
    Fd newcomer_;
    // Readable while a newcomer waits.
    Fd newcomer_event_;
    std::weak_ptr<Session> serving_;
};

// The server's hold on its listener: letting go of it closes the listener,
// also for a serve loop that still has it.
class KeptListener {
public:
    KeptListener() = default;
    KeptListener(KeptListener&&) noexcept = default;
    KeptListener& operator=(KeptListener&& other) noexcept {
        close();
        listener_ = std::move(other.listener_);
        return *this;
    }
    ~KeptListener() { close(); }

    void keep(std::shared_ptr<Listener> listener) { listener_ = std::move(listener); }
    const std::shared_ptr<Listener>& get() const { return listener_; }
    void close() {
        if (listener_) listener_->close();
        listener_.reset();
    }

private:
    std::shared_ptr<Listener> listener_;
};

}  // namespace vantu
