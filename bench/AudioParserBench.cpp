// Throughput of the audio file-stream parser: bytes parsed per second of wall time, the file
// held in memory, the packet callback only counting. Each figure is the median of several
// passes. The streaming engine pushes 2048 bytes at a time; the other sizes show the cost of
// the byte queue (small pushes) against the scan itself (whole file).
//
//   audio_parser_bench [passes]   (default 15)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/audio/parser/AudioFileStream.h"

using namespace audio;

namespace {

struct Counts {
    uint64_t packets = 0;
    uint64_t bytes = 0;
};

void onPackets(void* client, uint32_t bytes, uint32_t count, const void*,
               AudioStreamPacketDescription*) {
    auto* counts = static_cast<Counts*>(client);
    counts->packets += count;
    counts->bytes += bytes;
}

std::vector<uint8_t> readFixture(const std::string& name) {
    std::ifstream in(std::string(OSTRA_FIXTURES_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Seconds for one pass over `file` in pushes of `chunk` bytes.
double onePass(const std::vector<uint8_t>& file, size_t chunk, AudioFileTypeID hint,
               Counts& counts) {
    AudioFileStreamID stream = nullptr;
    AudioFileStreamOpen(&counts, nullptr, onPackets, hint, &stream);
    const auto start = std::chrono::steady_clock::now();
    for (size_t at = 0; at < file.size(); at += chunk) {
        const size_t n = std::min(chunk, file.size() - at);
        if (AudioFileStreamParseBytes(stream, uint32_t(n), file.data() + at, 0) != noErr) {
            std::fprintf(stderr, "parse failed\n");
            std::exit(1);
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    AudioFileStreamClose(stream);
    return seconds;
}

void measure(const char* name, AudioFileTypeID hint, size_t chunk, int passes) {
    const std::vector<uint8_t> file = readFixture(name);
    if (file.empty()) {
        std::printf("%-22s missing (build the fixtures target)\n", name);
        return;
    }
    std::vector<double> times;
    Counts counts;
    for (int i = 0; i < passes; ++i) {
        counts = {};
        times.push_back(onePass(file, chunk, hint, counts));
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double megabytes = double(file.size()) / 1e6;
    char chunkText[32];
    if (chunk >= file.size())
        std::snprintf(chunkText, sizeof chunkText, "whole file");
    else
        std::snprintf(chunkText, sizeof chunkText, "%zu B", chunk);
    std::printf("%-22s %7.2f MB  pushes of %-10s %9.0f MB/s  %8.3f ms  %7llu packets\n", name,
                megabytes, chunkText, megabytes / median, median * 1e3,
                (unsigned long long)counts.packets);
}

}  // namespace

int main(int argc, char** argv) {
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::printf("audio file-stream parser throughput, median of %d passes\n", passes);
    for (size_t chunk : {size_t(1) << 30, size_t(65536), size_t(2048), size_t(417)}) {
        measure("long-10min-128k.mp3", kAudioFileMP3Type, chunk, passes);
    }
    for (const char* name : {"vbr.mp3", "adts-lc.aac", "aac.m4a", "alac.m4a", "pcm16.wav"}) {
        const std::string n = name;
        const AudioFileTypeID hint = n.ends_with(".aac")   ? kAudioFileAAC_ADTSType
                                     : n.ends_with(".m4a") ? kAudioFileM4AType
                                     : n.ends_with(".wav") ? kAudioFileWAVEType
                                                           : kAudioFileMP3Type;
        measure(name, hint, 2048, passes);
    }
    return 0;
}
