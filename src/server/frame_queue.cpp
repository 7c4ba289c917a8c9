// A ring of frames with a count per widget and id.
#include "server/frame_queue.hpp"

namespace vantu {

void FrameQueue::push(const Frame& frame) {
    // Allocated at the first use: only a loop that skips stale positions
    // takes frames ahead.
    if (ring_.empty()) ring_.resize(capacity);
    ring_[(head_ + count_) % capacity] = frame;
    ++count_;
    ++queued_[slot(frame)];
}

std::optional<Frame> FrameQueue::next() {
    while (count_ > 0) {
        const Frame frame = ring_[head_];
        head_ = (head_ + 1) % capacity;
        --count_;
        const std::size_t at = slot(frame);
        --queued_[at];
        if (!widget_latest_only[frame.data.tag()] || queued_[at] == 0) return frame;
    }
    return std::nullopt;
}

}  // namespace vantu
