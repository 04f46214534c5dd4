#pragma once
// PCM to compare what a player played with: ffmpeg's own decode of a file, and the search for
// where one piece of audio sits in another.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// Interleaved 32-bit float PCM.
struct Pcm {
    std::vector<float> samples;
    int channels = 2;
    int sampleRate = 44100;
    size_t frames() const { return channels ? samples.size() / channels : 0; }
};

// ffmpeg's decode of the file, converted to the given rate and channel count.
Pcm referenceDecode(const std::string& path, int sampleRate, int channels);

// The offset d (frames) in [lo, hi] for which capture[i] == reference[i + d] over `window`
// frames from `start`, within `tolerance` per sample; none when no offset matches.
std::optional<long> findOffset(const Pcm& capture, const Pcm& reference, size_t start,
                               size_t window, long lo, long hi, float tolerance = 1e-4f);
// Largest per-sample difference of capture[start, start+count) against reference[.. + d].
float maxDifference(const Pcm& capture, const Pcm& reference, size_t start, size_t count, long d);

}  // namespace testsupport
