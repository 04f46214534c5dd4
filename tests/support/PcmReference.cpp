#include "tests/support/PcmReference.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace testsupport {

Pcm referenceDecode(const std::string& path, int sampleRate, int channels) {
    Pcm pcm;
    pcm.sampleRate = sampleRate;
    pcm.channels = channels;
    const std::string command = "ffmpeg -nostdin -v error -i '" + path +
                                "' -f f32le -acodec pcm_f32le -ar " + std::to_string(sampleRate) +
                                " -ac " + std::to_string(channels) + " -";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return pcm;
    float chunk[4096];
    size_t count;
    while ((count = std::fread(chunk, sizeof(float), 4096, pipe)) > 0) {
        pcm.samples.insert(pcm.samples.end(), chunk, chunk + count);
    }
    ::pclose(pipe);
    return pcm;
}

float maxDifference(const Pcm& capture, const Pcm& reference, size_t start, size_t count, long d) {
    const int channels = capture.channels;
    float worst = 0;
    for (size_t i = start; i < start + count; ++i) {
        const long r = long(i) + d;
        if (r < 0 || size_t(r) >= reference.frames() || i >= capture.frames()) return INFINITY;
        for (int c = 0; c < channels; ++c) {
            worst = std::max(worst, std::fabs(capture.samples[i * channels + c] -
                                              reference.samples[size_t(r) * channels + c]));
        }
    }
    return worst;
}

std::optional<long> findOffset(const Pcm& capture, const Pcm& reference, size_t start,
                               size_t window, long lo, long hi, float tolerance) {
    const int channels = capture.channels;
    if (channels != reference.channels || start + window > capture.frames()) return std::nullopt;
    for (long d = lo; d <= hi; ++d) {
        const long first = long(start) + d;
        if (first < 0 || size_t(first) + window > reference.frames()) continue;
        bool matches = true;
        // Most wrong offsets fail on the first samples, so the search stays cheap.
        for (size_t i = 0; i < window * channels && matches; ++i) {
            matches = std::fabs(capture.samples[start * channels + i] -
                                reference.samples[size_t(first) * channels + i]) <= tolerance;
        }
        if (matches) return d;
    }
    return std::nullopt;
}

}  // namespace testsupport
