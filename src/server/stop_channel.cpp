// The stop channel: a stop flag, a condition and an eventfd.
#include "server/stop_channel.hpp"

#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>

namespace vantu {
namespace detail {

struct StopState {
    std::mutex mutex;
    std::condition_variable changed;
    // One sender, and every stop says the same: a flag holds them all.
    bool stop_queued = false;
    bool sender_alive = true;
    bool receiver_alive = true;
    Fd wake;
};

}  // namespace detail

namespace {

// With the state's mutex held.
Receive take(detail::StopState& state) {
    if (state.stop_queued) {
        state.stop_queued = false;
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t n = ::read(state.wake.get(), &count, sizeof count);
        return Receive::message;
    }
    return state.sender_alive ? Receive::empty : Receive::disconnected;
}

}  // namespace

StopChannel make_stop_channel() {
    auto state = std::make_shared<detail::StopState>();
    state->wake = new_event_fd();
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
    state_->changed.notify_all();
    state_.reset();
}

bool StopSender::send() {
    std::lock_guard lock(state_->mutex);
    if (!state_->receiver_alive) return false;
    state_->stop_queued = true;
    signal_event(state_->wake.get());
    state_->changed.notify_all();
    return true;
}

bool StopSender::receiver_alive() const {
    std::lock_guard lock(state_->mutex);
    return state_->receiver_alive;
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

Receive StopReceiver::wait() {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [&] { return state_->stop_queued || !state_->sender_alive; });
    return take(*state_);
}

int StopReceiver::wake_fd() const { return state_->wake.get(); }

}  // namespace vantu
