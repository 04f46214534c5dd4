#include "platform/audio/parser/OggCodec.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/audio/parser/ByteOrder.h"
#include "platform/audio/parser/FlacFormat.h"
#include "platform/audio/parser/FormatParser.h"

namespace audio::parsing {

namespace {

bool startsWith(const uint8_t* p, size_t size, const char* text) {
    const size_t length = std::strlen(text);
    return size >= length && std::memcmp(p, text, length) == 0;
}

uint32_t roundUp(uint32_t value, uint32_t step) { return (value + step - 1) / step * step; }

// ---- Vorbis ----

constexpr size_t kVorbisIdentBytes = 30;
constexpr uint8_t kVorbisEmptyComment[16] = {3, 'v', 'o', 'r', 'b', 'i', 's', 0,
                                             0, 0,   0,   0,   0,   0,   0,   1};

bool isVorbisHeader(const uint8_t* p, size_t size, uint8_t type) {
    return size >= 7 && p[0] == type && std::memcmp(p + 1, "vorbis", 6) == 0;
}

// Bits of a Vorbis packet are packed from the least significant bit of each byte.
class BackwardsBits {
public:
    BackwardsBits(const uint8_t* p, size_t size) : p_(p), size_(size) {}
    bool bit(size_t at) const { return (p_[at / 8] >> (at % 8)) & 1; }
    uint32_t field(size_t at, unsigned count) const {
        uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i) value |= uint32_t(bit(at + i)) << i;
        return value;
    }
    std::optional<size_t> lastSetBit() const {
        for (size_t at = size_ * 8; at-- > 0;) {
            if (bit(at)) return at;
        }
        return std::nullopt;
    }

private:
    const uint8_t* p_;
    size_t size_;
};

class VorbisCodec final : public OggCodec {
public:
    bool isHeader(const uint8_t* p, size_t size) const override {
        return size >= 7 && (p[0] & 1) && std::memcmp(p + 1, "vorbis", 6) == 0;
    }

    bool takeHeader(const uint8_t* p, size_t size) override {
        if (isVorbisHeader(p, size, 1)) return takeIdentification(p, size);
        if (isVorbisHeader(p, size, 5)) {
            if (ident_.empty()) return false;
            setup_.assign(p, p + size);
            blockFlags_ = vorbisModeBlockFlags(p, size);
            modeBits_ = 0;
            while ((size_t(1) << modeBits_) < blockFlags_.size()) ++modeBits_;
            return true;
        }
        return true;  // the comment header: nothing the decoder needs
    }

    bool ready() const override { return !ident_.empty() && !setup_.empty(); }

    void describe(const uint8_t*, size_t, StreamDescription& description) const override {
        AudioStreamBasicDescription& format = description.format;
        format = {};
        format.mSampleRate = rate_;
        format.mFormatID = kAudioFormatVorbis;
        // Packets alternate between two lengths; most are long ones, half a long block each.
        format.mFramesPerPacket = longBlock_ / 2;
        format.mChannelsPerFrame = channels_;
        description.formatList = {formatListItem(format)};
        description.magicCookie = config();
        if (nominalBitRate_ > 0) description.bitRate = nominalBitRate_;
        const uint32_t bound = packetBound();
        description.packetSizeUpperBound = bound;
        description.maximumPacketSize = bound;
    }

    std::vector<uint8_t> config() const override {
        std::vector<uint8_t> out(ident_);
        out.insert(out.end(), std::begin(kVorbisEmptyComment), std::end(kVorbisEmptyComment));
        out.insert(out.end(), setup_.begin(), setup_.end());
        return out;
    }

    uint32_t duration(const uint8_t* p, size_t size) override {
        if (size == 0 || (p[0] & 1) || blockFlags_.empty()) return 0;
        const uint32_t mode = (p[0] >> 1) & ((1u << modeBits_) - 1);
        if (mode >= blockFlags_.size()) return 0;
        const uint32_t block = blockFlags_[mode] ? longBlock_ : shortBlock_;
        // A packet completes the overlap of its window with the previous one's; the first has
        // nothing to overlap and yields no samples.
        const uint32_t samples = previousBlock_ ? (previousBlock_ + block) / 4 : 0;
        previousBlock_ = block;
        return samples;
    }

