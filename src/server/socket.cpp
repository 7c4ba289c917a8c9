// The server's TCP operations on owned descriptors.
#include "server/socket.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdio>
#include <string>

#include "base/texts.hpp"
#include "server/allow_list.hpp"

namespace vantu {
namespace {

Fd listen_one(const SocketAddress& addr) {
    Fd fd(check_syscall([&] {
        return ::socket(addr.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
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

std::optional<Fd> accept_pending(const Fd& listener, sockaddr_storage& peer) {
    socklen_t size = sizeof peer;
    const auto fd = check_syscall_unless_busy([&] {
        return ::accept4(listener.get(), reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    });
    if (!fd) return std::nullopt;
    Fd conn(*fd);
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

void reset_connection(Fd conn) {
    // A zero linger time makes close() send a reset and keep no state
    // behind, however many connections are turned away.
    const linger abort{1, 0};
    ::setsockopt(conn.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

void stop_listening(int fd) {
    // A listening socket that is shut down leaves the listening state at
    // once, also while another descriptor still refers to it.
    ::shutdown(fd, SHUT_RDWR);
}

void shutdown_both(int fd) {
    if (::shutdown(fd, SHUT_RDWR) < 0 && errno != ENOTCONN) throw OsError(errno);
}

std::string local_address_text(int fd) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    check_syscall([&] { return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size); });
    const PeerAddress local = PeerAddress::of(address);
    char host[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(local.family, local.bytes.data(), host, sizeof host);
    char text[INET6_ADDRSTRLEN + 16];
    std::snprintf(text, sizeof text, local.family == AF_INET6 ? "[%s]:%u" : "%s:%u", host,
                  unsigned{local.port});
    return text;
}

Fd duplicate(int fd) {
    return Fd(check_syscall([&] { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }));
}

}  // namespace vantu
