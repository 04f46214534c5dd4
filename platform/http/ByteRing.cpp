#include "platform/http/ByteRing.h"

#include <algorithm>
#include <cstring>

namespace platform::http {

ByteRing::ByteRing(size_t capacity) : bytes_(new uint8_t[capacity]), capacity_(capacity) {}

bool ByteRing::write(const uint8_t* data, size_t length) {
    if (length > space()) return false;
    if (length == 0) return true;
    const size_t tail = (head_ + size_) % capacity_;
    const size_t first = std::min(length, capacity_ - tail);
    std::memcpy(bytes_.get() + tail, data, first);
    std::memcpy(bytes_.get(), data + first, length - first);
    size_ += length;
    return true;
}

size_t ByteRing::read(uint8_t* buffer, size_t maxLength) {
    const size_t n = std::min(maxLength, size_);
    if (n == 0) return 0;
    const size_t first = std::min(n, capacity_ - head_);
    std::memcpy(buffer, bytes_.get() + head_, first);
    std::memcpy(buffer + first, bytes_.get(), n - first);
    head_ = (head_ + n) % capacity_;
    size_ -= n;
    if (size_ == 0) head_ = 0;  // keeps the next writes contiguous
    return n;
}

}  // namespace platform::http
