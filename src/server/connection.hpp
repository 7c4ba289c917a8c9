// The client connection the server object holds, shared with the callbacks
// sending on it: they keep it alive while they wait, even when close() or a
// new client replaces it meanwhile.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "server/deadline.hpp"
#include "server/fd.hpp"
#include "server/poll.hpp"
#include "server/send_lock.hpp"

namespace vantu {

enum class Sent { whole, timed_out, cancelled };

class Connection {
public:
    explicit Connection(Fd fd);

    int fd() const { return fd_.get(); }

    // Sends one frame, its head (a transport's) and then its bytes, whole
    // and after any frame another thread is sending. Waits through `waiter`
    // for the lock and for room in the socket: then signals or the waiter's
    // own failures may throw. A frame that timed out, or that stopped part
    // way, leaves the stream unusable: the connection is then shut down and
    // broken().
    Sent send_frame(std::span<const std::uint8_t> head, std::span<const std::uint8_t> frame,
                    const Deadline& deadline, Waiter& waiter);

    // Ends every send waiting on this connection, now and later: close().
    void cancel_sends();
    bool broken() const { return broken_.load(std::memory_order_acquire); }
    void shut_down();

private:
    Sent lock(const Deadline& deadline, Waiter& waiter);
    Sent write(std::span<const std::uint8_t> head, std::span<const std::uint8_t> frame,
               std::size_t& written, const Deadline& deadline, Waiter& waiter);
    Sent wait_for(int fd, short events, const Deadline& deadline, Waiter& waiter);

    Fd fd_;
    SendLock send_lock_;
    Fd cancel_;
    std::atomic<bool> broken_{false};
    std::atomic<bool> cancelled_{false};
};

}  // namespace vantu
