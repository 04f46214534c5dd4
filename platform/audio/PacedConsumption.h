#pragma once
// The bookkeeping of a sink that consumes at a steady pace with no thread of its own: how much
// has been consumed is worked out from the clock whenever someone asks. The silent sink runs at
// real time; the capture sink at real time times a speed factor, or at once.
//
// Consumption only runs while playing and never passes what was written. When the writer lets
// it run dry, the clock is re-anchored at the next write, so a gap is not "consumed" later in a
// burst.
//
// Threads: not synchronised; its owner's caller serialises the calls (see AudioSink.h).

#include <chrono>
#include <cstdint>
#include <optional>

namespace audio {

class PacedConsumption {
public:
    using Clock = std::chrono::steady_clock;

    // framesPerSecond 0 means at once: everything written is consumed as soon as it plays.
    explicit PacedConsumption(double framesPerSecond);

    void wrote(uint64_t frames);
    void setPlaying(bool playing);
    void discard();

    uint64_t consumed() const;
    uint64_t written() const { return written_; }
    bool playing() const { return playing_; }
    std::optional<std::chrono::nanoseconds> timeUntilConsumed(uint64_t frame) const;

private:
    // Moves the anchor to now, keeping what has been consumed so far.
    void reanchor(Clock::time_point now);
    uint64_t consumedAt(Clock::time_point now) const;

    const double framesPerSecond_;
    bool playing_ = false;
    uint64_t written_ = 0;
    uint64_t anchorConsumed_ = 0;  // consumed at anchorTime_
    Clock::time_point anchorTime_ = Clock::now();
};

}  // namespace audio
