// The channel through which close() asks a serve loop to stop: one sender,
// never blocking, usable without the interpreter lock. The receiver can
// also wait for it together with the socket, through a descriptor that
// becomes readable when a message is queued.
#pragma once

#include <memory>
#include <mutex>

#include "server/fd.hpp"

namespace vantu {

namespace detail {
struct StopState;
}

enum class Receive { message, empty, disconnected };

class StopSender {
public:
    explicit StopSender(std::shared_ptr<detail::StopState> state);
    StopSender(StopSender&&) noexcept = default;
    StopSender& operator=(StopSender&& other) noexcept;
    ~StopSender();

    // Queues a stop message; false when the receiving end is gone.
    bool send();
    bool receiver_alive() const;

private:
    void drop();
    std::shared_ptr<detail::StopState> state_;
};

class StopReceiver {
public:
    explicit StopReceiver(std::shared_ptr<detail::StopState> state);
    StopReceiver(StopReceiver&&) noexcept = default;
    ~StopReceiver();

    // A queued message comes first; "disconnected" only once the sender is
    // gone and no message is queued.
    Receive try_receive();
    // Readable while a message is queued; never becomes readable merely
    // because the sender went away.
    int wake_fd() const;
    // Blocks until a message is queued or the sender is gone; takes the
    // message.
    Receive wait();

private:
    std::shared_ptr<detail::StopState> state_;
};

struct StopChannel {
    StopSender sender;
    StopReceiver receiver;
};

StopChannel make_stop_channel();

}  // namespace vantu
