// Frames taken off the stream ahead of their dispatch, so that a position
// that waits behind a newer one of the same widget can be skipped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/frame.hpp"

namespace vantu {

class FrameQueue {
public:
    // Room for as many frames as a full receive buffer can hold of small
    // ones; beyond that the bytes wait in the buffer.
    static constexpr std::size_t capacity = 4096;

    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == capacity; }
    void push(const Frame& frame);
    // The next frame to run, in order; a position that a newer one of the
    // same widget and id follows in the queue is skipped.
    std::optional<Frame> next();

private:
    static std::size_t slot(const Frame& frame) { return frame.data.tag() * 256u + frame.id; }

    std::vector<Frame> ring_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    // How many frames of each widget and id are queued.
    std::array<std::uint16_t, widget_count * 256> queued_{};
};

}  // namespace vantu
