#include "tests/audioparser/ParserHarness.h"

#include "platform/audio/InBandConfig.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

using namespace audio;

namespace parsertest {

ParserHarness::ParserHarness(AudioFileTypeID hint) {
    if (AudioFileStreamOpen(this, onProperty, onPackets, hint, &stream_) != noErr) {
        throw std::runtime_error("AudioFileStreamOpen failed");
    }
}

ParserHarness::~ParserHarness() {
    if (stream_) AudioFileStreamClose(stream_);
}

OSStatus ParserHarness::push(const uint8_t* data, size_t size, uint32_t flags) {
    const OSStatus status = AudioFileStreamParseBytes(stream_, uint32_t(size), data, flags);
    if (closeInCallback_) stream_ = nullptr;  // the close took effect as the call returned
    return status;
}

OSStatus ParserHarness::pushChunked(const std::vector<uint8_t>& bytes, size_t from, size_t to,
                                    const std::function<size_t()>& nextChunk, uint32_t firstFlags) {
    uint32_t flags = firstFlags;
    for (size_t at = from; at < to && stream_;) {
        const size_t n = std::min(nextChunk(), to - at);
        const OSStatus status = push(bytes.data() + at, n, flags);
        if (status != noErr) return status;
        flags = 0;
        at += n;
    }
    // The end of the file is the end of the data, as a reader says at the end of a download.
    if (to == bytes.size() && stream_) return push(nullptr, 0, kAudioFileStreamParseFlag_EndOfData);
    return noErr;
}

OSStatus ParserHarness::seek(int64_t packet, int64_t& offset, bool& estimated) {
    uint32_t flags = 0;
    const OSStatus status = AudioFileStreamSeek(stream_, packet, &offset, &flags);
    estimated = (flags & kAudioFileStreamSeekFlag_OffsetIsEstimated) != 0;
    return status;
}

void ParserHarness::onProperty(void* client, AudioFileStreamID stream, AudioFileStreamPropertyID id,
                               uint32_t*) {
    Recorded& r = static_cast<ParserHarness*>(client)->recorded_;
    r.notified.push_back(id);
    uint32_t size = 0;
    bool writable = false;
    switch (id) {
        case kAudioFileStreamProperty_DataFormat:
            size = sizeof r.format;
            AudioFileStreamGetProperty(stream, id, &size, &r.format);
            size = 4;
            AudioFileStreamGetProperty(stream, kAudioFileStreamProperty_PacketSizeUpperBound, &size,
                                       &r.packetSizeUpperBound);
            break;
        case kAudioFileStreamProperty_DataOffset: {
            int64_t value = 0;
            size = 8;
            if (AudioFileStreamGetProperty(stream, id, &size, &value) == noErr)
                r.dataOffset = value;
            break;
        }
        case kAudioFileStreamProperty_AudioDataByteCount:
        case kAudioFileStreamProperty_AudioDataPacketCount: {
            uint64_t value = 0;
            size = 8;
            if (AudioFileStreamGetProperty(stream, id, &size, &value) == noErr) {
                (id == kAudioFileStreamProperty_AudioDataByteCount ? r.byteCount : r.packetCount) =
                    value;
            }
            break;
        }
        case kAudioFileStreamProperty_FormatList:
            if (AudioFileStreamGetPropertyInfo(stream, id, &size, &writable) == noErr) {
                r.formats.resize(size / sizeof(AudioFormatListItem));
                AudioFileStreamGetProperty(stream, id, &size, r.formats.data());
            }
            break;
        case kAudioFileStreamProperty_MagicCookieData:
            if (AudioFileStreamGetPropertyInfo(stream, id, &size, &writable) == noErr) {
                r.cookie.resize(size);
                AudioFileStreamGetProperty(stream, id, &size, r.cookie.data());
            }
            break;
        default: break;
    }
}

void ParserHarness::onPackets(void* client, uint32_t bytes, uint32_t count, const void* data,
                              AudioStreamPacketDescription* descriptions) {
    auto* self = static_cast<ParserHarness*>(client);
    Recorded& r = self->recorded_;
    if (r.format.mSampleRate == 0) r.packetsBeforeFormat = true;
    const auto* base = static_cast<const uint8_t*>(data);
    if (descriptions) {
        for (uint32_t i = 0; i < count; ++i) {
            const AudioStreamPacketDescription& d = descriptions[i];
            if (d.mStartOffset < 0 || uint64_t(d.mStartOffset) + d.mDataByteSize > bytes) {
                r.descriptionOutOfRange = true;
                continue;
            }
            const std::span<const uint8_t> packet(base + d.mStartOffset, d.mDataByteSize);
            if (const auto keep = audio::keepMarkSamples(packet)) {
                r.keepMarks.emplace_back(r.packets.size(), *keep);
                continue;
            }
            r.packets.push_back({{packet.begin(), packet.end()}, d.mVariableFramesInPacket});
        }
    } else {
        const uint32_t frame = r.format.mBytesPerFrame;
        if (frame == 0 || bytes % frame != 0 || bytes / frame != count)
            r.pcmCallbackNotWholeFrames = true;
        r.pcm.insert(r.pcm.end(), base, base + bytes);
        ++r.pcmCallbacks;
    }
    if (self->closeInCallback_) AudioFileStreamClose(self->stream_);
}

std::vector<uint8_t> readFixture(const std::string& name) {
    return readFileBytes(fixturePath(name));
}

std::vector<ProbePacket> probePackets(const std::string& name) {
    std::ifstream in(fixturePath(name) + ".packets");
    if (!in) throw std::runtime_error("no packet list for " + name);
    std::vector<ProbePacket> packets;
    ProbePacket p;
    while (in >> p.position >> p.size) packets.push_back(p);
    return packets;
}

Recorded parseAll(const std::vector<uint8_t>& bytes, AudioFileTypeID hint, OSStatus* status) {
    ParserHarness parser(hint);
    OSStatus result = parser.push(bytes.data(), bytes.size());
    if (result == noErr && !parser.closed()) {
        result = parser.push(nullptr, 0, kAudioFileStreamParseFlag_EndOfData);
    }
    if (status) *status = result;
    return parser.recorded();
}

AudioFileTypeID hintFor(const std::string& name) {
    return AudioFileTypeHintForExtension(name.substr(name.rfind('.') + 1));
}

}  // namespace parsertest
