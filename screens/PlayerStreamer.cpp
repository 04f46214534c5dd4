#include "screens/PlayerStreamer.h"

#include "streaming/AudioStreamer.h"

namespace screens {

PlayerStreamer::PlayerStreamer(double progressInterval, StateChanged stateChanged,
                               Progress progress)
    : progressInterval_(progressInterval),
      stateChanged_(std::move(stateChanged)),
      progress_(std::move(progress)) {}

PlayerStreamer::~PlayerStreamer() {
    destroy();
    if (progressTimer_) progressTimer_->invalidate();
}

void PlayerStreamer::create(const std::string& url) { make(url, false); }

void PlayerStreamer::createAndStart(const std::string& url) { make(url, true); }

void PlayerStreamer::make(const std::string& url, bool start) {
    destroy();
    streamer_ = AudioStreamer::create(url);
    streamer_->setPresentsAlerts(streamerAlerts_);
    if (start) streamer_->start();
    if (progressInterval_ > 0 && progress_) {
        progressTimer_ = platform::MainQueue::main().scheduleTimer(
            progressInterval_, true, [this](platform::Timer& timer) { progress_(timer); });
    }
    token_ = platform::NotificationCenter::defaultCenter().addObserver(
        ASStatusChangedNotification, streamer_.get(),
        [this](const platform::Notification& n) { stateChanged_(n); });
}

bool PlayerStreamer::replaceIfFailed(bool start) {
    if (!needsReplacement(streamer_.get())) return false;
    const std::string url = streamer_->urlString();
    make(url, start);
    return true;
}

void PlayerStreamer::replaceToResumeAt(double seconds, double bitRate) {
    if (!streamer_) return;
    const std::string url = streamer_->urlString();
    make(url, false);
    streamer_->setStartPosition(seconds, bitRate);
    streamer_->start();
}

void PlayerStreamer::destroy() {
    if (!streamer_) return;
    platform::NotificationCenter::defaultCenter().removeObserver(token_);
    token_ = 0;
    if (progressTimer_) progressTimer_->invalidate();
    progressTimer_.reset();
    streamer_->stop();
    streamer_.reset();
}

void PlayerStreamer::destroyFromItsNotification() {
    if (!streamer_) return;
    // Idle: its thread has ended, so the stop inside destroy() returns at once.
    platform::MainQueue::main().post([keep = streamer_] {});
    destroy();
}

std::optional<std::string> buttonImageFor(const AudioStreamer& streamer,
                                          const StateImages& images) {
    if (streamer.isWaiting()) return images.waiting;
    if (streamer.isPlaying()) return images.playing;
    if (streamer.isIdle()) return images.idle;
    return std::nullopt;
}

}  // namespace screens
