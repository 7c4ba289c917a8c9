// Closing descriptors, and the eventfds that wake waits on other threads.
#include "server/fd.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace vantu {

void Fd::reset(int fd) {
    // close() is not retried on EINTR: on Linux the descriptor is released
    // whatever it reports.
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

Fd new_event_fd() {
    return Fd(check_syscall([] { return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }));
}

void drain_event(int fd) {
    // Another waiter may have drained it first: EAGAIN is fine.
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
}

void signal_event(int fd) {
    // A full counter still leaves the descriptor readable, which is all a
    // waiter needs, so the result does not matter.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

}  // namespace vantu
