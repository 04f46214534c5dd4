#pragma once
// The few bytes a push parser keeps between two pushes: the start of a header or packet that
// the next push completes. Consuming from the front moves a read index; the storage is
// compacted only when the unread part is small, so dropping bytes one at a time stays cheap.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace audio::parsing {

class ByteQueue {
public:
    const uint8_t* data() const { return bytes_.data() + read_; }
    size_t size() const { return bytes_.size() - read_; }
    bool empty() const { return size() == 0; }

    void append(const uint8_t* data, size_t count) {
        if (count == 0) return;
        if (read_ > 0 && read_ >= size()) compact();
        bytes_.insert(bytes_.end(), data, data + count);
    }
    void consume(size_t count) {
        read_ += count < size() ? count : size();
        if (read_ == bytes_.size()) clear();
    }
    void clear() {
        bytes_.clear();
        read_ = 0;
    }

private:
    void compact() {
        const size_t unread = size();
        std::memmove(bytes_.data(), bytes_.data() + read_, unread);
        bytes_.resize(unread);
        read_ = 0;
    }

    std::vector<uint8_t> bytes_;
    size_t read_ = 0;
};

}  // namespace audio::parsing
