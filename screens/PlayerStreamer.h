#pragma once
// The streamer of one player screen and everything that goes with it: made on a URL, observed
// for its own ASStatusChangedNotification only, a repeating progress timer while it exists,
// replaced by a new one on the same URL after it recorded an error, and destroyed in one order
// (stop observing, invalidate the progress timer, stop, release). The three players (the live
// tab, the programme player, the basic player) each own one.
//
// Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "screens/ScreenSupport.h"

class AudioStreamer;

namespace screens {

// The button image for each kind of state; see buttonImageFor.
struct StateImages {
    const char* waiting;
    const char* playing;
    const char* idle;
};

// The live tab's and the programme player's button: play while waiting or idle, pause while
// playing (the spinner is never started; the button alone says what a press does).
inline constexpr StateImages kPlayPauseImages{kPlayButtonImage, kPauseButtonImage,
                                              kPlayButtonImage};
// The basic player's: the spinning loading image while waiting, stop while playing.
inline constexpr StateImages kLoadingStopImages{kLoadingButtonImage, kStopButtonImage,
                                                kPlayButtonImage};

class PlayerStreamer {
public:
    using StateChanged = std::function<void(const platform::Notification&)>;
    using Progress = std::function<void(platform::Timer&)>;

    // `progressInterval` 0: no progress timer.
    PlayerStreamer(double progressInterval, StateChanged stateChanged, Progress progress = {});
    ~PlayerStreamer();
    PlayerStreamer(const PlayerStreamer&) = delete;
    PlayerStreamer& operator=(const PlayerStreamer&) = delete;

    // Whether the streamers made from now on show their own alert when they fail (the
    // default). A screen that decides for itself when a failure is worth an alert turns it off.
    void setStreamerAlerts(bool presents) { streamerAlerts_ = presents; }

    AudioStreamer* get() const { return streamer_.get(); }
    explicit operator bool() const { return streamer_ != nullptr; }
    AudioStreamer* operator->() const { return streamer_.get(); }

    // A streamer on the URL as given, with its timer and observer; any current one goes first.
    void create(const std::string& url);
    // The same, started between its creation and the timer: it announces its first state
    // before the screen observes it.
    void createAndStart(const std::string& url);

    // A streamer that recorded an error can never play again: this puts a new one on the same
    // URL in its place (started when `start`). True when it did.
    bool replaceIfFailed(bool start);
    // A new streamer on the same URL, started `seconds` into it with the bit rate of the one
    // it replaces (AudioStreamer::setStartPosition).
    void replaceToResumeAt(double seconds, double bitRate);

    // Stop observing, invalidate the progress timer, stop, release; nothing without a streamer.
    void destroy();
    // destroy() from inside the streamer's own state change: the object itself is released on
    // a later turn of the main queue, once that call has returned.
    void destroyFromItsNotification();

private:
    void make(const std::string& url, bool start);

    const double progressInterval_;
    const StateChanged stateChanged_;
    const Progress progress_;
    bool streamerAlerts_ = true;
    std::shared_ptr<AudioStreamer> streamer_;
    std::shared_ptr<platform::Timer> progressTimer_;
    platform::ObserverToken token_ = 0;
};

// The image the streamer's state calls for: `waiting` while it waits (starting, connecting,
// buffering), `playing` while it plays, `idle` once idle; nullopt in any other state (paused,
// stopping), where the button keeps its image.
std::optional<std::string> buttonImageFor(const AudioStreamer& streamer, const StateImages& images);

}  // namespace screens
