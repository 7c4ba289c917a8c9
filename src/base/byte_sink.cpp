#include <cstring>

#include "base/frame.hpp"

namespace vantu {

void ByteSink::append(const void* bytes, std::size_t count) {
    if (count == 0) return;
    reserve(count);
    std::memcpy(data_ + size_, bytes, count);
    size_ += count;
}

void ByteSink::grow(std::size_t needed) {
    const std::size_t capacity = needed > 2 * capacity_ ? needed : 2 * capacity_;
    const bool spilling = data_ == inline_;
    heap_.resize(capacity);
    if (spilling) std::memcpy(heap_.data(), inline_, size_);
    data_ = heap_.data();
    capacity_ = capacity;
}

}  // namespace vantu