    void restart() override { previousBlock_ = 0; }
    bool placesPackets() const override { return !blockFlags_.empty(); }
    bool trimsExactly() const override { return false; }

private:
    bool takeIdentification(const uint8_t* p, size_t size) {
        if (size < kVorbisIdentBytes || le32(p + 7) != 0 || !(p[29] & 1)) return false;
        channels_ = p[11];
        rate_ = le32(p + 12);
        const uint32_t maximum = le32(p + 16);
        nominalBitRate_ = le32(p + 20);
        if (nominalBitRate_ > 0x7FFFFFFF) nominalBitRate_ = 0;  // -1: not given
        maxBitRate_ = maximum > 0x7FFFFFFF ? 0 : maximum;
        shortBlock_ = 1u << (p[28] & 0x0F);
        longBlock_ = 1u << (p[28] >> 4);
        if (channels_ == 0 || rate_ == 0 || shortBlock_ < 64 || longBlock_ > 8192 ||
            shortBlock_ > longBlock_) {
            return false;
        }
        ident_.assign(p, p + kVorbisIdentBytes);
        return true;
    }

    // The ring's buffers are sized from this, and the queue starts once they are filled, so it
    // is a realistic bound rather than the format's: six times an average long packet at the
    // stream's bit rate, never less than 2 KB.
    uint32_t packetBound() const {
        uint32_t bits = maxBitRate_ ? maxBitRate_ : nominalBitRate_;
        if (bits == 0) bits = 160000 * std::max<uint32_t>(1, channels_ / 2);
        const double longPacket = double(bits) / 8.0 * (longBlock_ / 2.0) / rate_;
        const double bound = std::max(6.0 * longPacket, 2048.0);
        return roundUp(uint32_t(std::min(bound, double(kMaxPacketBytes))), 256);
    }

    std::vector<uint8_t> ident_;
    std::vector<uint8_t> setup_;
    std::vector<bool> blockFlags_;
    unsigned modeBits_ = 0;
    uint32_t channels_ = 0;
    uint32_t rate_ = 0;
    uint32_t nominalBitRate_ = 0;
    uint32_t maxBitRate_ = 0;
    uint32_t shortBlock_ = 0;
    uint32_t longBlock_ = 0;
    uint32_t previousBlock_ = 0;
};

// ---- Opus ----

constexpr size_t kOpusHeadBytes = 19;
// An Opus frame is at most 1,275 bytes; a packet holds up to 48 of them (120 ms), but a stream
// keeps the frame count it starts with.
constexpr uint32_t kOpusFrameBytes = 1275;

uint32_t opusFramesIn(const uint8_t* p, size_t size) {
    if (size == 0) return 1;
    switch (p[0] & 3) {
        case 0: return 1;
        case 3: return size >= 2 ? std::max<uint32_t>(1, p[1] & 0x3F) : 1;
        default: return 2;
    }
}

class OpusCodec final : public OggCodec {
public:
    bool isHeader(const uint8_t* p, size_t size) const override {
        return startsWith(p, size, "OpusHead") || startsWith(p, size, "OpusTags");
    }

    bool takeHeader(const uint8_t* p, size_t size) override {
        if (!startsWith(p, size, "OpusHead")) return true;  // tags
        if (size < kOpusHeadBytes || (p[8] & 0xF0) != 0 || p[9] == 0) return false;
        const uint8_t family = p[18];
        streams_ = 1;
        if (family == 0) {
            if (p[9] > 2) return false;
        } else {
            if (size < kOpusHeadBytes + 2 + size_t(p[9]) || p[19] == 0) return false;
            streams_ = p[19];
        }
        head_.assign(p, p + size);
        return true;
    }

    bool ready() const override { return !head_.empty(); }

    void describe(const uint8_t* firstAudio, size_t size,
                  StreamDescription& description) const override {
        AudioStreamBasicDescription& format = description.format;
        format = {};
        format.mSampleRate = 48000;  // Opus always decodes at 48 kHz
        format.mFormatID = kAudioFormatOpus;
        const uint32_t first = opusPacketSamples(firstAudio, size);
        format.mFramesPerPacket = first ? first : 960;
        format.mChannelsPerFrame = head_[9];
        description.formatList = {formatListItem(format)};
        description.magicCookie = head_;
        // The buffers size the start of playback: a realistic bound, from the first packet.
        const uint32_t bound =
            std::max<uint32_t>(2048, kOpusFrameBytes * opusFramesIn(firstAudio, size) + 16) *
            streams_;
        description.packetSizeUpperBound = roundUp(bound, 256);
        description.maximumPacketSize = roundUp(bound, 256);
    }

    std::vector<uint8_t> config() const override { return head_; }

    uint32_t duration(const uint8_t* p, size_t size) override { return opusPacketSamples(p, size); }

