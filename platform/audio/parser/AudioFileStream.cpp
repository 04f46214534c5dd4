// The file stream: the C interface of AudioFileStream.h over the container parsers.
//
// Property notifications. Once the container has told what the stream is, and before any
// packet, the listener hears, in this order:
//   'dfmt'  the stream description;
//   'flst'  the format list (an HE-AAC stream with explicit signalling lists 'aach' first);
//   'mgic'  the magic cookie, only for formats that have one (AAC, ALAC);
//   'doff'  the data offset;
//   'bcnt'  the audio data byte count, only when the container tells it;
//   'pcnt'  the audio data packet count, only when the container tells it;
//   'redy'  immediately before the first packet callback, in the same parse call.
// Each is notified once. 'pkub', 'psze' and 'brat' are not notified but can be read from the
// 'dfmt' notification on. A property that the stream does not have (yet) reads as
// kAudioFileStreamError_ValueUnknown. Because 'redy' and the first packets come together,
// a reader that raises its own discontinuity flag on 'redy' clears it at once.
//
// Discontinuities. A parse call with kAudioFileStreamParseFlag_Discontinuity drops the bytes
// kept from earlier pushes and re-synchronises: on frame starts for MP3 and ADTS; for PCM the
// bytes are taken to start on a frame; MP4 and CAF packet tables cannot place bytes whose
// origin is unknown and fail with kAudioFileStreamError_DiscontinuityCantRecover. A seek
// counts as a discontinuity of its own, whose position is known when the seek was exact. The
// flag may stay raised on the following calls until packets come out (the streaming engine
// raises it until it sees packets); those calls continue the same discontinuity instead of
// starting new ones.
//
// Threads: one thread at a time per stream. The callbacks run inside the parse call on the
// caller's thread; from inside them the client may read properties and may close the stream
// (the close takes effect when the parse call returns), but may not parse or seek.

#include "platform/audio/parser/AudioFileStream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "platform/audio/parser/ByteQueue.h"
#include "platform/audio/parser/FormatParser.h"
#include "platform/audio/parser/FormatSniffer.h"

namespace audio {

using parsing::ByteQueue;
using parsing::FormatParser;
using parsing::ParseStep;
using parsing::StreamDescription;

struct OpaqueAudioFileStream final : parsing::ParserOutput {
    OpaqueAudioFileStream(void* client, AudioFileStream_PropertyListenerProc propertyProc,
                          AudioFileStream_PacketsProc packetsProc, AudioFileTypeID hint)
        : clientData(client),
          propertyListener(propertyProc),
          packetsCallback(packetsProc),
          parser(std::make_unique<parsing::FormatSniffer>(*this, hint)) {}

    void publish(const StreamDescription& d) override {
        description = d;
        published = true;
        notify(kAudioFileStreamProperty_DataFormat);
        notify(kAudioFileStreamProperty_FormatList);
        if (!description.magicCookie.empty()) notify(kAudioFileStreamProperty_MagicCookieData);
        notify(kAudioFileStreamProperty_DataOffset);
        if (description.audioDataByteCount) notify(kAudioFileStreamProperty_AudioDataByteCount);
        if (description.audioDataPacketCount) notify(kAudioFileStreamProperty_AudioDataPacketCount);
    }

    void packets(const uint8_t* data, uint32_t bytes, uint32_t count,
                 AudioStreamPacketDescription* descriptions) override {
        if (closeRequested || count == 0) return;
        if (!ready) {
            ready = true;
            notify(kAudioFileStreamProperty_ReadyToProducePackets);
            if (closeRequested) return;
        }
        gapOpen = false;
        if (packetsCallback) packetsCallback(clientData, bytes, count, data, descriptions);
    }

    bool open() const override { return !closeRequested; }

    void requestBytesFrom(uint64_t offset) override {
        requestedOffset = offset;
        // The reader's next flagged push answers this request, even if no packet came out
        // since the last gap.
        gapOpen = false;
        notify(kAudioFileStreamProperty_RequestedByteOffset);
    }

    void notify(AudioFileStreamPropertyID id) {
        if (closeRequested || !propertyListener) return;
        uint32_t flags = kAudioFileStreamPropertyFlag_PropertyIsCached;
        propertyListener(clientData, this, id, &flags);
    }

