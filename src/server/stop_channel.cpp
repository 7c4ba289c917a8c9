#include "server/stop_channel.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace vantu {
namespace detail {

struct StopState {
    std::mutex mutex;
    std::deque<bool> queue;
    int senders = 1;
    bool receiver_alive = true;
    Fd wake;
};

}  // namespace detail

StopChannel make_stop_channel() {
    auto state = std::make_shared<detail::StopState>();
    state->wake = Fd(check_syscall([] { return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }));
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
    state_.reset();
}

bool StopSender::send(bool stop) {
    std::lock_guard lock(state_->mutex);
    if (!state_->receiver_alive) return false;
    state_->queue.push_back(stop);
    std::uint64_t one = 1;
    // The counter cannot overflow in practice; a full counter still leaves
    // the descriptor readable, which is all the receiver needs.
    [[maybe_unused]] ssize_t n = ::write(state_->wake.get(), &one, sizeof one);
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
    if (!state_->queue.empty()) {
        state_->queue.pop_front();
        if (state_->queue.empty()) {
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(state_->wake.get(), &count, sizeof count);
        }
        return Receive::message;
    }
    return state_->senders == 0 ? Receive::disconnected : Receive::empty;
}

int StopReceiver::wake_fd() const { return state_->wake.get(); }

}  // namespace vantu
