#include "platform/audio/queue/AudioDecoder.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/Log.h"
#include "platform/audio/InBandConfig.h"
#include "platform/audio/queue/MagicCookie.h"

namespace audio {

namespace {

bool isPcm(const AudioStreamBasicDescription& f) { return f.mFormatID == kAudioFormatLinearPCM; }

int pcmBytesPerSample(const AudioStreamBasicDescription& f) {
    if (f.mChannelsPerFrame == 0) return 0;
    if (f.mBytesPerFrame != 0) return int(f.mBytesPerFrame / f.mChannelsPerFrame);
    return int((f.mBitsPerChannel + 7) / 8);
}

AVCodecID pcmCodec(const AudioStreamBasicDescription& f) {
    if (f.mFormatFlags & kAudioFormatFlagIsNonInterleaved) return AV_CODEC_ID_NONE;
    const bool big = f.mFormatFlags & kAudioFormatFlagIsBigEndian;
    const bool isSigned = f.mFormatFlags & kAudioFormatFlagIsSignedInteger;
    if (f.mFormatFlags & kAudioFormatFlagIsFloat) {
        switch (pcmBytesPerSample(f)) {
            case 4: return big ? AV_CODEC_ID_PCM_F32BE : AV_CODEC_ID_PCM_F32LE;
            case 8: return big ? AV_CODEC_ID_PCM_F64BE : AV_CODEC_ID_PCM_F64LE;
            default: return AV_CODEC_ID_NONE;
        }
    }
    switch (pcmBytesPerSample(f)) {
        case 1: return isSigned ? AV_CODEC_ID_PCM_S8 : AV_CODEC_ID_PCM_U8;
        case 2:
            if (isSigned) return big ? AV_CODEC_ID_PCM_S16BE : AV_CODEC_ID_PCM_S16LE;
            return big ? AV_CODEC_ID_PCM_U16BE : AV_CODEC_ID_PCM_U16LE;
        case 3:
            if (isSigned) return big ? AV_CODEC_ID_PCM_S24BE : AV_CODEC_ID_PCM_S24LE;
            return big ? AV_CODEC_ID_PCM_U24BE : AV_CODEC_ID_PCM_U24LE;
        case 4:
            if (isSigned) return big ? AV_CODEC_ID_PCM_S32BE : AV_CODEC_ID_PCM_S32LE;
            return big ? AV_CODEC_ID_PCM_U32BE : AV_CODEC_ID_PCM_U32LE;
        default: return AV_CODEC_ID_NONE;
    }
}

// The codecs an Ogg stream may switch between at a link of a chain.
bool mayChainTo(uint32_t formatId) {
    return formatId == kAudioFormatVorbis || formatId == kAudioFormatOpus ||
           formatId == kAudioFormatFLAC;
}

AVCodecID codecFor(const AudioStreamBasicDescription& f) {
    switch (f.mFormatID) {
        case kAudioFormatLinearPCM: return pcmCodec(f);
        case kAudioFormatMPEGLayer3: return AV_CODEC_ID_MP3;
        case kAudioFormatMPEG4AAC:
        case kAudioFormatMPEG4AAC_HE:
        case kAudioFormatMPEG4AAC_HE_V2: return AV_CODEC_ID_AAC;
        case kAudioFormatAppleLossless: return AV_CODEC_ID_ALAC;
        case kAudioFormatVorbis: return AV_CODEC_ID_VORBIS;
        case kAudioFormatOpus: return AV_CODEC_ID_OPUS;
        case kAudioFormatFLAC: return AV_CODEC_ID_FLAC;
        default: return AV_CODEC_ID_NONE;
    }
}

// libav* writes its diagnostics to stderr; a damaged network stream would flood it. Our own log
// line reports what matters (a decoder that cannot be opened).
void quietenFFmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

}  // namespace

AudioDecoder::AudioDecoder(const AudioStreamBasicDescription& format)
    : format_(format),
      codecId_(codecFor(format)),
      pcmFrameBytes_(isPcm(format) ? pcmBytesPerSample(format) * int(format.mChannelsPerFrame)
                                   : 0) {
    quietenFFmpegLog();
}

bool AudioDecoder::isSupported(const AudioStreamBasicDescription& format) {
    const AVCodecID id = codecFor(format);
    if (id == AV_CODEC_ID_NONE || !avcodec_find_decoder(id)) return false;
    if (isPcm(format)) return format.mSampleRate > 0 && format.mChannelsPerFrame > 0;
    return true;
}

void AudioDecoder::setMagicCookie(std::vector<uint8_t> cookie) {
    cookie_ = std::move(cookie);
    needsOpen_ = true;
    openFailed_ = false;
}

bool AudioDecoder::ensureOpen() {
    if (!needsOpen_) return !openFailed_;
    needsOpen_ = false;
    context_.reset();
    parser_.reset();
    pcmCarry_.clear();

    const AVCodec* codec = avcodec_find_decoder(codecId_);
    ffmpeg::CodecContextPtr context(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!context) {
        openFailed_ = true;
        return false;
    }
    context->sample_rate = int(format_.mSampleRate);
    av_channel_layout_default(&context->ch_layout, int(format_.mChannelsPerFrame));
    if (pcmFrameBytes_ > 0) {
        context->block_align = pcmFrameBytes_;
        context->bits_per_coded_sample = pcmBytesPerSample(format_) * 8;
    }

    const std::vector<uint8_t> config = decoderConfig(format_, cookie_);
    if (!config.empty()) {
        // Decoders read extradata with padding past the end, zeroed.
        context->extradata =
            static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!context->extradata) {
            openFailed_ = true;
            return false;
        }
        std::memcpy(context->extradata, config.data(), config.size());
        context->extradata_size = int(config.size());
    }

    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        platform::logf("Audio queue: cannot open the %s decoder for %s.", codec->name,
                       fourCCText(format_.mFormatID).c_str());
        openFailed_ = true;
        return false;
    }
    context_ = std::move(context);
    openFailed_ = false;
    return true;
}

