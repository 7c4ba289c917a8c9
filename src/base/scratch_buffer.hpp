// Where string and binary payloads are copied before they are examined.
// Frames are small, so the buffer lives inline (on the decoder's stack) and
// goes to the heap only for a payload longer than 128 bytes. It is only ever
// filled from bytes already present in the input, never to a declared size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace vantu {

class ScratchBuffer {
public:
    ScratchBuffer() = default;
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;

    // Replaces the contents with `bytes` and returns the copy.
    std::span<const std::uint8_t> hold(std::span<const std::uint8_t> bytes) {
        if (bytes.size() > capacity_) grow(bytes.size());
        if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
        return {data_, bytes.size()};
    }

private:
    void grow(std::size_t needed) {
        capacity_ = needed > 2 * capacity_ ? needed : 2 * capacity_;
        heap_ = std::make_unique_for_overwrite<std::uint8_t[]>(capacity_);
        data_ = heap_.get();
    }

    std::uint8_t inline_[128];
    std::unique_ptr<std::uint8_t[]> heap_;
    std::uint8_t* data_ = inline_;
    std::size_t capacity_ = sizeof inline_;
};

}  // namespace vantu
