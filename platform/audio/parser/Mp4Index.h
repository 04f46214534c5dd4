#pragma once
// The index of an MP4/M4A file: the 'moov' box, read whole once it has arrived. The first
// audio track we can play (AAC in 'mp4a', ALAC in 'alac') gives the stream description and
// the packet table built from its sample tables (stsz/stz2, stsc, stco/co64).

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/audio/AudioTypes.h"
#include "platform/audio/parser/PacketTable.h"
#include "platform/audio/parser/StreamDescription.h"

namespace audio::parsing {

struct Mp4Track {
    StreamDescription description;  // the data offset and counts filled from the table
    PacketTable table;
};

// `movie` is the body of the 'moov' box. Fails with kAudioFileStreamError_InvalidFile on
// inconsistent tables and kAudioFileStreamError_UnsupportedDataFormat when no track plays.
OSStatus readMp4Movie(const uint8_t* movie, size_t size, std::optional<Mp4Track>& track);

}  // namespace audio::parsing
