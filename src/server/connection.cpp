// Sending whole frames on the held connection, from any number of threads.
#include "server/connection.hpp"

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>

#include "base/texts.hpp"
#include "server/socket.hpp"

namespace vantu {

Connection::Connection(Fd fd) : fd_(std::move(fd)), cancel_(new_event_fd()) {}

void Connection::cancel_sends() {
    cancelled_.store(true, std::memory_order_release);
    signal_event(cancel_.get());
}

void Connection::shut_down() {
    broken_.store(true, std::memory_order_release);
    try {
        shutdown_both(fd_.get());
    } catch (const OsError&) {
        // What ended the frame is the failure to report; a connection that
        // cannot even be shut down is no use either way.
    }
}

Sent Connection::wait_for(int fd, short events, const Deadline& deadline, Waiter& waiter) {
    pollfd entries[2] = {{fd, events, 0}, {cancel_.get(), POLLIN, 0}};
    if (waiter.wait(entries, deadline) == Woken::timed_out) return Sent::timed_out;
    return entries[1].revents ? Sent::cancelled : Sent::whole;
}

Sent Connection::lock(const Deadline& deadline, Waiter& waiter) {
    if (send_lock_.try_lock()) return Sent::whole;
    while (!send_lock_.lock_or_mark_wanted()) {
        const Sent woken = wait_for(send_lock_.wake_fd(), POLLIN, deadline, waiter);
        if (woken != Sent::whole) return woken;
        send_lock_.consume_wake();
    }
    return Sent::whole;
}

namespace {

// What is left of a head and its frame once `written` bytes are out.
std::size_t rest_of(std::span<const std::uint8_t> head, std::span<const std::uint8_t> frame,
                    std::size_t written, iovec (&parts)[2]) {
    std::size_t count = 0;
    for (std::span<const std::uint8_t> part : {head, frame}) {
        const std::size_t skip = std::min(written, part.size());
        written -= skip;
        if (skip == part.size()) continue;
        parts[count++] = {const_cast<std::uint8_t*>(part.data() + skip), part.size() - skip};
    }
    return count;
}

}  // namespace

Sent Connection::write(std::span<const std::uint8_t> head, std::span<const std::uint8_t> frame,
                       std::size_t& written, const Deadline& deadline, Waiter& waiter) {
    while (written < head.size() + frame.size()) {
        iovec parts[2];
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = rest_of(head, frame, written, parts);
        std::optional<ssize_t> sent;
        try {
            // One part (a raw frame, or the rest of one) goes out with send,
            // the cheaper call.
            sent = check_syscall_unless_busy([&] {
                return message.msg_iovlen == 1
                           ? ::send(fd_.get(), parts[0].iov_base, parts[0].iov_len,
                                    MSG_NOSIGNAL | MSG_DONTWAIT)
                           : ::sendmsg(fd_.get(), &message, MSG_NOSIGNAL | MSG_DONTWAIT);
            });
        } catch (const OsError&) {
            // close() shuts the connection down after cancelling: the
            // broken pipe is its doing.
            if (cancelled_.load(std::memory_order_acquire)) return Sent::cancelled;
            throw;
        }
        if (!sent) {
            const Sent woken = wait_for(fd_.get(), POLLOUT, deadline, waiter);
            if (woken != Sent::whole) return woken;
            continue;
        }
        if (*sent == 0) throw Error(std::string(texts::write_incomplete));
        written += static_cast<std::size_t>(*sent);
    }
    return Sent::whole;
}

Sent Connection::send_frame(std::span<const std::uint8_t> head,
                            std::span<const std::uint8_t> frame, const Deadline& deadline,
                            Waiter& waiter) {
    if (const Sent locked = lock(deadline, waiter); locked != Sent::whole) {
        // A frame that could not even start its wait in time means the
        // client read nothing for that long, as when its own wait runs out.
        if (locked == Sent::timed_out) shut_down();
        return locked;
    }
    struct Unlock {
        SendLock& lock;
        ~Unlock() { lock.unlock(); }
    } unlock{send_lock_};
    std::size_t written = 0;
    Sent sent;
    try {
        sent = write(head, frame, written, deadline, waiter);
    } catch (const OsError&) {
        throw;  // the socket itself failed: nothing of ours to end
    } catch (...) {
        // A signal's exception: the stream cannot resume in a frame's middle.
        if (written > 0) shut_down();
        throw;
    }
    if (sent == Sent::timed_out || (sent == Sent::cancelled && written > 0)) shut_down();
    return sent;
}

}  // namespace vantu
