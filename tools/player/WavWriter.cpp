#include "tools/player/WavWriter.h"

#include <cstring>

namespace player {

namespace {

void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

WavWriter::WavWriter(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (file_) writeHeader();
}

WavWriter::~WavWriter() { finish(); }

void WavWriter::append(int sampleRate, int channels, const float* samples, size_t frames) {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    if (sampleRate_ == 0) {
        sampleRate_ = sampleRate;
        channels_ = channels;
    }
    if (sampleRate != sampleRate_ || channels != channels_) return;
    // The samples are written as they are in memory: little-endian floats on this platform.
    frames_ += std::fwrite(samples, sizeof(float) * size_t(channels), frames, file_);
}

void WavWriter::finish() {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    std::fseek(file_, 0, SEEK_SET);
    writeHeader();
    std::fclose(file_);
    file_ = nullptr;
}

uint64_t WavWriter::framesWritten() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

void WavWriter::writeHeader() {
    // RIFF, a 16-byte 'fmt ' chunk of format 3 (IEEE float), and the 'data' chunk.
    const uint32_t channels = uint32_t(channels_ ? channels_ : 2);
    const uint32_t rate = uint32_t(sampleRate_ ? sampleRate_ : 44100);
    const uint64_t dataBytes = frames_ * channels * 4;
    const uint32_t dataSize =
        dataBytes > 0xFFFFFFFFull - 36 ? 0xFFFFFFFFu - 36 : uint32_t(dataBytes);
    uint8_t header[44];
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, 36 + dataSize);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);
    put16(header + 20, 3);
    put16(header + 22, uint16_t(channels));
    put32(header + 24, rate);
    put32(header + 28, rate * channels * 4);
    put16(header + 32, uint16_t(channels * 4));
    put16(header + 34, 32);
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, dataSize);
    std::fwrite(header, 1, sizeof header, file_);
}

}  // namespace player
