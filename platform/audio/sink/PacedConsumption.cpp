#include "platform/audio/sink/PacedConsumption.h"

#include <algorithm>
#include <cmath>

#include "platform/audio/sink/AudioSink.h"

namespace audio {

PacedConsumption::PacedConsumption(double framesPerSecond, bool keepHistory)
    : framesPerSecond_(framesPerSecond), keepHistory_(keepHistory) {}

void PacedConsumption::remember(bool discarded) {
    if (keepHistory_) history_.push_back({anchorTime_, anchorConsumed_, playing_, discarded});
}

uint64_t PacedConsumption::consumedAt(Clock::time_point now) const {
    if (!playing_) return anchorConsumed_;
    if (framesPerSecond_ <= 0) return written_;
    const double seconds = std::chrono::duration<double>(now - anchorTime_).count();
    const double frames = std::floor(std::max(0.0, seconds) * framesPerSecond_);
    const uint64_t available = written_ - anchorConsumed_;
    if (frames >= double(available)) return written_;
    return anchorConsumed_ + uint64_t(frames);
}

void PacedConsumption::reanchor(Clock::time_point now) {
    anchorConsumed_ = consumedAt(now);
    anchorTime_ = now;
}

namespace {
// A gap shorter than this is the writer's own rhythm, not one a listener hears.
constexpr double kAudibleGapSeconds = 0.002;
}  // namespace

void PacedConsumption::wrote(uint64_t frames) {
    const auto now = Clock::now();
    // Ran dry: the pause in the data is not playing time, so restart the clock here.
    if (consumedAt(now) == written_) {
        if (playing_ && framesPerSecond_ > 0 && written_ > 0 && !refillingAfterDiscard_) {
            const double ranDryAfter = double(written_ - anchorConsumed_) / framesPerSecond_;
            const double elapsed = std::chrono::duration<double>(now - anchorTime_).count();
            if (elapsed - ranDryAfter > kAudibleGapSeconds) {
                ++underruns_;
                AudioSinkNoteUnderrun();
            }
        }
        reanchor(now);
        remember();
    }
    refillingAfterDiscard_ = false;
    written_ += frames;
}

void PacedConsumption::setPlaying(bool playing) {
    if (playing == playing_) return;
    reanchor(Clock::now());
    playing_ = playing;
    remember();
}

void PacedConsumption::discard() {
    refillingAfterDiscard_ = true;
    reanchor(Clock::now());
    remember(true);
    anchorConsumed_ = written_;
    remember();
}

std::optional<PacedConsumption::Clock::time_point> PacedConsumption::timeConsumed(
    uint64_t frame) const {
    if (frame == 0 || frame > consumed()) return std::nullopt;
    // The last anchor before the frame: the stretch in which it was consumed.
    const Anchor* from = nullptr;
    for (const auto& anchor : history_) {
        if (anchor.consumed < frame) from = &anchor;
    }
    if (!from || from->discarded || !from->playing) return std::nullopt;
    if (framesPerSecond_ <= 0) return from->time;
    // Frame n is counted once floor(elapsed * rate) reaches n.
    const double seconds = double(frame - from->consumed) / framesPerSecond_;
    return from->time +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

uint64_t PacedConsumption::consumed() const { return consumedAt(Clock::now()); }

std::optional<std::chrono::nanoseconds> PacedConsumption::timeUntilConsumed(uint64_t frame) const {
    const auto now = Clock::now();
    const uint64_t current = consumedAt(now);
    if (current >= frame) return std::chrono::nanoseconds(0);
    if (!playing_ || frame > written_) return std::nullopt;
    if (framesPerSecond_ <= 0) return std::chrono::nanoseconds(0);
    // The frame is reached when the anchor-relative count passes it.
    const double seconds = double(frame - anchorConsumed_) / framesPerSecond_;
    const auto due = anchorTime_ + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(seconds));
    return std::max(std::chrono::nanoseconds(0),
                    std::chrono::duration_cast<std::chrono::nanoseconds>(due - now));
}

}  // namespace audio
