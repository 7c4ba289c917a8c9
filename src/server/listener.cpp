// Letting peers in through the listener, and handing a newcomer over.
#include "server/listener.hpp"

#include <cstdint>
#include <unistd.h>

#include "base/console.hpp"
#include "server/socket.hpp"

namespace vantu {
namespace {

void refuse(Fd conn, const PeerAddress& peer) {
    reset_connection(std::move(conn));
    std::array<char, 64> text;
    write_line(2, {"Refused a connection from ", peer.text(text), ": not on the allow list"});
}

void drain_event(int fd) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
}

}  // namespace

Listener::Listener(Fd socket) : socket_(std::move(socket)), newcomer_event_(new_event_fd()) {}

void Listener::admit(const AllowList* allow) {
    if (closed()) return;
    sockaddr_storage address{};
    std::optional<Fd> conn = accept_pending(socket_, address);
    if (!conn) return;
    const PeerAddress peer = PeerAddress::of(address);
    if (allow && !allow->allows(peer)) return refuse(std::move(*conn), peer);
    std::shared_ptr<Session> replaced;
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        newcomer_ = std::move(*conn);
        signal_event(newcomer_event_.get());
        replaced = serving_.lock();
        serving_.reset();
    }
    // The serve loop sees its session end and shuts its connection down.
    if (replaced) replaced->end();
}

Fd Listener::take() {
    std::lock_guard lock(mutex_);
    if (newcomer_) drain_event(newcomer_event_.get());
    return std::move(newcomer_);
}

Fd Listener::wait(int cancel_fd, const AllowList* allow, const Deadline& deadline,
                  Waiter& waiter) {
    for (;;) {
        if (Fd conn = take()) return conn;
        pollfd entries[3] = {{cancel_fd, POLLIN, 0},
                             {newcomer_event_.get(), POLLIN, 0},
                             {socket_.get(), POLLIN, 0}};
        if (waiter.wait(entries, deadline) != Woken::ready || entries[0].revents) return Fd();
        if (entries[2].revents & (POLLERR | POLLHUP | POLLNVAL)) return Fd();
        if (entries[2].revents) admit(allow);
    }
}

void Listener::serve(const std::shared_ptr<Session>& session) {
    std::lock_guard lock(mutex_);
    serving_ = session;
}

void Listener::close() {
    Fd dropped;
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    stop_listening(socket_.get());
    if (newcomer_) drain_event(newcomer_event_.get());
    dropped = std::move(newcomer_);
}

bool Listener::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

}  // namespace vantu
