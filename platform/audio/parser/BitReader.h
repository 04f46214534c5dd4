#pragma once
// Reads bit fields, most significant bit first, from a byte range. Reading past the end yields
// zeros and marks the reader as overrun, so a parser checks once at the end instead of before
// every field.

#include <cstddef>
#include <cstdint>

namespace audio::parsing {

class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : data_(data), bits_(size * 8) {}

    uint32_t read(unsigned count) {  // count <= 32
        uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i) {
            value <<= 1;
            if (position_ < bits_) {
                value |= (data_[position_ / 8] >> (7 - position_ % 8)) & 1u;
            } else {
                overrun_ = true;
            }
            ++position_;
        }
        return value;
    }
    void skip(size_t count) {
        position_ += count;
        if (position_ > bits_) overrun_ = true;
    }
    size_t remaining() const { return position_ < bits_ ? bits_ - position_ : 0; }
    bool overrun() const { return overrun_; }

private:
    const uint8_t* data_;
    size_t bits_;
    size_t position_ = 0;
    bool overrun_ = false;
};

}  // namespace audio::parsing
