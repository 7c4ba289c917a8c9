// Letting peers in through the listener.
#include "server/listener.hpp"

#include "base/console.hpp"
#include "server/raw_transport.hpp"
#include "server/socket.hpp"

namespace vantu {
namespace {

void refuse(Fd conn, const PeerAddress& peer) {
    reset_connection(std::move(conn));
    std::array<char, 64> text;
    write_line(2, {"Refused a connection from ", peer.text(text), ": not on the allow list"});
}

}  // namespace

Fd accept_allowed(const Fd& listener, const AllowList* allow) {
    sockaddr_storage address{};
    std::optional<Fd> conn = accept_pending(listener, address);
    if (!conn) return Fd();
    const PeerAddress peer = PeerAddress::of(address);
    if (allow && !allow->allows(peer)) {
        refuse(std::move(*conn), peer);
        return Fd();
    }
    return std::move(*conn);
}

Listener::Listener(Fd socket) : socket_(std::move(socket)) {}

void Listener::admit(const AllowList* allow, Admission& admission) {
    if (closed()) return;
    Fd conn = accept_allowed(socket_, allow);
    if (!conn || closed()) return;
    admission.arrive({std::move(conn), raw_transport()});
}

void Listener::close() {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    stop_listening(socket_.get());
}

bool Listener::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

Newcomer wait_for_newcomer(Admission& admission, int cancel_fd, Listener* listener,
                           const AllowList* allow, const Deadline& deadline, Waiter& waiter) {
    for (;;) {
        if (Newcomer newcomer = admission.take()) return newcomer;
        pollfd entries[3] = {{cancel_fd, POLLIN, 0},
                             {admission.newcomer_fd(), POLLIN, 0},
                             {listener ? listener->fd() : -1, POLLIN, 0}};
        if (waiter.wait(entries, deadline) != Woken::ready || entries[0].revents) return {};
        if (entries[2].revents & (POLLERR | POLLHUP | POLLNVAL)) return {};
        if (entries[2].revents) listener->admit(allow, admission);
    }
}

}  // namespace vantu
