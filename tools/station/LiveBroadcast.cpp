#include "tools/station/LiveBroadcast.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace station {

std::optional<LiveLoop> LiveLoop::load(const std::filesystem::path& file, std::string* error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot read " + file.string();
        return std::nullopt;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    auto loop = fromBytes(std::move(bytes), error);
    if (!loop && error) *error = file.string() + ": " + *error;
    return loop;
}

std::optional<LiveLoop> LiveLoop::fromBytes(std::vector<uint8_t> bytes, std::string* error) {
    auto index = indexMp3Frames(bytes, error);
    if (!index) return std::nullopt;
    // Tags around the frames are dropped: a listener must only ever get frames.
    const size_t first = index->offsets.front();
    std::vector<uint8_t> frames(bytes.begin() + first, bytes.begin() + index->endOffset);
    for (auto& offset : index->offsets) offset -= first;
    index->endOffset -= first;
    return LiveLoop(std::move(frames), std::move(*index));
}

LiveLoop::LiveLoop(std::vector<uint8_t> bytes, Mp3FrameIndex index)
    : bytes_(std::move(bytes)), index_(std::move(index)) {}

double LiveLoop::durationSeconds() const {
    return static_cast<double>(frameCount()) * samplesPerFrame() / sampleRate();
}

size_t LiveLoop::frameLength(int64_t i) const {
    const size_t end = i + 1 < frameCount() ? index_.offsets[i + 1] : index_.endOffset;
    return end - index_.offsets[i];
}

LiveBroadcast::LiveBroadcast(LiveLoop loop, Clock::time_point epoch,
                             std::chrono::milliseconds headStart)
    : loop_(std::move(loop)), epoch_(epoch) {
    const int64_t samples = headStart.count() * static_cast<int64_t>(loop_.sampleRate()) / 1000;
    headStartFrames_ = (samples + loop_.samplesPerFrame() - 1) / loop_.samplesPerFrame();
}

// Frame times are computed in whole samples from the epoch, never by adding up rounded frame
// durations, so the clock does not drift however long the station runs.
int64_t LiveBroadcast::frameOnAir(Clock::time_point t) const {
    if (t <= epoch_) return 0;
    const __int128 ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t - epoch_).count();
    const __int128 samples = ns * loop_.sampleRate() / 1'000'000'000;
    return static_cast<int64_t>(samples / loop_.samplesPerFrame());
}

Clock::time_point LiveBroadcast::airTime(int64_t frame) const {
    const __int128 samples = static_cast<__int128>(frame) * loop_.samplesPerFrame();
    // Rounded up, so that at the returned time the frame is on air.
    const __int128 ns = (samples * 1'000'000'000 + loop_.sampleRate() - 1) / loop_.sampleRate();
    return epoch_ + std::chrono::nanoseconds(static_cast<int64_t>(ns));
}

int64_t LiveBroadcast::loopFrame(int64_t frame) const {
    const int64_t n = loop_.frameCount();
    return ((frame % n) + n) % n;
}

ListenerCursor LiveBroadcast::startListener(Clock::time_point now) const {
    return ListenerCursor{frameOnAir(now), 0};
}

std::span<const uint8_t> LiveBroadcast::due(const ListenerCursor& cursor,
                                            Clock::time_point now) const {
    const int64_t limit = frameOnAir(now) + headStartFrames_;  // first frame not yet due
    if (cursor.nextFrame >= limit) return {};
    const int64_t first = loopFrame(cursor.nextFrame);
    const int64_t last = std::min(first + (limit - cursor.nextFrame), loop_.frameCount());
    const size_t begin = loop_.frameOffset(first) + cursor.sentOfFrame;
    const size_t end = loop_.frameOffset(last - 1) + loop_.frameLength(last - 1);
    return loop_.bytes().subspan(begin, end - begin);
}

void LiveBroadcast::advance(ListenerCursor& cursor, size_t sent) const {
    while (sent > 0) {
        const size_t rest = loop_.frameLength(loopFrame(cursor.nextFrame)) - cursor.sentOfFrame;
        if (sent < rest) {
            cursor.sentOfFrame += sent;
            return;
        }
        sent -= rest;
        cursor.sentOfFrame = 0;
        ++cursor.nextFrame;
    }
}

double LiveBroadcast::lagSeconds(const ListenerCursor& cursor, Clock::time_point now) const {
    const int64_t behind = frameOnAir(now) + headStartFrames_ - cursor.nextFrame;
    return behind <= 0 ? 0.0
                       : static_cast<double>(behind) * loop_.samplesPerFrame() / loop_.sampleRate();
}

}  // namespace station
