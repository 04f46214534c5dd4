#include "platform/audio/parser/AacConfig.h"

#include "platform/audio/parser/AdtsFrameHeader.h"
#include "platform/audio/parser/BitReader.h"

namespace audio::parsing {

namespace {

constexpr uint32_t kObjectSbr = 5;
constexpr uint32_t kObjectPs = 29;
constexpr uint32_t kSbrSyncExtension = 0x2B7;
constexpr uint32_t kPsSyncExtension = 0x548;

uint32_t readObjectType(BitReader& bits) {
    uint32_t type = bits.read(5);
    if (type == 31) type = 32 + bits.read(6);
    return type;
}

uint32_t readSampleRate(BitReader& bits) {
    const uint32_t index = bits.read(4);
    return index == 15 ? bits.read(24) : aacSampleRateForIndex(index);
}

uint32_t channelsForConfiguration(uint32_t configuration) {
    return configuration == 7 ? 8 : configuration;
}

// A program_config_element: the channel count of a stream whose configuration is 0.
uint32_t readProgramConfigChannels(BitReader& bits) {
    bits.skip(4 + 2 + 4);  // element_instance_tag, object_type, sampling_frequency_index
    const uint32_t front = bits.read(4);
    const uint32_t side = bits.read(4);
    const uint32_t back = bits.read(4);
    const uint32_t lfe = bits.read(2);
    bits.skip(3 + 4);                // assoc data, valid cc
    if (bits.read(1)) bits.skip(4);  // mono mixdown
    if (bits.read(1)) bits.skip(4);  // stereo mixdown
    if (bits.read(1)) bits.skip(3);  // matrix mixdown
    uint32_t channels = lfe;
    for (uint32_t i = 0; i < front + side + back; ++i) {
        channels += bits.read(1) ? 2 : 1;
        bits.skip(4);
    }
    return channels;
}

AudioStreamBasicDescription aacFormat(uint32_t formatID, uint32_t flags, double rate,
                                      uint32_t framesPerPacket, uint32_t channels) {
    AudioStreamBasicDescription f{};
    f.mSampleRate = rate;
    f.mFormatID = formatID;
    f.mFormatFlags = flags;
    f.mFramesPerPacket = framesPerPacket;
    f.mChannelsPerFrame = channels;
    return f;
}

}  // namespace

std::optional<AacConfig> parseAudioSpecificConfig(const uint8_t* data, size_t size) {
    BitReader bits(data, size);
    AacConfig config;
    uint32_t type = readObjectType(bits);
    config.sampleRate = readSampleRate(bits);
    uint32_t channelConfiguration = bits.read(4);
    if (type == kObjectSbr || type == kObjectPs) {
        config.sbr = true;
        config.ps = type == kObjectPs;
        config.extensionSampleRate = readSampleRate(bits);
        type = readObjectType(bits);
    }
    // General audio: the AAC object types a decoder plays.
    if (type < 1 || type > 4) return std::nullopt;
    config.objectType = type;
    config.frameLength = bits.read(1) ? 960 : 1024;
    if (bits.read(1)) bits.skip(14);  // core coder delay
    bits.skip(1);                     // extension flag: always 0 for these object types
    config.channels = channelConfiguration == 0 ? readProgramConfigChannels(bits)
                                                : channelsForConfiguration(channelConfiguration);
    // Backward-compatible explicit signalling: a sync extension after the core configuration.
    // (After a program config element the reader is not at the end of it: no check then.)
    if (!config.sbr && channelConfiguration != 0 && bits.remaining() >= 16 &&
        bits.read(11) == kSbrSyncExtension) {
        if (readObjectType(bits) == kObjectSbr && bits.read(1)) {
            config.sbr = true;
            config.extensionSampleRate = readSampleRate(bits);
            if (bits.remaining() >= 12 && bits.read(11) == kPsSyncExtension && bits.read(1)) {
                config.ps = true;
            }
        }
    }
    if (bits.overrun()) return std::nullopt;
    if (config.sampleRate == 0 || config.sampleRate > 96000) return std::nullopt;
    if (config.channels == 0 || config.channels > 48) return std::nullopt;
    if (config.sbr && (config.extensionSampleRate == 0 || config.extensionSampleRate > 96000)) {
        config.extensionSampleRate = 2 * config.sampleRate;
        if (config.extensionSampleRate > 96000) return std::nullopt;
    }
    return config;
}

std::vector<uint8_t> makeAudioSpecificConfig(uint32_t objectType, uint32_t sampleRateIndex,
                                             uint32_t channelConfiguration) {
    const uint32_t value =
        (objectType << 11) | (sampleRateIndex << 7) | (channelConfiguration << 3);
    return {uint8_t(value >> 8), uint8_t(value)};
}

void describeAac(const AacConfig& config, const std::vector<uint8_t>& audioSpecificConfig,
                 StreamDescription& out) {
    out.format = aacFormat(kAudioFormatMPEG4AAC, config.objectType, config.sampleRate,
                           config.frameLength, config.channels);
    out.formatList.clear();
    const double outputRate = config.extensionSampleRate;
    if (config.ps) {
        out.formatList.push_back(formatListItem(aacFormat(kAudioFormatMPEG4AAC_HE_V2, kObjectPs,
                                                          outputRate, 2 * config.frameLength, 2)));
    }
    if (config.sbr) {
        out.formatList.push_back(
            formatListItem(aacFormat(kAudioFormatMPEG4AAC_HE, kObjectSbr, outputRate,
                                     2 * config.frameLength, config.channels)));
    }
    out.formatList.push_back(formatListItem(out.format));
    out.magicCookie = audioSpecificConfig;
}

}  // namespace audio::parsing
