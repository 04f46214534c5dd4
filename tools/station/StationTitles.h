#pragma once
// What the demo station says is on air: its live loop is cut into segments of a few minutes,
// each with a title of its own, and each listener that asks for metadata gets the title of the
// segment it is hearing in a block interleaved with the audio.

#include <string>

namespace station {

// The title of the segment at `secondsOnAir` since the station started, for segments of
// `segmentSeconds` (at least one second).
std::string segmentTitle(double secondsOnAir, double segmentSeconds);

// One metadata block as sent after every interval of audio: a length byte and
// "StreamTitle='...';" padded with NULs to a multiple of 16 bytes, or the single byte 0 when
// the title is the one the listener already has.
std::string metadataBlock(const std::string& title, const std::string& previous);

}  // namespace station
