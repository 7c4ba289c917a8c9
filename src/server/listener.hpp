// The listening socket of accept() and, when a returning phone may take
// the place of the one being served, of the serve loop: it lets allowed
// peers in, to wait in the Admission until accept() takes them, and turns
// the others away. Shared by the server object, its accept() calls and its
// loop.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

#include "server/admission.hpp"
#include "server/allow_list.hpp"
#include "server/deadline.hpp"
#include "server/fd.hpp"
#include "server/poll.hpp"

namespace vantu {

class Listener {
public:
    explicit Listener(Fd socket);

    int fd() const { return socket_.get(); }

    // Accepts one waiting connection, if there is one. A peer that `allow`
    // (when given) refuses is reset at once and named on standard error;
    // an allowed one arrives in `admission`.
    void admit(const AllowList* allow, Admission& admission);

    // Stops listening, for every holder.
    void close();
    bool closed() const;

private:
    Fd socket_;
    mutable std::mutex mutex_;
    bool closed_ = false;
};

// Accepts a waiting connection and checks its peer against `allow`: the
// connection, or nothing (none waited, or the peer was turned away).
Fd accept_allowed(const Fd& listener, const AllowList* allow);

// Waits through `waiter` for a newcomer in `admission` and takes it,
// letting in the peers that `listener` (if any) accepts; nothing when the
// deadline passes first, `cancel_fd` becomes readable or the listener
// closes.
Newcomer wait_for_newcomer(Admission& admission, int cancel_fd, Listener* listener,
                           const AllowList* allow, const Deadline& deadline, Waiter& waiter);

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
