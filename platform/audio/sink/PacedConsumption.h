#pragma once
// The bookkeeping of a sink that consumes at a steady pace with no thread of its own: how much
// has been consumed is worked out from the clock whenever someone asks. The silent sink runs at
// real time; the capture sink at real time times a speed factor, or at once.
//
// Consumption only runs while playing and never passes what was written. When the writer lets
// it run dry, the clock is re-anchored at the next write, so a gap is not "consumed" later in a
// burst. Such a gap while playing counts as an underrun (AudioSinkNoteUnderrun).
//
// Threads: not synchronised; its owner's caller serialises the calls (see AudioSink.h).

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace audio {

class PacedConsumption {
public:
    using Clock = std::chrono::steady_clock;

    // framesPerSecond 0 means at once: everything written is consumed as soon as it plays.
    // With keepHistory every change of pace is remembered, so timeConsumed can answer later.
    explicit PacedConsumption(double framesPerSecond, bool keepHistory = false);

    void wrote(uint64_t frames);
    void setPlaying(bool playing);
    void discard();

    uint64_t consumed() const;
    // Gaps: consumption ran dry while playing and more audio came later.
    uint64_t underruns() const { return underruns_; }
    uint64_t written() const { return written_; }
    bool playing() const { return playing_; }
    std::optional<std::chrono::nanoseconds> timeUntilConsumed(uint64_t frame) const;

    // When the frame numbered `frame` (counting from 1) was consumed; nullopt when it has not
    // been yet, was discarded rather than played, or no history is kept.
    std::optional<Clock::time_point> timeConsumed(uint64_t frame) const;

private:
    // A point from which consumption runs at a steady pace (or not at all).
    struct Anchor {
        Clock::time_point time;
        uint64_t consumed;
        bool playing;
        bool discarded;  // the frames after `consumed` up to the next anchor were dropped
    };
    void remember(bool discarded = false);

    // Moves the anchor to now, keeping what has been consumed so far.
    void reanchor(Clock::time_point now);
    uint64_t consumedAt(Clock::time_point now) const;

    const double framesPerSecond_;
    bool playing_ = false;
    uint64_t written_ = 0;
    uint64_t anchorConsumed_ = 0;  // consumed at anchorTime_
    Clock::time_point anchorTime_ = Clock::now();
    uint64_t underruns_ = 0;
    // A discard (a seek) leaves the sink empty on purpose: the wait for new audio is no gap.
    bool refillingAfterDiscard_ = false;
    const bool keepHistory_;
    std::vector<Anchor> history_;
};

}  // namespace audio
