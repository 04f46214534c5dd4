#pragma once
// Finding frame sync in MP3 and ADTS streams. A frame start code is two bytes, so junk holds
// one every few kilobytes; a position is taken as a frame start only when the frames that
// follow it, at the distances their headers give, are valid frames of the same stream.

#include <cstddef>
#include <cstdint>

#include "platform/audio/parser/FrameSyntax.h"

namespace audio::parsing {

// Headers checked: the candidate and the two frames after it.
constexpr int kSyncConfirmFrames = 3;

enum class SyncResult { Rejected, Confirmed, NeedMore };

// Checks whether data[0] starts kSyncConfirmFrames consecutive frames of one stream, and of
// the stream `expected` when it is given (after sync was lost, the stream stays the same).
// NeedMore sets `need` to the bytes required from data[0]. On Confirmed, `first` holds the
// candidate's header.
SyncResult confirmSync(const FrameSyntax& syntax, const uint8_t* data, size_t size,
                       const FrameHeader* expected, FrameHeader& first, size_t& need);

}  // namespace audio::parsing
