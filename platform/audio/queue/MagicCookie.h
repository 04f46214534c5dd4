#pragma once
// The configuration bytes FFmpeg's decoders take as extradata, from the magic cookie the
// parser handed on. The parser has already unwrapped whatever the container carried ('esds'
// descriptors, 'frma'/'alac' atom chains) and checked it: for AAC the cookie is the
// AudioSpecificConfig itself, for ALAC the 36-byte 'alac' atom. Nothing is parsed again here.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/audio/AudioTypes.h"

namespace audio {

// The extradata for a stream of `format` with `cookie` (possibly empty): AAC takes the cookie,
// or one built from the description when there is none; ALAC takes an 'alac' atom and nothing
// else; other formats need none. Empty when there is nothing to give the decoder.
std::vector<uint8_t> decoderConfig(const AudioStreamBasicDescription& format,
                                   std::span<const uint8_t> cookie);

// An AudioSpecificConfig for raw AAC packets that came without a cookie, built from the stream
// description. High-efficiency formats get their core (half) rate and a mono core for v2; the
// decoder finds SBR and PS in the stream itself.
std::vector<uint8_t> aacConfigFromFormat(const AudioStreamBasicDescription& format);

}  // namespace audio
