#pragma once
// The codecs an Ogg stream carries that we play: Vorbis, Opus and FLAC. Each is recognised by
// its stream's first packet; it says which packets are headers, keeps what the decoder needs of
// them, and tells how many samples each audio packet decodes to, which places every packet
// of a page on the stream's time line from the page's granule position.
//
// The decoder configuration (the magic cookie) is what libavcodec takes as extradata, in a form
// that can also travel in-band among the packets, for a chained stream whose next track brings
// new headers: its first bytes can never begin an audio packet of the codec.
//   Vorbis: the 30-byte identification header, a 16-byte empty comment header, the setup
//           header; audio packets have the low bit of their first byte clear.
//   Opus:   the "OpusHead" packet.
//   FLAC:   "fLaC", a last-block header and STREAMINFO; frames begin with 0xFF.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/audio/parser/StreamDescription.h"

namespace audio::parsing {

class OggCodec {
public:
    virtual ~OggCodec() = default;

    // The codec whose identification packet this is; null for any other (video, skeleton, ...).
    static std::unique_ptr<OggCodec> identify(const uint8_t* packet, size_t size);

    // True for a header packet of this codec (the identification packet included).
    virtual bool isHeader(const uint8_t* packet, size_t size) const = 0;
    // Takes a header packet; false when it is broken, which makes the stream unplayable.
    virtual bool takeHeader(const uint8_t* packet, size_t size) = 0;
    // Everything the decoder needs has come.
    virtual bool ready() const = 0;

    // Format, cookie and packet bounds, once ready. `firstAudio` is the first audio packet.
    virtual void describe(const uint8_t* firstAudio, size_t size,
                          StreamDescription& description) const = 0;
    // The decoder configuration, as described above.
    virtual std::vector<uint8_t> config() const = 0;

    // Samples an audio packet adds to the granule position; 0 when not known.
    virtual uint32_t duration(const uint8_t* packet, size_t size) = 0;
    // After a jump: packets whose length depends on the previous one start afresh.
    virtual void restart() {}
    // Granule position of the first sample to be heard (Opus drops its pre-skip).
    virtual uint64_t startGranule() const { return 0; }
    // True when durations are exact, so packets inside a page can be placed.
    virtual bool placesPackets() const { return true; }
    // True when a packet's output is its own samples from the first, so that a seek can drop
    // those before the target exactly (not Vorbis, whose first packet after a jump yields none).
    virtual bool trimsExactly() const { return true; }
    // Samples the decoder needs before a seek target to converge.
    virtual uint64_t preRoll() const { return 0; }
};

// The samples an Opus packet holds at 48 kHz, from its table-of-contents byte; 0 if malformed.
uint32_t opusPacketSamples(const uint8_t* packet, size_t size);

// The blocksize flag of each Vorbis mode, read backwards from the end of the setup header
// (the modes are its last fields); empty when they cannot be told.
std::vector<bool> vorbisModeBlockFlags(const uint8_t* setup, size_t size);

}  // namespace audio::parsing
