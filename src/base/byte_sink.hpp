// Where encoded bytes are collected: inline storage, spilling to the heap
// only for a long error text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vantu {

// Result frames are small: they are built here without an allocation.
class ByteSink {
public:
    ByteSink() = default;
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;

    // Makes room for `count` more bytes and returns them for the caller to
    // fill, so an encoder that knows its size writes without checks.
    std::span<std::uint8_t> extend(std::size_t count) {
        reserve(count);
        const std::span<std::uint8_t> room(data_ + size_, count);
        size_ += count;
        return room;
    }
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    void reserve(std::size_t more) {
        if (size_ + more > capacity_) grow(size_ + more);
    }
    void grow(std::size_t needed);

    std::uint8_t inline_[64];
    std::vector<std::uint8_t> heap_;
    std::uint8_t* data_ = inline_;
    std::size_t size_ = 0;
    std::size_t capacity_ = sizeof inline_;
};

}  // namespace vantu
