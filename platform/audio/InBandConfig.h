#pragma once
// What a parser tells the decoder among the packets, in the order it applies.
//
// A decoder configuration too large for the ring's buffers travels among a chained stream's
// packets in fragments, each a packet of its own: "\x07conf", the fragment's index and the
// count, then a piece of the configuration. The first byte has its low bit set, which no
// Vorbis audio packet has; FLAC frames begin with 0xFF; an Opus packet would have to begin
// with these five bytes by chance.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <vector>

namespace audio {

inline constexpr uint8_t kConfigFragmentMagic[5] = {0x07, 'c', 'o', 'n', 'f'};
inline constexpr size_t kConfigFragmentHeaderBytes = sizeof kConfigFragmentMagic + 2;

inline bool isConfigFragment(std::span<const uint8_t> packet) {
    return packet.size() > kConfigFragmentHeaderBytes &&
           std::memcmp(packet.data(), kConfigFragmentMagic, sizeof kConfigFragmentMagic) == 0 &&
           packet[5] < packet[6];
}

// The configuration cut into packets of at most `packetBytes` (more than the header).
inline std::vector<std::vector<uint8_t>> configFragments(std::span<const uint8_t> config,
                                                         size_t packetBytes) {
    const size_t piece = packetBytes - kConfigFragmentHeaderBytes;
    const size_t count = (config.size() + piece - 1) / piece;
    std::vector<std::vector<uint8_t>> fragments;
    if (count > 255) return fragments;
    for (size_t i = 0; i < count; ++i) {
        const size_t from = i * piece;
        const size_t size = std::min(piece, config.size() - from);
        std::vector<uint8_t> fragment(kConfigFragmentHeaderBytes + size);
        std::memcpy(fragment.data(), kConfigFragmentMagic, sizeof kConfigFragmentMagic);
        fragment[5] = uint8_t(i);
        fragment[6] = uint8_t(count);
        std::memcpy(fragment.data() + kConfigFragmentHeaderBytes, config.data() + from, size);
        fragments.push_back(std::move(fragment));
    }
    return fragments;
}

// After a seek: the decoder drops this many samples of its output (at the stream's own rate)
// before playing, so that playback begins on the target sample and not at the start of the
// packet that holds it, and a codec that needs pre-roll (Opus) has converged by then:
// "\x07skip" and the count, 32 bits little-endian.
inline constexpr uint8_t kSkipMarkMagic[5] = {0x07, 's', 'k', 'i', 'p'};
inline constexpr size_t kSkipMarkBytes = sizeof kSkipMarkMagic + 4;

// A mark is its five bytes of magic and a count, 32 bits little-endian.
inline std::vector<uint8_t> countMark(const uint8_t (&magic)[5], uint32_t count) {
    std::vector<uint8_t> mark(sizeof magic + 4);
    std::memcpy(mark.data(), magic, sizeof magic);
    for (int i = 0; i < 4; ++i) mark[5 + size_t(i)] = uint8_t(count >> (8 * i));
    return mark;
}

inline std::optional<uint32_t> countOfMark(const uint8_t (&magic)[5],
                                           std::span<const uint8_t> packet) {
    if (packet.size() != sizeof magic + 4 || std::memcmp(packet.data(), magic, sizeof magic) != 0) {
        return std::nullopt;
    }
    uint32_t count = 0;
    for (int i = 0; i < 4; ++i) count |= uint32_t(packet[5 + size_t(i)]) << (8 * i);
    return count;
}

inline std::vector<uint8_t> skipMark(uint32_t samples) {
    return countMark(kSkipMarkMagic, samples);
}

// The count of a skip mark; none for any other packet.
inline std::optional<uint32_t> skipMarkSamples(std::span<const uint8_t> packet) {
    return countOfMark(kSkipMarkMagic, packet);
}

// At the end of a stream whose last packet is padded (Vorbis, Opus): of what the decoder puts
// out from here on, only this many samples play, counted before any skip; a count of
// kKeepEverything lifts the limit again. A parser sends a limit before the last page's packets
// and lifts it after them, so that a stream that goes on after a false end loses nothing.
// "\x07keep" and the count.
inline constexpr uint8_t kKeepMarkMagic[5] = {0x07, 'k', 'e', 'e', 'p'};
inline constexpr uint32_t kKeepEverything = std::numeric_limits<uint32_t>::max();

inline std::vector<uint8_t> keepMark(uint32_t samples) {
    return countMark(kKeepMarkMagic, samples);
}

// The count of a keep mark; none for any other packet.
inline std::optional<uint32_t> keepMarkSamples(std::span<const uint8_t> packet) {
    return countOfMark(kKeepMarkMagic, packet);
}

}  // namespace audio