    uint64_t startGranule() const override { return le16(head_.data() + 10); }
    // 80 ms: after a jump the decoder needs about that much audio before its output settles.
    uint64_t preRoll() const override { return 3840; }

private:
    std::vector<uint8_t> head_;
    uint32_t streams_ = 1;
};

// ---- FLAC in Ogg ----

// 0x7F "FLAC", version 1.0, the count of header packets, "fLaC", a block header, STREAMINFO.
constexpr size_t kOggFlacFirstPacketBytes = 13 + 4 + kFlacStreamInfoBytes;

class OggFlacCodec final : public OggCodec {
public:
    bool isHeader(const uint8_t* p, size_t size) const override { return size > 0 && p[0] != 0xFF; }

    bool takeHeader(const uint8_t* p, size_t size) override {
        if (size == 0 || p[0] != 0x7F) return true;  // a metadata block: comments, pictures
        if (size < kOggFlacFirstPacketBytes || std::memcmp(p + 1, "FLAC", 4) != 0 || p[5] != 1 ||
            std::memcmp(p + 9, "fLaC", 4) != 0 || (p[13] & 0x7F) != 0) {
            return false;
        }
        const std::optional<FlacStreamInfo> info = readFlacStreamInfo(p + 17);
        if (!info) return false;
        info_ = *info;
        streamInfo_.assign(p + 17, p + 17 + kFlacStreamInfoBytes);
        return true;
    }

    bool ready() const override { return !streamInfo_.empty(); }

    void describe(const uint8_t*, size_t, StreamDescription& description) const override {
        describeFlac(info_, streamInfo_.data(), description);
        // Ogg pages say where the stream ends; the packet count of STREAMINFO is kept.
    }

    std::vector<uint8_t> config() const override {
        StreamDescription description;
        describeFlac(info_, streamInfo_.data(), description);
        return description.magicCookie;
    }

    uint32_t duration(const uint8_t* p, size_t size) override {
        FlacFrameHeader header;
        size_t need = 0;
        if (readFlacFrameHeader(p, size, header, need) != FlacHeaderResult::Header) return 0;
        return header.blockSize;
    }

private:
    FlacStreamInfo info_;
    std::vector<uint8_t> streamInfo_;
};

}  // namespace

std::unique_ptr<OggCodec> OggCodec::identify(const uint8_t* p, size_t size) {
    if (isVorbisHeader(p, size, 1)) return std::make_unique<VorbisCodec>();
    if (startsWith(p, size, "OpusHead")) return std::make_unique<OpusCodec>();
    if (size >= 5 && p[0] == 0x7F && std::memcmp(p + 1, "FLAC", 4) == 0) {
        return std::make_unique<OggFlacCodec>();
    }
    return nullptr;
}

uint32_t opusPacketSamples(const uint8_t* p, size_t size) {
    if (size == 0) return 0;
    const uint32_t config = p[0] >> 3;
    uint32_t frame;  // samples at 48 kHz
    if (config < 12) {
        static constexpr uint32_t kSilk[4] = {480, 960, 1920, 2880};
        frame = kSilk[config & 3];
    } else if (config < 16) {
        frame = (config & 1) ? 960 : 480;
    } else {
        static constexpr uint32_t kCelt[4] = {120, 240, 480, 960};
        frame = kCelt[config & 3];
    }
    uint32_t frames;
    switch (p[0] & 3) {
        case 0: frames = 1; break;
        case 3:
            if (size < 2) return 0;
            frames = p[1] & 0x3F;
            break;
        default: frames = 2; break;
    }
    const uint32_t samples = frame * frames;
    return samples <= 5760 ? samples : 0;  // at most 120 ms
}

std::vector<bool> vorbisModeBlockFlags(const uint8_t* setup, size_t size) {
    // Each mode is 41 bits (block flag, window type, transform type, mapping), the last of
    // them followed by the framing bit; the six bits before the first hold the count less one.
    // Window and transform types are always 0, which tells the modes from what precedes them.
    const BackwardsBits bits(setup, size);
    const std::optional<size_t> framing = bits.lastSetBit();
    if (!framing) return {};
    constexpr size_t kModeBits = 41;
    size_t best = 0;
    for (size_t count = 1; count <= 64; ++count) {
        if (*framing < count * kModeBits + 6) break;
        const size_t start = *framing - count * kModeBits;
        if (bits.field(start + 1, 16) != 0 || bits.field(start + 17, 16) != 0 ||
            bits.field(start + 33, 8) > 63) {
            break;
        }
        if (bits.field(start - 6, 6) == count - 1) best = count;
    }
    std::vector<bool> flags;
    for (size_t mode = 0; mode < best; ++mode) {
        flags.push_back(bits.bit(*framing - (best - mode) * kModeBits));
    }
    return flags;
}

}  // namespace audio::parsing
