#pragma once
// Audio material for the queue tests: deterministic PCM, files encoded by the ffmpeg command
// line, reference decodes by the same command line, simple packet splitters for MP3 and ADTS
// (standing in for the file-stream parser), and a helper that plays packets through a real
// queue into a capture sink.

#include <optional>
#include <string>
#include <vector>

#include "platform/audio/queue/AudioQueue.h"
#include "platform/audio/sink/CaptureAudioSink.h"
#include "tests/support/TestFiles.h"

namespace queuetest {

// A folder for generated files, made on first use.
std::string testDir();

bool haveFfmpeg();
// Runs `ffmpeg -nostdin -v error <args>` and returns what it wrote to stdout, or nullopt when it
// failed.
std::optional<std::vector<uint8_t>> runFfmpeg(const std::string& args);
// ffmpeg's decode of `inputArgs` (e.g. "-i file.mp3") as interleaved 32-bit floats.
std::optional<std::vector<float>> ffmpegDecode(const std::string& inputArgs);
// A stereo (or mono) test signal of two sweeps, encoded by ffmpeg with `encodeArgs` into
// testDir()/name; made once per run. Empty on failure.
std::string encodedFile(const std::string& name, const std::string& encodeArgs, double seconds,
                        int channels = 2, int sampleRate = 44100);

using testsupport::readFileBytes;
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<float> asFloats(const std::vector<uint8_t>& bytes);

// Sample values of a non-periodic signal, full scale for `bits`, interleaved.
std::vector<int64_t> signalSamples(size_t frames, int channels, int bits);
// Interleaved 16-bit little-endian stereo PCM whose frames all differ.
std::vector<uint8_t> pcm16Stereo(size_t frames, size_t firstFrame = 0);

audio::AudioStreamBasicDescription pcmFormat(double rate, uint32_t channels, uint32_t bytes,
                                             uint32_t flags, uint32_t bits = 0);
audio::AudioStreamBasicDescription compressedFormat(uint32_t formatID, double rate,
                                                    uint32_t channels, uint32_t framesPerPacket,
                                                    uint32_t flags = 0);

struct Packet {
    size_t offset = 0;
    size_t size = 0;
};
// Frames of an MPEG audio file (ID3v2 tag skipped, ID3v1 tag left out).
std::vector<Packet> splitMp3Frames(const std::vector<uint8_t>& file);
// Frames of an ADTS stream, headers included.
std::vector<Packet> splitAdtsFrames(const std::vector<uint8_t>& file);

// One buffer's worth, as the engine fills it.
struct BufferLoad {
    std::vector<uint8_t> bytes;
    std::vector<audio::AudioStreamPacketDescription> descs;
};
// Packets packed into buffers of at most bufferSize bytes, each with its descriptions;
// `skipHeader` bytes are dropped from the front of every packet.
std::vector<BufferLoad> packPackets(const std::vector<uint8_t>& data,
                                    const std::vector<Packet>& packets, size_t bufferSize,
                                    size_t skipHeader = 0);
// Constant-size data cut into buffers of bufferSize bytes, without descriptions.
std::vector<BufferLoad> cutBytes(const std::vector<uint8_t>& data, size_t bufferSize);

struct Played {
    std::vector<float> samples;
    audio::AudioSinkFormat format;
    audio::OSStatus status = 0;  // of AudioQueueNewOutput
};
// Plays the loads through a new queue into a capture sink, to the end (flush and stop after
// queued), as the engine does: it starts the queue when the ring is full.
Played playThroughQueue(const audio::AudioStreamBasicDescription& format,
                        const std::vector<BufferLoad>& loads, size_t bufferSize,
                        const std::vector<uint8_t>& cookie = {},
                        audio::CaptureOptions options = {});

struct Alignment {
    long offset = 0;      // ours[frame + offset] matches reference[frame]
    double maxError = 0;  // largest sample difference over the overlap
    size_t framesCompared = 0;
};
// The shift within ±maxShift frames that best lines `ours` up with `reference`.
Alignment align(const std::vector<float>& ours, const std::vector<float>& reference, int channels,
                long maxShift);

}  // namespace queuetest
