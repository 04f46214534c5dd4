#pragma once
// The configuration bytes FFmpeg's decoders take as extradata, from the magic cookie the
// parser handed on. The parser has already unwrapped whatever the container carried ('esds'
// descriptors, 'frma'/'alac' atom chains) and checked it: for AAC the cookie is the
// AudioSpecificConfig itself, for ALAC the 36-byte 'alac' atom, for Vorbis its identification,
// comment and setup headers one after the other, for Opus "OpusHead", for FLAC "fLaC" and
// STREAMINFO. Nothing is parsed again here beyond Vorbis's header lengths.

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

// The format whose decoder configuration `packet` is, when a chained Ogg stream's next link sends
// it among its packets (Vorbis, Opus or FLAC, in the forms the parser gives them as cookies);
// 0 for an audio packet.
uint32_t inBandConfigFormat(std::span<const uint8_t> packet);

// An AudioSpecificConfig for raw AAC packets that came without a cookie, built from the stream
// description. High-efficiency formats get their core (half) rate and a mono core for v2; the
// decoder finds SBR and PS in the stream itself.
std::vector<uint8_t> aacConfigFromFormat(const AudioStreamBasicDescription& format);

}  // namespace audio
