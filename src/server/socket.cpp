#include "server/socket.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

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

}  // namespace

Fd listen_on(const std::vector<SocketAddress>& addresses) {
    if (addresses.empty()) throw Error("could not resolve to any addresses");
    for (std::size_t i = 0;; ++i) {
        try {
            return listen_one(addresses[i]);
        } catch (const OsError&) {
            if (i + 1 == addresses.size()) throw;
        }
    }
}

bool wait_readable(int fd, int timeout_ms) {
    pollfd entry{fd, POLLIN, 0};
    int ready = ::poll(&entry, 1, timeout_ms);
    if (ready < 0 && errno != EINTR) throw OsError(errno);
    return ready > 0;
}

Fd accept_ready(const Fd& listener) {
    Fd conn(check_syscall([&] {
        return ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
    }));
    int on = 1;
    // Result frames are a few dozen bytes: without this they wait for the
    // client's delayed acknowledgement.
    ::setsockopt(conn.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return conn;
}

void send_all(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        ssize_t sent = check_syscall(
            [&] { return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); });
        if (sent == 0) throw Error("failed to write whole buffer");
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
}

void shutdown_both(int fd) {
    if (::shutdown(fd, SHUT_RDWR) < 0 && errno != ENOTCONN) throw OsError(errno);
}

Fd duplicate(int fd) {
    return Fd(check_syscall([&] { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }));
}

}  // namespace vantu
