#pragma once
// Drives one AudioFileStream the way a reader does and records everything it reports, so
// that tests compare what came out with the fixtures' ffprobe packet lists.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/parser/AudioFileStream.h"
#include "tests/support/TestFiles.h"

namespace parsertest {

struct ProbePacket {
    uint64_t position = 0;
    uint32_t size = 0;
};

struct Packet {
    std::vector<uint8_t> bytes;
    uint32_t variableFrames = 0;
};

struct Recorded {
    std::vector<uint32_t> notified;  // property ids in the order they came
    std::vector<Packet> packets;     // described packets, in order
    // The end marks among them, kept apart: what the decoder is told to play of a last page,
    // each with the number of packets recorded before it.
    std::vector<std::pair<size_t, uint32_t>> keepMarks;
    std::vector<uint8_t> pcm;  // packets without descriptions, concatenated
    uint32_t pcmCallbacks = 0;
    // Read in the listener, as the engine reads them.
    audio::AudioStreamBasicDescription format{};
    std::optional<int64_t> dataOffset;
    std::optional<uint64_t> byteCount;
    std::optional<uint64_t> packetCount;
    std::vector<audio::AudioFormatListItem> formats;
    std::vector<uint8_t> cookie;
    uint32_t packetSizeUpperBound = 0;
    // Faults a reader would trip over.
    bool packetsBeforeFormat = false;
    bool pcmCallbackNotWholeFrames = false;
    bool descriptionOutOfRange = false;
};

class ParserHarness {
public:
    explicit ParserHarness(audio::AudioFileTypeID hint = audio::kAudioFileMP3Type);
    ~ParserHarness();
    ParserHarness(const ParserHarness&) = delete;
    ParserHarness& operator=(const ParserHarness&) = delete;

    audio::OSStatus push(const uint8_t* data, size_t size, uint32_t flags = 0);
    // Pushes in chunks whose sizes `nextChunk` picks; stops at the first failure.
    audio::OSStatus pushChunked(const std::vector<uint8_t>& bytes, size_t from, size_t to,
                                const std::function<size_t()>& nextChunk, uint32_t firstFlags = 0);
    audio::OSStatus seek(int64_t packet, int64_t& offset, bool& estimated);

    audio::AudioFileStreamID stream() const { return stream_; }
    Recorded& recorded() { return recorded_; }
    // Close from inside the next packet callback.
    void closeInPacketCallback() { closeInCallback_ = true; }
    bool closed() const { return stream_ == nullptr; }

private:
    static void onProperty(void* client, audio::AudioFileStreamID stream,
                           audio::AudioFileStreamPropertyID id, uint32_t* flags);
    static void onPackets(void* client, uint32_t bytes, uint32_t count, const void* data,
                          audio::AudioStreamPacketDescription* descriptions);

    audio::AudioFileStreamID stream_ = nullptr;
    Recorded recorded_;
    bool closeInCallback_ = false;
};

using testsupport::fixturePath;
using testsupport::readFileBytes;
std::vector<uint8_t> readFixture(const std::string& name);
std::vector<ProbePacket> probePackets(const std::string& name);

// The whole file in one push.
Recorded parseAll(const std::vector<uint8_t>& bytes, audio::AudioFileTypeID hint,
                  audio::OSStatus* status = nullptr);

// The hint the streaming engine derives from a file name's extension.
audio::AudioFileTypeID hintFor(const std::string& name);

}  // namespace parsertest
