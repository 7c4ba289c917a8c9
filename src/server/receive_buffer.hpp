// The bytes received from the client and not yet decoded. TCP is a byte
// stream: one read may hold several frames and a frame may span reads.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace vantu {

class ReceiveBuffer {
public:
    // Room for a transport's largest unit: a frame of 64 KiB, or a
    // WebSocket message of 64 KiB with its header.
    static constexpr std::size_t max_pending = 64 * 1024 + 16;
    static constexpr std::size_t read_size = 1024;

    // Room for one read after the pending bytes.
    std::span<std::uint8_t> read_space() {
        if (capacity - end_ < read_size) compact();
        return {data_.get() + end_, std::min(read_size, capacity - end_)};
    }
    void commit(std::size_t count) { end_ += count; }

    // Drops decoded bytes from the front; the rest moves only when room
    // for the next read runs out, so a burst of frames is not copied
    // once per frame.
    void consume(std::size_t count) {
        start_ += count;
        if (start_ == end_) start_ = end_ = 0;
    }

    std::span<std::uint8_t> bytes() { return {data_.get() + start_, end_ - start_}; }
    std::size_t size() const { return end_ - start_; }
    bool empty() const { return start_ == end_; }

private:
    void compact() {
        std::memmove(data_.get(), data_.get() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }

    static constexpr std::size_t capacity = max_pending + read_size;
    std::unique_ptr<std::uint8_t[]> data_ = std::make_unique<std::uint8_t[]>(capacity);
    std::size_t start_ = 0;
    std::size_t end_ = 0;
};

}  // namespace vantu
