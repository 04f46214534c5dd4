#include "platform/audio/parser/EsDescriptor.h"

#include "platform/audio/parser/ByteOrder.h"

namespace audio::parsing {

namespace {

constexpr uint8_t kEsTag = 0x03;
constexpr uint8_t kDecoderConfigTag = 0x04;
constexpr uint8_t kDecoderSpecificTag = 0x05;

struct Span {
    const uint8_t* data;
    size_t size;
};

// One descriptor: a tag, a length in up to four 7-bit groups, the body. Advances `in`.
bool readDescriptor(Span& in, uint8_t& tag, Span& body) {
    if (in.size < 2) return false;
    tag = in.data[0];
    size_t at = 1;
    size_t length = 0;
    for (int i = 0; i < 4; ++i) {
        if (at >= in.size) return false;
        const uint8_t b = in.data[at++];
        length = (length << 7) | (b & 0x7F);
        if (!(b & 0x80)) break;
    }
    if (length > in.size - at) return false;
    body = {in.data + at, length};
    in = {in.data + at + length, in.size - at - length};
    return true;
}

// The first descriptor with `wanted` among those in `in`.
bool findDescriptor(Span in, uint8_t wanted, Span& body) {
    uint8_t tag = 0;
    while (readDescriptor(in, tag, body)) {
        if (tag == wanted) return true;
    }
    return false;
}

}  // namespace

std::optional<EsDescriptor> parseEsDescriptor(const uint8_t* data, size_t size) {
    Span in{data, size};
    if (size >= 5 && be32(data) == 0 && data[4] == kEsTag) in = {data + 4, size - 4};
    uint8_t tag = 0;
    Span es{};
    if (!readDescriptor(in, tag, es) || tag != kEsTag || es.size < 3) return std::nullopt;
    const uint8_t flags = es.data[2];
    size_t at = 3;
    if (flags & 0x80) at += 2;  // depends on another stream
    if (flags & 0x40) {         // URL
        if (at >= es.size) return std::nullopt;
        at += 1 + es.data[at];
    }
    if (flags & 0x20) at += 2;  // OCR stream
    if (at > es.size) return std::nullopt;
    Span config{};
    if (!findDescriptor({es.data + at, es.size - at}, kDecoderConfigTag, config) ||
        config.size < 13) {
        return std::nullopt;
    }
    EsDescriptor result;
    result.objectTypeIndication = config.data[0];
    result.averageBitRate = be32(config.data + 9);
    Span specific{};
    if (findDescriptor({config.data + 13, config.size - 13}, kDecoderSpecificTag, specific)) {
        result.decoderSpecificInfo.assign(specific.data, specific.data + specific.size);
    }
    return result;
}

}  // namespace audio::parsing
