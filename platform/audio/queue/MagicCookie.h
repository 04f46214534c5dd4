#pragma once
// Turns a stream's magic cookie, in whichever of the usual wrappings the container carried it,
// into the configuration bytes FFmpeg's decoders take as extradata.
//
// AAC: an 'esds' atom, a bare ES descriptor (tag 3), a decoder-config descriptor (tag 4) or a
// bare AudioSpecificConfig all give the AudioSpecificConfig. ALAC: a 'frma'/'alac' atom chain,
// an 'alac' atom or the bare 24-byte ALACSpecificConfig all give the 36-byte 'alac' atom.
//
// Every read is bounds-checked: the cookie comes from the network.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/audio/AudioTypes.h"

namespace audio {

// Empty when the cookie holds no AudioSpecificConfig.
std::vector<uint8_t> aacConfigFromCookie(std::span<const uint8_t> cookie);

// An AudioSpecificConfig for raw AAC packets that came without a cookie, built from the stream
// description. High-efficiency formats get their core (half) rate and a mono core for v2; the
// decoder finds SBR and PS in the stream itself.
std::vector<uint8_t> aacConfigFromFormat(const AudioStreamBasicDescription& format);

// Empty when the cookie holds no ALACSpecificConfig.
std::vector<uint8_t> alacConfigFromCookie(std::span<const uint8_t> cookie);

}  // namespace audio
