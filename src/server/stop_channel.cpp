// The stop channel: a stop flag under a mutex, and eventfds to wait on.
#include "server/stop_channel.hpp"

#include <atomic>
#include <mutex>
#include <utility>

namespace vantu {
namespace detail {

struct StopState {
    std::mutex mutex;
    // One sender, and every stop says the same: a flag holds them all.
    // Atomic so that the receiver may look without the mutex.
    std::atomic<bool> stop_queued{false};
    bool sender_alive = true;
    bool receiver_alive = true;
    Fd wake;
    Fd gone;
};

}  // namespace detail

namespace {

// With the state's mutex held.
Receive take(detail::StopState& state) {
    if (state.stop_queued.load(std::memory_order_relaxed)) {
        state.stop_queued.store(false, std::memory_order_relaxed);
        drain_event(state.wake.get());
        return Receive::message;
    }
    return state.sender_alive ? Receive::empty : Receive::disconnected;
}

}  // namespace

StopChannel make_stop_channel() {
    auto state = std::make_shared<detail::StopState>();
    state->wake = new_event_fd();
    state->gone = new_event_fd();
    return StopChannel{StopSender(state), StopReceiver(state)};
}

StopSender::StopSender(std::shared_ptr<detail::StopState> state) : state_(std::move(state)) {}

StopSender& StopSender::operator=(StopSender&& other) noexcept {
    if (this != &other) {
        drop();
        state_ = std::move(other.state_);
    }
    return *this;
}

StopSender::~StopSender() { drop(); }

void StopSender::drop() {
    if (!state_) return;
    std::lock_guard lock(state_->mutex);
    state_->sender_alive = false;
    signal_event(state_->gone.get());
    state_.reset();
}

std::unique_lock<std::mutex> StopSender::lock_if_alive() {
    std::unique_lock lock(state_->mutex);
    if (!state_->receiver_alive) lock.unlock();
    return lock;
}

void StopSender::queue() {
    state_->stop_queued.store(true, std::memory_order_release);
    signal_event(state_->wake.get());
}

StopReceiver::StopReceiver(std::shared_ptr<detail::StopState> state) : state_(std::move(state)) {}

StopReceiver::~StopReceiver() {
    if (!state_) return;
    std::lock_guard lock(state_->mutex);
    state_->receiver_alive = false;
}

Receive StopReceiver::try_receive() {
    std::lock_guard lock(state_->mutex);
    return take(*state_);
}

bool StopReceiver::pending() const { return state_->stop_queued.load(std::memory_order_acquire); }

int StopReceiver::wake_fd() const { return state_->wake.get(); }

int StopReceiver::gone_fd() const { return state_->gone.get(); }

}  // namespace vantu
