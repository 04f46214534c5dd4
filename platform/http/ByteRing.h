#pragma once
// A fixed-size ring of bytes between libcurl's write callback and the stream's reader.
// Allocated once; writes and reads only copy. Not thread-safe: both ends run on the thread
// that drives the transfer.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform::http {

class ByteRing {
public:
    explicit ByteRing(size_t capacity);

    size_t capacity() const { return capacity_; }
    size_t size() const { return size_; }
    size_t space() const { return capacity_ - size_; }
    bool empty() const { return size_ == 0; }

    // Appends all of `data` when it fits and returns true; otherwise appends nothing.
    bool write(const uint8_t* data, size_t length);
    // Moves up to `maxLength` bytes out; returns how many.
    size_t read(uint8_t* buffer, size_t maxLength);
    void clear() { head_ = size_ = 0; }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t capacity_;
    size_t head_ = 0;  // index of the oldest unread byte
    size_t size_ = 0;
};

}  // namespace platform::http
