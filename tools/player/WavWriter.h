#pragma once
// Writes interleaved 32-bit float PCM to a WAV file (IEEE float format). The sizes in the
// header are filled in by finish(); a file whose writer never finished still plays in most
// tools, which read to the end of the data.
//
// Threads: any, one at a time (the player's sinks share one writer under its own mutex).

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace player {

class WavWriter {
public:
    explicit WavWriter(const std::string& path);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    // The first call fixes the format; later frames in another format are dropped.
    void append(int sampleRate, int channels, const float* samples, size_t frames);
    void finish();
    uint64_t framesWritten() const;

private:
    void writeHeader();

    mutable std::mutex mutex_;
    std::FILE* file_ = nullptr;
    int sampleRate_ = 0;
    int channels_ = 0;
    uint64_t frames_ = 0;
};

}  // namespace player
