// The server's TCP operations on owned descriptors.
#include "server/socket.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstddef>
#include <string>

#include "base/texts.hpp"

namespace vantu {
namespace {

Fd listen_one(const SocketAddress& addr) {
    Fd fd(check_syscall([&] {
        return ::socket(addr.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    }));
    int on = 1;
    check_syscall([&] { return ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on); });
    check_syscall([&] { return ::bind(fd.get(), addr.get(), addr.size); });
    check_syscall([&] { return ::listen(fd.get(), 128); });
    return fd;
}

void set_option(int fd, int level, int name, int value) {
    ::setsockopt(fd, level, name, &value, sizeof value);
}

}  // namespace

Fd listen_on(const std::vector<SocketAddress>& addresses) {
    if (addresses.empty()) throw Error(std::string(texts::no_addresses));
    for (std::size_t i = 0;; ++i) {
        try {
            return listen_one(addresses[i]);
        } catch (const OsError&) {
            if (i + 1 == addresses.size()) throw;
        }
    }
}

namespace {

Fd accept_ready(const Fd& listener) {
    Fd conn(check_syscall([&] {
        return ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
    }));
    // Both options are refinements: a kernel that refuses one still serves.
    // Result frames are a few dozen bytes: without TCP_NODELAY they wait
    // for the client's delayed acknowledgement.
    set_option(conn.get(), IPPROTO_TCP, TCP_NODELAY, 1);
    // A phone that vanishes from the network sends no end of stream. Probes
    // after 10 idle seconds, 5 of them 2 seconds apart, let the kernel
    // notice within about 20 seconds; a live peer answers them unseen.
    set_option(conn.get(), SOL_SOCKET, SO_KEEPALIVE, 1);
    set_option(conn.get(), IPPROTO_TCP, TCP_KEEPIDLE, 10);
    set_option(conn.get(), IPPROTO_TCP, TCP_KEEPINTVL, 2);
    set_option(conn.get(), IPPROTO_TCP, TCP_KEEPCNT, 5);
    return conn;
}

}  // namespace

Fd wait_for_client(const Fd& listener, int cancel_fd, const Deadline& deadline, Waiter& waiter) {
    pollfd entries[2] = {{listener.get(), POLLIN, 0}, {cancel_fd, POLLIN, 0}};
    if (waiter.wait(entries, deadline) != Woken::ready || !entries[0].revents) return Fd();
    return accept_ready(listener);
}

bool send_all(int fd, std::span<const std::uint8_t> bytes, const Deadline& deadline) {
    while (!bytes.empty()) {
        const auto sent = check_syscall_unless_busy(
            [&] { return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT); });
        if (!sent) {
            pollfd entry{fd, POLLOUT, 0};
            if (poll_until({&entry, 1}, deadline, OnSignal::retry) == Woken::timed_out) return false;
            continue;
        }
        if (*sent == 0) throw Error(std::string(texts::write_incomplete));
        bytes = bytes.subspan(static_cast<std::size_t>(*sent));
    }
    return true;
}

void shutdown_both(int fd) {
    if (::shutdown(fd, SHUT_RDWR) < 0 && errno != ENOTCONN) throw OsError(errno);
}

Fd duplicate(int fd) {
    return Fd(check_syscall([&] { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }));
}

}  // namespace vantu
