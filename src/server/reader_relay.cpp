// Claims of a connection's reader, and the Inbound passed between loops.
#include "server/reader_relay.hpp"

#include <utility>

namespace vantu {
ReaderRelay::ReaderRelay() : passed_(new_event_fd()) {}

ReaderRelay::Turn ReaderRelay::claim(bool passes) {
    std::lock_guard lock(mutex_);
    const std::uint64_t number = last_.load(std::memory_order_relaxed) + 1;
    const bool waits = passing_reader_ != 0;
    if (waits) {
        signal_event(reader_asked_->get());
    } else if (parcel_ready_) {
        // A parcel nobody took is stale now: this loop reads afresh.
        drain_event(passed_.get());
        parcel_ready_ = false;
        parcel_.reset();
    }
    auto asked = std::make_shared<const Fd>(new_event_fd());
    passing_reader_ = passes ? number : 0;
    reader_asked_ = passes ? asked : nullptr;
    last_.store(number, std::memory_order_release);
    return {number, waits, std::move(asked)};
}

void ReaderRelay::pass(std::uint64_t number, std::unique_ptr<Inbound> inbound) {
    std::lock_guard lock(mutex_);
    if (passing_reader_ == number) {
        passing_reader_ = 0;
        reader_asked_.reset();
    }
    if (!asked(number) || parcel_ready_) return;
    parcel_ = std::move(inbound);
    parcel_ready_ = true;
    signal_event(passed_.get());
}

std::optional<std::unique_ptr<Inbound>> ReaderRelay::receive(std::uint64_t number) {
    std::lock_guard lock(mutex_);
    if (asked(number) || !parcel_ready_) return std::nullopt;
    drain_event(passed_.get());
    parcel_ready_ = false;
    return std::move(parcel_);
}

}  // namespace vantu
