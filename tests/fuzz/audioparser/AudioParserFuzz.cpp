// Fuzz target for the audio file-stream parser. The first bytes choose the file-type hint and
// seed the choices of chunk sizes, discontinuity flags and seeks; the rest is the stream. The
// callbacks read every property the way the streaming engine does and touch every packet
// byte, so that a description pointing outside the pushed bytes is caught.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/audio/parser/AudioFileStream.h"

using namespace audio;

namespace {

constexpr AudioFileTypeID kHints[] = {
    kAudioFileMP3Type, kAudioFileWAVEType,  kAudioFileAIFCType, kAudioFileAIFFType,
    kAudioFileM4AType, kAudioFileMPEG4Type, kAudioFileCAFType,  kAudioFileAAC_ADTSType,
    kAudioFileOggType, kAudioFileFLACType};
constexpr size_t kHintCount = sizeof kHints / sizeof kHints[0];

struct Random {
    uint64_t state;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return uint32_t(state);
    }
};

volatile uint8_t sink;

void readEverything(AudioFileStreamID stream) {
    static constexpr AudioFileStreamPropertyID kIds[] = {
        kAudioFileStreamProperty_ReadyToProducePackets,
        kAudioFileStreamProperty_DataOffset,
        kAudioFileStreamProperty_AudioDataByteCount,
        kAudioFileStreamProperty_AudioDataPacketCount,
        kAudioFileStreamProperty_DataFormat,
        kAudioFileStreamProperty_FormatList,
        kAudioFileStreamProperty_PacketSizeUpperBound,
        kAudioFileStreamProperty_MaximumPacketSize,
        kAudioFileStreamProperty_MagicCookieData,
        kAudioFileStreamProperty_BitRate};
    for (AudioFileStreamPropertyID id : kIds) {
        uint32_t size = 0;
        bool writable = false;
        if (AudioFileStreamGetPropertyInfo(stream, id, &size, &writable) != noErr) continue;
        std::vector<uint8_t> value(size + 1);
        if (AudioFileStreamGetProperty(stream, id, &size, value.data()) != noErr) abort();
    }
}

void onProperty(void*, AudioFileStreamID stream, AudioFileStreamPropertyID, uint32_t*) {
    readEverything(stream);
}

void onPackets(void*, uint32_t bytes, uint32_t count, const void* data,
               AudioStreamPacketDescription* descriptions) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint8_t sum = 0;
    if (!descriptions) {
        for (uint32_t i = 0; i < bytes; ++i) sum ^= p[i];
    } else {
        for (uint32_t i = 0; i < count; ++i) {
            const AudioStreamPacketDescription& d = descriptions[i];
            if (d.mStartOffset < 0 || uint64_t(d.mStartOffset) + d.mDataByteSize > bytes) abort();
            for (uint32_t b = 0; b < d.mDataByteSize; ++b) sum ^= p[d.mStartOffset + b];
        }
    }
    sink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const AudioFileTypeID hint = kHints[data[0] % kHintCount];
    Random random{
        (uint64_t(data[1]) << 24 | uint64_t(data[2]) << 16 | uint64_t(data[3]) << 8 | data[4]) + 1};
    data += 5;
    size -= 5;

    AudioFileStreamID stream = nullptr;
    if (AudioFileStreamOpen(nullptr, onProperty, onPackets, hint, &stream) != noErr) abort();
    size_t at = 0;
    while (at < size) {
        const uint32_t choice = random.next();
        size_t chunk = choice % 4 == 0 ? random.next() % 8 + 1 : random.next() % 4096 + 1;
        if (chunk > size - at) chunk = size - at;
        uint32_t flags = random.next() % 32 == 0 ? kAudioFileStreamParseFlag_Discontinuity : 0;
        if (random.next() % 48 == 0) {
            int64_t offset = 0;
            uint32_t seekFlags = 0;
            const int64_t packet = int64_t(random.next() % 100000) - 2;
            if (AudioFileStreamSeek(stream, packet, &offset, &seekFlags) == noErr && offset < 0)
                abort();
            flags = kAudioFileStreamParseFlag_Discontinuity;
        }
        if (AudioFileStreamParseBytes(stream, uint32_t(chunk), data + at, flags) != noErr) break;
        at += chunk;
    }
    if (at >= size)
        AudioFileStreamParseBytes(stream, 0, nullptr, kAudioFileStreamParseFlag_EndOfData);
    readEverything(stream);
    AudioFileStreamClose(stream);
    return 0;
}
