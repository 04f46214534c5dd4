#include "AudioMaterial.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>
#include <set>

#include "QueueTestClient.h"
#include "platform/audio/parser/Mp3FrameHeader.h"

namespace queuetest {

using namespace audio;

std::string testDir() {
    const std::string dir = OSTRA_QUEUE_TEST_DIR;
    std::filesystem::create_directories(dir);
    return dir;
}

bool haveFfmpeg() {
    return std::string(OSTRA_FFMPEG).find("NOTFOUND") == std::string::npos &&
           !std::string(OSTRA_FFMPEG).empty();
}

std::optional<std::vector<uint8_t>> runFfmpeg(const std::string& args) {
    if (!haveFfmpeg()) return std::nullopt;
    const std::string command = std::string(OSTRA_FFMPEG) + " -nostdin -v error " + args;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::vector<uint8_t> out;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.insert(out.end(), chunk, chunk + n);
    if (pclose(pipe) != 0) return std::nullopt;
    return out;
}

std::optional<std::vector<float>> ffmpegDecode(const std::string& inputArgs) {
    auto bytes = runFfmpeg(inputArgs + " -f f32le -");
    if (!bytes) return std::nullopt;
    return asFloats(*bytes);
}

std::string encodedFile(const std::string& name, const std::string& encodeArgs, double seconds,
                        int channels, int sampleRate) {
    static std::mutex mutex;
    static std::set<std::string> made;
    std::lock_guard lock(mutex);
    const std::string d = std::to_string(seconds);
    // Tests run as processes of their own, side by side: each names what it encodes by its
    // length too, and writes it under a name of its own before renaming it into place, so
    // that no process reads a file another is still writing.
    const std::string path = testDir() + "/" + d + "s-" + name;
    if (made.count(path)) return path;
    const std::string partial = path + ".part" + std::to_string(::getpid());
    // Two sweeps: no two stretches alike, so alignment has one answer.
    std::string expression = "0.5*sin(2*PI*(110+900*t/" + d + ")*t)";
    if (channels == 2) expression += "|0.4*sin(2*PI*(300+2500*t/" + d + ")*t+1)";
    const std::string source = "-f lavfi -i \"aevalsrc=" + expression +
                               ":s=" + std::to_string(sampleRate) + ":d=" + d + "\"";
    const std::string extension = name.substr(name.rfind('.') + 1);
    const std::string format = " -f " + (extension == "aac" ? std::string("adts") : extension);
    if (!runFfmpeg("-y " + source + " " + encodeArgs + format + " " + partial)) return {};
    if (std::rename(partial.c_str(), path.c_str()) != 0) return {};
    made.insert(path);
    return path;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<float> asFloats(const std::vector<uint8_t>& bytes) {
    std::vector<float> floats(bytes.size() / sizeof(float));
    std::memcpy(floats.data(), bytes.data(), floats.size() * sizeof(float));
    return floats;
}

std::vector<int64_t> signalSamples(size_t frames, int channels, int bits) {
    std::vector<int64_t> samples;
    samples.reserve(frames * size_t(channels));
    const double full = std::ldexp(1.0, bits - 1) - 1;
    uint32_t noise = 12345;
    for (size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double t = double(i) / 44100.0;
            const double v = 0.7 * std::sin(2 * M_PI * (200 + 40 * c + 300 * t) * t) +
                             0.29 * (double(noise >> 8) / double(1 << 24) - 0.5);
            samples.push_back(int64_t(std::lround(v * full)));
        }
    }
    return samples;
}

std::vector<uint8_t> pcm16Stereo(size_t frames, size_t firstFrame) {
    std::vector<uint8_t> bytes;
    bytes.reserve(frames * 4);
    for (size_t i = firstFrame; i < firstFrame + frames; ++i) {
        const int16_t left = int16_t(int32_t(i * 7 % 65536) - 32768);
        const int16_t right = int16_t(int32_t(i * 13 % 65536) - 32768);
        for (int16_t s : {left, right}) {
            bytes.push_back(uint8_t(s & 0xFF));
            bytes.push_back(uint8_t((s >> 8) & 0xFF));
        }
    }
    return bytes;
}

AudioStreamBasicDescription pcmFormat(double rate, uint32_t channels, uint32_t bytes,
                                      uint32_t flags, uint32_t bits) {
    AudioStreamBasicDescription f{};
    f.mSampleRate = rate;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags = flags | kAudioFormatFlagIsPacked;
    f.mBytesPerPacket = bytes * channels;
    f.mFramesPerPacket = 1;
    f.mBytesPerFrame = bytes * channels;
    f.mChannelsPerFrame = channels;
    f.mBitsPerChannel = bits ? bits : bytes * 8;
    return f;
}

AudioStreamBasicDescription compressedFormat(uint32_t formatID, double rate, uint32_t channels,
                                             uint32_t framesPerPacket, uint32_t flags) {
    AudioStreamBasicDescription f{};
    f.mSampleRate = rate;
    f.mFormatID = formatID;
    f.mFormatFlags = flags;
    f.mFramesPerPacket = framesPerPacket;
    f.mChannelsPerFrame = channels;
    return f;
}

std::vector<Packet> splitMp3Frames(const std::vector<uint8_t>& file) {
    std::vector<Packet> packets;
    size_t at = 0;
    if (file.size() > 10 && std::memcmp(file.data(), "ID3", 3) == 0) {
        at = 10 +
             ((size_t(file[6]) << 21) | (size_t(file[7]) << 14) | (size_t(file[8]) << 7) | file[9]);
    }
    while (at + 4 <= file.size()) {
        audio::parsing::Mp3FrameHeader header;
        if (!audio::parsing::readMp3FrameHeader(file.data() + at, header)) {
            ++at;  // not a frame header: look further
            continue;
        }
        const size_t size = header.frameLength;
        if (at + size > file.size()) break;
        packets.push_back({at, size});
        at += size;
    }
    return packets;
}

std::vector<Packet> splitAdtsFrames(const std::vector<uint8_t>& file) {
    std::vector<Packet> packets;
    size_t at = 0;
    while (at + 7 <= file.size()) {
        if (file[at] != 0xFF || (file[at + 1] & 0xF0) != 0xF0) {
            ++at;
            continue;
        }
        const size_t size =
            (size_t(file[at + 3] & 3) << 11) | (size_t(file[at + 4]) << 3) | (file[at + 5] >> 5);
        if (size < 7 || at + size > file.size()) break;
        packets.push_back({at, size});
        at += size;
    }
    return packets;
}

std::vector<BufferLoad> packPackets(const std::vector<uint8_t>& data,
                                    const std::vector<Packet>& packets, size_t bufferSize,
                                    size_t skipHeader) {
    std::vector<BufferLoad> loads(1);
    for (const auto& p : packets) {
        const size_t size = p.size - skipHeader;
        if (loads.back().bytes.size() + size > bufferSize) loads.emplace_back();
        auto& load = loads.back();
        load.descs.push_back({int64_t(load.bytes.size()), 0, uint32_t(size)});
        load.bytes.insert(load.bytes.end(), data.begin() + long(p.offset + skipHeader),
                          data.begin() + long(p.offset + p.size));
    }
    if (loads.back().bytes.empty()) loads.pop_back();
    return loads;
}

std::vector<BufferLoad> cutBytes(const std::vector<uint8_t>& data, size_t bufferSize) {
    std::vector<BufferLoad> loads;
    for (size_t at = 0; at < data.size(); at += bufferSize) {
        const size_t n = std::min(bufferSize, data.size() - at);
        loads.push_back({{data.begin() + long(at), data.begin() + long(at + n)}, {}});
    }
    return loads;
}

Played playThroughQueue(const AudioStreamBasicDescription& format,
                        const std::vector<BufferLoad>& loads, size_t bufferSize,
                        const std::vector<uint8_t>& cookie, CaptureOptions options) {
    CaptureAudioSinkFactory captures(options);
    ScopedAudioSinkFactory scoped(captures.factory());
    QueueTestClient client(format, uint32_t(bufferSize));
    Played played;
    played.status = client.creationStatus();
    if (played.status != noErr) return played;
    if (!cookie.empty()) {
        AudioQueueSetProperty(client.queue(), kAudioQueueProperty_MagicCookie, cookie.data(),
                              uint32_t(cookie.size()));
    }
    bool started = false;
    for (const auto& load : loads) {
        if (client.freeBuffers() == 0) {
            if (!started) AudioQueueStart(client.queue(), nullptr);
            started = true;
            if (!client.waitForFreeBuffer()) break;
        }
        client.enqueue(load.bytes, load.descs);
    }
    if (!started) AudioQueueStart(client.queue(), nullptr);
    AudioQueueFlush(client.queue());
    AudioQueueStop(client.queue(), false);
    client.waitForIsRunningCalls(2, std::chrono::seconds(60));
    client.disposeAndJoin();
    if (auto sink = captures.last()) {
        played.samples = sink->samples();
        played.format = sink->format();
    }
    return played;
}

Alignment align(const std::vector<float>& ours, const std::vector<float>& reference, int channels,
                long maxShift) {
    const long ourFrames = long(ours.size()) / channels;
    const long refFrames = long(reference.size()) / channels;
    // Score each shift on a window from the middle of the reference, first channel only.
    const long window = std::min<long>(4096, refFrames / 2);
    const long start = refFrames / 2 - window / 2;
    Alignment best;
    double bestScore = std::numeric_limits<double>::max();
    for (long shift = -maxShift; shift <= maxShift; ++shift) {
        if (start + shift < 0 || start + shift + window > ourFrames) continue;
        double score = 0;
        for (long i = start; i < start + window && score < bestScore; ++i) {
            score +=
                std::fabs(ours[size_t((i + shift) * channels)] - reference[size_t(i * channels)]);
        }
        if (score < bestScore) {
            bestScore = score;
            best.offset = shift;
        }
    }
    for (long i = std::max(0L, -best.offset); i < refFrames && i + best.offset < ourFrames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double d = std::fabs(ours[size_t((i + best.offset) * channels + c)] -
                                       reference[size_t(i * channels + c)]);
            best.maxError = std::max(best.maxError, d);
        }
        ++best.framesCompared;
    }
    return best;
}

}  // namespace queuetest