bool AudioDecoder::decode(std::span<const uint8_t> data,
                          std::span<const AudioStreamPacketDescription> descs,
                          const FrameHandler& onFrame) {
    if (!ensureOpen()) return false;
    if (pcmFrameBytes_ > 0) {
        if (descs.empty()) {
            decodePcm(data, onFrame);
        } else {
            for (const auto& d : descs)
                decodePcm(data.subspan(size_t(d.mStartOffset), d.mDataByteSize), onFrame);
        }
        return true;
    }
    if (descs.empty()) {
        decodeUnframed(data, onFrame);
        return true;
    }
    const bool chainable = mayChainTo(format_.mFormatID);
    for (const auto& d : descs) {
        const uint8_t* packet = data.data() + d.mStartOffset;
        if (chainable && takeInBandConfig({packet, d.mDataByteSize}, onFrame)) continue;
        if (context_) sendPacket(packet, d.mDataByteSize, onFrame);
    }
    return true;
}

bool AudioDecoder::takeInBandConfig(std::span<const uint8_t> packet, const FrameHandler& onFrame) {
    if (const auto skip = skipMarkSamples(packet)) {
        samplesToSkip_ = *skip;
        return true;
    }
    if (const auto keep = keepMarkSamples(packet)) {
        samplesToKeep_ = *keep;
        return true;
    }
    if (isConfigFragment(packet)) {
        const uint8_t index = packet[5];
        const uint8_t count = packet[6];
        if (index == 0) {
            configFragments_.clear();
            configFragmentsSeen_ = 0;
        }
        if (index != configFragmentsSeen_) return true;  // a piece was lost: wait for a whole set
        configFragments_.insert(configFragments_.end(), packet.begin() + kConfigFragmentHeaderBytes,
                                packet.end());
        if (++configFragmentsSeen_ < count) return true;
        configFragmentsSeen_ = 0;
        std::vector<uint8_t> whole;
        whole.swap(configFragments_);
        takeInBandConfig(whole, onFrame);
        return true;
    }
    const uint32_t formatId = inBandConfigFormat(packet);
    if (formatId == 0) return false;
    drain(onFrame);
    samplesToKeep_ = kKeepEverything;
    ++link_;
    format_.mFormatID = formatId;
    codecId_ = codecFor(format_);
    setMagicCookie({packet.begin(), packet.end()});
    ensureOpen();
    return true;
}