    // Hands bytes to the parser, keeping in `pending` what it cannot use yet.
    OSStatus feed(const uint8_t* data, size_t size);
    OSStatus apply(const ParseStep& step, size_t available);

    void* clientData;
    AudioFileStream_PropertyListenerProc propertyListener;
    AudioFileStream_PacketsProc packetsCallback;
    std::unique_ptr<FormatParser> parser;

    ByteQueue pending;
    size_t need = 1;
    StreamDescription description;
    bool published = false;
    bool ready = false;
    OSStatus failure = noErr;
    bool inCall = false;
    bool closeRequested = false;
    bool seekIndexWanted = true;
    std::optional<uint64_t> requestedOffset;
    // A discontinuity (or seek) whose first packets have not come out yet.
    bool gapOpen = false;
};

namespace {

// Bytes a parser may ask the stream to gather: the largest packet plus a little header.
constexpr size_t kMaxNeed = parsing::kMaxPacketBytes + 64;

// Marks the stream busy for the length of a call; a close requested from a callback
// happens when the outermost call ends.
class CallScope {
public:
    explicit CallScope(AudioFileStreamID stream) : stream_(stream) { stream_->inCall = true; }
    ~CallScope() {
        stream_->inCall = false;
        if (stream_->closeRequested) delete stream_;
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    AudioFileStreamID stream_;
};

}  // namespace

OSStatus OpaqueAudioFileStream::apply(const ParseStep& step, size_t available) {
    if (closeRequested) return noErr;  // the client is done with the stream
    if (step.status != noErr) return step.status;
    // A parser that neither consumes nor asks for more would loop forever.
    if (step.consumed > available) return kAudioFileStreamError_UnspecifiedError;
    if (step.consumed < available && step.need <= available - step.consumed) {
        return kAudioFileStreamError_UnspecifiedError;
    }
    if (step.need > kMaxNeed) return kAudioFileStreamError_UnspecifiedError;
    need = std::max<size_t>(step.need, 1);
    return noErr;
}

OSStatus OpaqueAudioFileStream::feed(const uint8_t* data, size_t size) {
    while (!closeRequested) {
        if (pending.empty()) {
            if (size == 0) return noErr;
            if (size < need) {
                pending.append(data, size);
                return noErr;
            }
            const ParseStep step = parser->parse(data, size);
            if (const OSStatus status = apply(step, size); status != noErr) return status;
            data += step.consumed;
            size -= step.consumed;
            continue;
        }
        if (pending.size() < need) {
            const size_t take = std::min(size, need - pending.size());
            pending.append(data, take);
            data += take;
            size -= take;
            if (pending.size() < need) return noErr;
        }
        const ParseStep step = parser->parse(pending.data(), pending.size());
        if (const OSStatus status = apply(step, pending.size()); status != noErr) return status;
        pending.consume(step.consumed);
    }
    return noErr;
}

namespace {

// Size and location of a property's value, or a status when the stream has none.
struct PropertyValue {
    OSStatus status = noErr;
    const void* data = nullptr;
    uint32_t size = 0;
    bool isList = false;  // 'flst': a reader may take fewer whole items
};

PropertyValue valueOf(AudioFileStreamID s, AudioFileStreamPropertyID id, uint32_t& scratch32,
                      uint64_t& scratch64) {
    const StreamDescription& d = s->description;
    auto fixed = [](const void* p, uint32_t size) { return PropertyValue{noErr, p, size, false}; };
    if (id == kAudioFileStreamProperty_ReadyToProducePackets) {
        scratch32 = s->ready ? 1 : 0;
        return fixed(&scratch32, 4);
    }
    if (id == kAudioFileStreamProperty_RequestedByteOffset) {
        if (!s->requestedOffset) return {kAudioFileStreamError_ValueUnknown};
        scratch64 = *s->requestedOffset;
        return fixed(&scratch64, 8);
    }
    if (id == kAudioFileStreamProperty_SeekIndexWanted) {
        scratch32 = s->seekIndexWanted ? 1 : 0;
        return fixed(&scratch32, 4);
    }
    const bool known =
        id == kAudioFileStreamProperty_DataOffset ||
        id == kAudioFileStreamProperty_AudioDataByteCount ||
        id == kAudioFileStreamProperty_AudioDataPacketCount ||
        id == kAudioFileStreamProperty_DataFormat || id == kAudioFileStreamProperty_FormatList ||
        id == kAudioFileStreamProperty_PacketSizeUpperBound ||
        id == kAudioFileStreamProperty_MaximumPacketSize ||
        id == kAudioFileStreamProperty_MagicCookieData || id == kAudioFileStreamProperty_BitRate;
    if (!known) return {kAudioFileStreamError_UnsupportedProperty};
    const PropertyValue unknown{kAudioFileStreamError_ValueUnknown};
    if (!s->published) return unknown;
    switch (id) {
        case kAudioFileStreamProperty_DataOffset:
            scratch64 = uint64_t(d.dataOffset);
            return fixed(&scratch64, 8);
        case kAudioFileStreamProperty_AudioDataByteCount:
            if (!d.audioDataByteCount) return unknown;
            scratch64 = *d.audioDataByteCount;
            return fixed(&scratch64, 8);
        case kAudioFileStreamProperty_AudioDataPacketCount:
            if (!d.audioDataPacketCount) return unknown;
            scratch64 = *d.audioDataPacketCount;
            return fixed(&scratch64, 8);
        case kAudioFileStreamProperty_DataFormat: return fixed(&d.format, sizeof d.format);
        case kAudioFileStreamProperty_FormatList:
            return {noErr, d.formatList.data(),
                    uint32_t(d.formatList.size() * sizeof(AudioFormatListItem)), true};
        case kAudioFileStreamProperty_PacketSizeUpperBound:
            if (d.packetSizeUpperBound == 0) return unknown;
            return fixed(&d.packetSizeUpperBound, 4);
        case kAudioFileStreamProperty_MaximumPacketSize:
            if (d.maximumPacketSize == 0) return unknown;
            return fixed(&d.maximumPacketSize, 4);
        case kAudioFileStreamProperty_MagicCookieData:
            if (d.magicCookie.empty()) return unknown;
            return fixed(d.magicCookie.data(), uint32_t(d.magicCookie.size()));
        case kAudioFileStreamProperty_BitRate:
            if (!d.bitRate) return unknown;
            scratch32 = *d.bitRate;
            return fixed(&scratch32, 4);
        default: return {kAudioFileStreamError_UnsupportedProperty};
    }
}

}  // namespace

AudioFileTypeID AudioFileTypeHintForExtension(const std::string& fileExtension) {
    if (fileExtension == "wav") return kAudioFileWAVEType;
    if (fileExtension == "aifc") return kAudioFileAIFCType;
    if (fileExtension == "aiff") return kAudioFileAIFFType;
    if (fileExtension == "m4a") return kAudioFileM4AType;
    if (fileExtension == "mp4") return kAudioFileMPEG4Type;
    if (fileExtension == "caf") return kAudioFileCAFType;
    if (fileExtension == "aac") return kAudioFileAAC_ADTSType;
    if (fileExtension == "flac") return kAudioFileFLACType;
    if (fileExtension == "ogg" || fileExtension == "oga" || fileExtension == "opus") {
        return kAudioFileOggType;
    }
    return kAudioFileMP3Type;
}

OSStatus AudioFileStreamOpen(void* clientData, AudioFileStream_PropertyListenerProc propertyProc,
                             AudioFileStream_PacketsProc packetsProc, AudioFileTypeID fileTypeHint,
                             AudioFileStreamID* outStream) {
    if (!outStream) return kAudioFileStreamError_IllegalOperation;
    *outStream = new (std::nothrow)
        OpaqueAudioFileStream(clientData, propertyProc, packetsProc, fileTypeHint);
    return *outStream ? noErr : kAudioFileStreamError_UnspecifiedError;
}

OSStatus AudioFileStreamParseBytes(AudioFileStreamID stream, uint32_t dataByteSize,
                                   const void* data, uint32_t flags) {
    if (!stream || (!data && dataByteSize > 0) || stream->inCall) {
        return kAudioFileStreamError_IllegalOperation;
    }
    if (stream->failure != noErr) return stream->failure;
    CallScope scope(stream);
    if ((flags & kAudioFileStreamParseFlag_Discontinuity) && !stream->gapOpen) {
        stream->pending.clear();
        stream->need = 1;
        stream->parser->discontinuity();
        stream->gapOpen = true;
    }
    const OSStatus status = stream->feed(static_cast<const uint8_t*>(data), dataByteSize);
    if (status != noErr) {
        stream->failure = status;
        return status;
    }
    if ((flags & kAudioFileStreamParseFlag_EndOfData) && !stream->closeRequested) {
        stream->parser->endOfData(stream->pending.data(), stream->pending.size());
        stream->pending.clear();
        stream->need = 1;
    }
    return noErr;
}

OSStatus AudioFileStreamGetPropertyInfo(AudioFileStreamID stream,
                                        AudioFileStreamPropertyID propertyID,
                                        uint32_t* outPropertyDataSize, bool* outWritable) {
    if (!stream) return kAudioFileStreamError_IllegalOperation;
    uint32_t scratch32 = 0;
    uint64_t scratch64 = 0;
    const PropertyValue value = valueOf(stream, propertyID, scratch32, scratch64);
    if (value.status != noErr) return value.status;
    if (outPropertyDataSize) *outPropertyDataSize = value.size;
    if (outWritable) *outWritable = propertyID == kAudioFileStreamProperty_SeekIndexWanted;
    return noErr;
}

OSStatus AudioFileStreamGetProperty(AudioFileStreamID stream, AudioFileStreamPropertyID propertyID,
                                    uint32_t* ioPropertyDataSize, void* outPropertyData) {
    if (!stream || !ioPropertyDataSize || !outPropertyData) {
        return kAudioFileStreamError_IllegalOperation;
    }
    uint32_t scratch32 = 0;
    uint64_t scratch64 = 0;
    const PropertyValue value = valueOf(stream, propertyID, scratch32, scratch64);
    if (value.status != noErr) return value.status;
    uint32_t size = value.size;
    if (value.isList) {
        // A list reader may ask for fewer items; never for part of one.
        const uint32_t item = sizeof(AudioFormatListItem);
        if (*ioPropertyDataSize < item) return kAudioFileStreamError_BadPropertySize;
        size = std::min(size, *ioPropertyDataSize / item * item);
    } else if (*ioPropertyDataSize < size) {
        return kAudioFileStreamError_BadPropertySize;
    }
    std::memcpy(outPropertyData, value.data, size);
    *ioPropertyDataSize = size;
    return noErr;
}

OSStatus AudioFileStreamSetProperty(AudioFileStreamID stream, AudioFileStreamPropertyID propertyID,
                                    uint32_t propertyDataSize, const void* propertyData) {
    if (!stream || !propertyData) return kAudioFileStreamError_IllegalOperation;
    if (propertyID != kAudioFileStreamProperty_SeekIndexWanted)
        return kAudioFileStreamError_UnsupportedProperty;
    if (propertyDataSize != sizeof(uint32_t)) return kAudioFileStreamError_BadPropertySize;
    uint32_t wanted = 0;
    std::memcpy(&wanted, propertyData, sizeof wanted);
    stream->seekIndexWanted = wanted != 0;
    stream->parser->setSeekIndexWanted(stream->seekIndexWanted);
    return noErr;
}

OSStatus AudioFileStreamSeek(AudioFileStreamID stream, int64_t packetOffset,
                             int64_t* outDataByteOffset, uint32_t* ioFlags) {
    if (!stream || !outDataByteOffset || stream->inCall)
        return kAudioFileStreamError_IllegalOperation;
    if (packetOffset < 0) return kAudioFileStreamError_InvalidPacketOffset;
    int64_t offset = 0;
    bool estimated = false;
    const OSStatus status = stream->parser->seek(packetOffset, offset, estimated);
    if (status != noErr) return status;
    // The reader repositions: what was kept of the old position is of no use.
    stream->pending.clear();
    stream->need = 1;
    stream->gapOpen = true;
    *outDataByteOffset = offset;
    if (ioFlags) {
        *ioFlags = estimated ? (*ioFlags | kAudioFileStreamSeekFlag_OffsetIsEstimated)
                             : (*ioFlags & ~kAudioFileStreamSeekFlag_OffsetIsEstimated);
    }
    return noErr;
}

OSStatus AudioFileStreamClose(AudioFileStreamID stream) {
    if (!stream) return kAudioFileStreamError_IllegalOperation;
    if (stream->inCall) {
        stream->closeRequested = true;
        return noErr;
    }
    delete stream;
    return noErr;
}

}  // namespace audio
