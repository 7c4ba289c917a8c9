// Growing a ByteSink beyond its inline storage.
#include <cstring>

#include "base/byte_sink.hpp"

namespace vantu {

void ByteSink::grow(std::size_t needed) {
    const std::size_t capacity = needed > 2 * capacity_ ? needed : 2 * capacity_;
    const bool spilling = data_ == inline_;
    heap_.resize(capacity);
    if (spilling) std::memcpy(heap_.data(), inline_, size_);
    data_ = heap_.data();
    capacity_ = capacity;
}

}  // namespace vantu
