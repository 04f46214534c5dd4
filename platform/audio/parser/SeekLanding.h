#pragma once
// Landing on the packet a seek asked for, for streams whose packets say where they are (a FLAC
// frame's number, an Ogg page's granule position) but whose offsets are known only for the part
// already seen.
//
// After such a seek the reader comes back with bytes from an offset that is only an estimate.
// The parser re-synchronises there, and for each packet it finds asks `judge`: packets that end
// before the target are dropped; the first one that reaches it is kept, and so is everything
// after it. When the first packet found already starts past the target, the estimate overshot:
// the parser asks the reader (ParserOutput::requestBytesFrom) for the bytes from an offset known
// to lie before the target and ignores what comes until they do; from there it reads forward,
// dropping, so the second attempt cannot overshoot.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace audio::parsing {

class SeekLanding {
public:
    enum class Verdict { Keep, Drop, Refetch };

    // Bytes ignored while waiting for a reader that does not answer the request; after them the
    // parser takes what comes.
    static constexpr size_t kMaxIgnoredBytes = 1u << 20;

    // `target` in the stream's own units (samples); `knownBefore` a file offset where a packet
    // starts at or before the target. `preRoll`: samples a decoder needs before the target to
    // converge after a jump (Opus), landed on and then skipped.
    void aim(uint64_t target, uint64_t knownBefore, uint64_t preRoll = 0) {
        exactTarget_ = target;
        target = target > preRoll ? target - preRoll : 0;
        target_ = target;
        knownBefore_ = knownBefore;
        refetched_ = false;
        awaiting_.reset();
        request_.reset();
    }
    // The place known before the target is where the target's page or frame begins: ask for
    // it at once instead of reading on from the reader's estimate.
    void requestNow() {
        refetched_ = true;
        awaiting_ = request_ = knownBefore_;
        ignored_ = 0;
    }
    void cancel() {
        target_.reset();
        awaiting_.reset();
        request_.reset();
    }
    bool aiming() const { return target_.has_value(); }

    // A packet covering [start, end) of the stream's units.
    Verdict judge(uint64_t start, uint64_t end) {
        if (!target_) return Verdict::Keep;
        if (end <= *target_) return Verdict::Drop;
        if (start > *target_ && !refetched_) {
            refetched_ = true;
            awaiting_ = request_ = knownBefore_;
            ignored_ = 0;
            return Verdict::Refetch;
        }
        target_.reset();
        skip_ = exactTarget_ > start ? exactTarget_ - start : 0;
        return Verdict::Keep;
    }

    // After the first packet kept: the samples of it (and of the pre-roll) before the target.
    uint64_t samplesBeforeTarget() const { return skip_; }

    // The offset to ask the reader for, once.
    std::optional<uint64_t> takeRequest() {
        const std::optional<uint64_t> request = request_;
        request_.reset();
        return request;
    }
    // The offset asked for, while the reader has not answered.
    std::optional<uint64_t> awaiting() const { return awaiting_; }
    // Bytes that came while waiting; false once the wait is given up.
    bool ignore(size_t bytes) {
        ignored_ += bytes;
        if (ignored_ <= kMaxIgnoredBytes) return true;
        awaiting_.reset();
        return false;
    }
    // The reader's flagged push: the bytes from the offset asked for. Returns that offset.
    std::optional<uint64_t> answered() {
        const std::optional<uint64_t> offset = awaiting_;
        awaiting_.reset();
        return offset;
    }

private:
    std::optional<uint64_t> target_;
    uint64_t exactTarget_ = 0;
    uint64_t skip_ = 0;
    uint64_t knownBefore_ = 0;
    bool refetched_ = false;
    std::optional<uint64_t> awaiting_;
    std::optional<uint64_t> request_;
    size_t ignored_ = 0;
};

}  // namespace audio::parsing
