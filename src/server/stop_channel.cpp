// The stop channel: a counter of stop messages, a condition and an eventfd.
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
    int queued = 0;  // stop messages not yet taken; every one says the same
    int senders = 1;
    bool receiver_alive = true;
    Fd wake;
};

}  // namespace detail

namespace {

// With the state's mutex held.
Receive take(detail::StopState& state) {
    if (state.queued > 0) {
        if (--state.queued == 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(state.wake.get(), &count, sizeof count);
        }
        return Receive::message;
    }
    return state.senders == 0 ? Receive::disconnected : Receive::empty;
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
    --state_->senders;
    state_->changed.notify_all();
    state_.reset();
}

bool StopSender::send() {
    std::lock_guard lock(state_->mutex);
    if (!state_->receiver_alive) return false;
    ++state_->queued;
    signal_event(state_->wake.get());
    state_->changed.notify_all();
    return true;
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
    state_->changed.wait(lock, [&] { return state_->queued > 0 || state_->senders == 0; });
    return take(*state_);
}

int StopReceiver::wake_fd() const { return state_->wake.get(); }

}  // namespace vantu
