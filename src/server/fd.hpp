// File descriptors owned by move-only values, and the one helper through
// which every system call result passes.
#pragma once

#include <cerrno>
#include <optional>
#include <utility>

#include "base/error.hpp"

namespace vantu {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// An eventfd, for waking a poll() on another thread; the wake-up; and
// taking the wake-ups back, so that the descriptor is no longer readable.
Fd new_event_fd();
void signal_event(int fd);
void drain_event(int fd);

// Runs a system call, retrying it when a signal interrupted it (EINTR),
// and throws OsError for any other failure. Waits that must notice signals
// go through poll_until instead.
template <class Call>
auto check_syscall(Call&& call) {
    for (;;) {
        auto result = call();
        if (result >= 0) return result;
        if (errno != EINTR) throw OsError(errno);
    }
}

// The same for a call on a non-blocking descriptor: nothing when it would
// have had to wait (EAGAIN).
template <class Call>
auto check_syscall_unless_busy(Call&& call) -> std::optional<decltype(call())> {
    for (;;) {
        auto result = call();
        if (result >= 0) return result;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
        if (errno != EINTR) throw OsError(errno);
    }
}

}  // namespace vantu