void AudioDecoder::decodePcm(std::span<const uint8_t> bytes, const FrameHandler& onFrame) {
    const size_t frameBytes = size_t(pcmFrameBytes_);
    if (!pcmCarry_.empty()) {
        // Complete the split frame first.
        const size_t missing = frameBytes - pcmCarry_.size();
        const size_t take = std::min(missing, bytes.size());
        pcmCarry_.insert(pcmCarry_.end(), bytes.begin(), bytes.begin() + take);
        bytes = bytes.subspan(take);
        if (pcmCarry_.size() < frameBytes) return;
        sendPacket(pcmCarry_.data(), pcmCarry_.size(), onFrame);
        pcmCarry_.clear();
    }
    const size_t whole = bytes.size() - bytes.size() % frameBytes;
    if (whole > 0) sendPacket(bytes.data(), whole, onFrame);
    pcmCarry_.assign(bytes.begin() + whole, bytes.end());
}

void AudioDecoder::decodeUnframed(std::span<const uint8_t> bytes, const FrameHandler& onFrame) {
    if (!parser_ && codecId_ != AV_CODEC_ID_ALAC) parser_.reset(av_parser_init(codecId_));
    if (!parser_) {
        sendPacket(bytes.data(), bytes.size(), onFrame);
        return;
    }
    while (!bytes.empty()) {
        uint8_t* packet = nullptr;
        int packetSize = 0;
        const int used =
            av_parser_parse2(parser_.get(), context_.get(), &packet, &packetSize, bytes.data(),
                             int(bytes.size()), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0) break;
        bytes = bytes.subspan(size_t(used));
        if (packetSize > 0) sendPacket(packet, size_t(packetSize), onFrame);
        if (used == 0 && packetSize == 0) break;
    }
}

void AudioDecoder::sendPacket(const uint8_t* data, size_t size, const FrameHandler& onFrame) {
    if (size == 0) return;
    // A fresh padded copy per packet, as a demuxer hands them over.
    if (av_new_packet(packet_.get(), int(size)) < 0) return;
    std::memcpy(packet_->data, data, size);
    const int status = avcodec_send_packet(context_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (status < 0 && status != AVERROR(EAGAIN)) return;  // a damaged packet: skip it
    receiveFrames(onFrame);
}

void AudioDecoder::receiveFrames(const FrameHandler& onFrame) {
    while (avcodec_receive_frame(context_.get(), frame_.get()) == 0) {
        deliver(*frame_, onFrame);
        av_frame_unref(frame_.get());
    }
}

void AudioDecoder::deliver(const AVFrame& frame, const FrameHandler& onFrame) {
    // The padding past a stream's end goes first, then what a seek said to drop.
    uint32_t samples = uint32_t(frame.nb_samples);
    if (samplesToKeep_ != kKeepEverything) {
        samples = std::min(samples, samplesToKeep_);
        samplesToKeep_ -= samples;
    }
    const uint32_t skipped = std::min(samples, samplesToSkip_);
    samplesToSkip_ -= skipped;
    if (skipped == samples) return;
    if (skipped == 0 && samples == uint32_t(frame.nb_samples)) {
        onFrame(frame);
        return;
    }
    // A view of the frame's own buffers from the first sample kept; never unreferenced.
    const auto format = AVSampleFormat(frame.format);
    const int channels = frame.ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format);
    const size_t step = size_t(av_get_bytes_per_sample(format)) * (planar ? 1 : size_t(channels));
    const size_t planes = planar ? size_t(channels) : 1;
    trimmedPlanes_.resize(planes);
    for (size_t plane = 0; plane < planes; ++plane) {
        trimmedPlanes_[plane] = frame.extended_data[plane] + skipped * step;
    }
    AVFrame view = frame;
    view.extended_data = trimmedPlanes_.data();
    for (size_t plane = 0; plane < planes && plane < AV_NUM_DATA_POINTERS; ++plane) {
        view.data[plane] = trimmedPlanes_[plane];
    }
    view.nb_samples = int(samples - skipped);
    onFrame(view);
}

void AudioDecoder::drain(const FrameHandler& onFrame) {
    if (!context_) return;
    if (parser_) {
        uint8_t* packet = nullptr;
        int packetSize = 0;
        av_parser_parse2(parser_.get(), context_.get(), &packet, &packetSize, nullptr, 0,
                         AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (packetSize > 0) sendPacket(packet, size_t(packetSize), onFrame);
        parser_.reset();
    }
    if (avcodec_send_packet(context_.get(), nullptr) == 0) receiveFrames(onFrame);
    avcodec_flush_buffers(context_.get());
    pcmCarry_.clear();
}

void AudioDecoder::reset() {
    samplesToSkip_ = 0;
    samplesToKeep_ = kKeepEverything;
    if (context_) avcodec_flush_buffers(context_.get());
    parser_.reset();
    pcmCarry_.clear();
}

}  // namespace audio
