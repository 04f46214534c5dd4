#include "ParsedStream.h"

#include <algorithm>

namespace queuetest {

using namespace audio;

namespace {

constexpr size_t kReadChunk = 2048;
constexpr size_t kDescriptionsPerBuffer = 512;

struct Collector {
    AudioFileStreamID stream = nullptr;
    ParsedStream* out = nullptr;
};

void onProperty(void* client, AudioFileStreamID stream, AudioFileStreamPropertyID id, uint32_t*) {
    auto& out = *static_cast<Collector*>(client)->out;
    if (id == kAudioFileStreamProperty_DataFormat && out.format.mSampleRate == 0) {
        uint32_t size = sizeof out.format;
        AudioFileStreamGetProperty(stream, id, &size, &out.format);
    } else if (id == kAudioFileStreamProperty_FormatList) {
        // As the engine does: an HE-AAC item wins over the plain description.
        uint32_t size = 0;
        bool writable = false;
        if (AudioFileStreamGetPropertyInfo(stream, id, &size, &writable) != noErr) return;
        std::vector<AudioFormatListItem> items(size / sizeof(AudioFormatListItem));
        size = uint32_t(items.size() * sizeof(AudioFormatListItem));
        if (items.empty() || AudioFileStreamGetProperty(stream, id, &size, items.data()) != noErr)
            return;
        for (const auto& item : items) {
            if (item.mASBD.mFormatID == kAudioFormatMPEG4AAC_HE) {
                out.format = item.mASBD;
                break;
            }
        }
    } else if (id == kAudioFileStreamProperty_MagicCookieData) {
        uint32_t size = 0;
        bool writable = false;
        if (AudioFileStreamGetPropertyInfo(stream, id, &size, &writable) != noErr) return;
        out.cookie.resize(size);
        if (AudioFileStreamGetProperty(stream, id, &size, out.cookie.data()) != noErr)
            out.cookie.clear();
    }
}

void onPackets(void* client, uint32_t numberBytes, uint32_t numberPackets, const void* data,
               AudioStreamPacketDescription* descs) {
    auto& out = *static_cast<Collector*>(client)->out;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (!descs) {
        out.bytes.insert(out.bytes.end(), bytes, bytes + numberBytes);
        return;
    }
    for (uint32_t i = 0; i < numberPackets; ++i) {
        AudioStreamPacketDescription d = descs[i];
        const uint8_t* packet = bytes + d.mStartOffset;
        d.mStartOffset = int64_t(out.bytes.size());
        out.bytes.insert(out.bytes.end(), packet, packet + d.mDataByteSize);
        out.descs.push_back(d);
    }
}

uint32_t readUInt32(AudioFileStreamID stream, AudioFileStreamPropertyID id) {
    uint32_t value = 0;
    uint32_t size = sizeof value;
    return AudioFileStreamGetProperty(stream, id, &size, &value) == noErr ? value : 0;
}

}  // namespace

AudioFileTypeID hintForPath(const std::string& path) {
    const auto dot = path.rfind('.');
    return AudioFileTypeHintForExtension(dot == std::string::npos ? "" : path.substr(dot + 1));
}

ParsedStream parseWithFileStream(const std::vector<uint8_t>& file, AudioFileTypeID hint) {
    ParsedStream out;
    Collector collector{nullptr, &out};
    out.status = AudioFileStreamOpen(&collector, &onProperty, &onPackets, hint, &collector.stream);
    if (out.status != noErr) return out;
    for (size_t at = 0; at < file.size() && out.status == noErr; at += kReadChunk) {
        const size_t n = std::min(kReadChunk, file.size() - at);
        out.status = AudioFileStreamParseBytes(collector.stream, uint32_t(n), file.data() + at, 0);
    }
    if (out.status == noErr) {
        out.status = AudioFileStreamParseBytes(collector.stream, 0, nullptr,
                                               kAudioFileStreamParseFlag_EndOfData);
    }
    uint32_t size = readUInt32(collector.stream, kAudioFileStreamProperty_PacketSizeUpperBound);
    if (size == 0) size = readUInt32(collector.stream, kAudioFileStreamProperty_MaximumPacketSize);
    out.bufferSize = size ? size : 2048;
    AudioFileStreamClose(collector.stream);
    return out;
}

std::vector<BufferLoad> fillLikeTheEngine(const ParsedStream& stream) {
    if (stream.descs.empty()) return cutBytes(stream.bytes, stream.bufferSize);
    std::vector<BufferLoad> loads(1);
    for (auto d : stream.descs) {
        if (d.mDataByteSize > stream.bufferSize) continue;  // the engine reports these
        if (loads.back().bytes.size() + d.mDataByteSize > stream.bufferSize ||
            loads.back().descs.size() == kDescriptionsPerBuffer) {
            loads.emplace_back();
        }
        auto& load = loads.back();
        const auto* packet = stream.bytes.data() + d.mStartOffset;
        d.mStartOffset = int64_t(load.bytes.size());
        load.bytes.insert(load.bytes.end(), packet, packet + d.mDataByteSize);
        load.descs.push_back(d);
    }
    if (loads.back().bytes.empty()) loads.pop_back();
    return loads;
}

}  // namespace queuetest
