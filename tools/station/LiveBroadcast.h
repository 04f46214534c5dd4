#pragma once
// The live programme: an MP3 loop played round and round on a clock that starts with the
// station, and the pacing of each listener against that clock.
//
// A listener starts at the frame on air when it connects and is then sent every frame as it
// goes on air, plus a head start of a couple of seconds so that a player can fill its buffers
// at once, as a real station's burst does. So the data rate is the loop's own bit rate, and
// no listener is ever sent more than the head start ahead of the clock.
//
// Everything here is plain computation on given time points; the server's loop thread is its
// only caller, so nothing is locked.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/station/Mp3Frames.h"

namespace station {

using Clock = std::chrono::steady_clock;

// The loop's bytes and where each of its frames starts.
class LiveLoop {
public:
    static std::optional<LiveLoop> load(const std::filesystem::path& file, std::string* error);
    static std::optional<LiveLoop> fromBytes(std::vector<uint8_t> bytes, std::string* error);

    int64_t frameCount() const { return static_cast<int64_t>(index_.offsets.size()); }
    int sampleRate() const { return index_.sampleRate; }
    int samplesPerFrame() const { return index_.samplesPerFrame; }
    int bitrateKbps() const { return index_.bitrateKbps; }
    double durationSeconds() const;
    // Offset and length in bytes of frame `i` of the loop (0 <= i < frameCount()).
    size_t frameOffset(int64_t i) const { return index_.offsets[i]; }
    size_t frameLength(int64_t i) const;
    std::span<const uint8_t> bytes() const { return bytes_; }

private:
    LiveLoop(std::vector<uint8_t> bytes, Mp3FrameIndex index);
    std::vector<uint8_t> bytes_;
    Mp3FrameIndex index_;
};

// Where a listener is in the endless broadcast: the absolute number of the next frame to send
// (it keeps counting across turns of the loop) and how much of that frame has already gone.
struct ListenerCursor {
    int64_t nextFrame = 0;
    size_t sentOfFrame = 0;
};

class LiveBroadcast {
public:
    LiveBroadcast(LiveLoop loop, Clock::time_point epoch, std::chrono::milliseconds headStart);

    const LiveLoop& loop() const { return loop_; }
    int64_t headStartFrames() const { return headStartFrames_; }

    // The absolute number of the frame on air at `t` (0 at the epoch).
    int64_t frameOnAir(Clock::time_point t) const;
    // When absolute frame `frame` goes on air.
    Clock::time_point airTime(int64_t frame) const;
    // The loop position of an absolute frame.
    int64_t loopFrame(int64_t frame) const;

    ListenerCursor startListener(Clock::time_point now) const;
    // The bytes due to the listener at `now` that lie one after the other in the loop: up to
    // the send limit or the end of the loop, whichever comes first. Empty when it is up to date.
    std::span<const uint8_t> due(const ListenerCursor& cursor, Clock::time_point now) const;
    // Moves the cursor past `sent` bytes of what due() returned.
    void advance(ListenerCursor& cursor, size_t sent) const;
    // How far behind its send limit the listener is, in seconds.
    double lagSeconds(const ListenerCursor& cursor, Clock::time_point now) const;

private:
    LiveLoop loop_;
    Clock::time_point epoch_;
    int64_t headStartFrames_;
};

}  // namespace station
