// The channel through which close() asks a serve loop to stop: one sender,
// never blocking, usable without the interpreter lock. The receiver can
// also wait for it together with the socket, through a descriptor that
// becomes readable when a message is queued.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

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

    // Queues a stop message; false when the receiving end is gone. Runs
    // `on_queued` first when it will be queued, in one step with the
    // queueing: the receiver cannot act on the message before it returns,
    // nor end between the check and the message.
    template <class OnQueued>
    bool send(OnQueued&& on_queued);
    bool send() {
        return send([] {});
    }

private:
    void drop();
    std::unique_lock<std::mutex> lock_if_alive();
    void queue();
    std::shared_ptr<detail::StopState> state_;
};

template <class OnQueued>
bool StopSender::send(OnQueued&& on_queued) {
    std::unique_lock lock = lock_if_alive();
    if (!lock) return false;
    on_queued();
    queue();
    return true;
}

class StopReceiver {
public:
    explicit StopReceiver(std::shared_ptr<detail::StopState> state);
    StopReceiver(StopReceiver&&) noexcept = default;
    ~StopReceiver();

    // A queued message comes first; "disconnected" only once the sender is
    // gone and no message is queued.
    Receive try_receive();
    // Whether a message is queued, without taking it.
    bool pending() const;
    // Readable while a message is queued; never becomes readable merely
    // because the sender went away.
    int wake_fd() const;
    // Readable once the sender is gone.
    int gone_fd() const;

private:
    std::shared_ptr<detail::StopState> state_;
};

struct StopChannel {
    StopSender sender;
    StopReceiver receiver;
};

StopChannel make_stop_channel();

}  // namespace vantu
