#pragma once
// The player that the keyboard and the media controls drive: the programme pushed on the
// on-demand tab's stack when there is one (a tab switch takes it off), else the live tab. Each
// operation goes through the screen's own controls (its button, its slider), so that what the
// screen shows stays right. Main thread only.

#include <string>

class AudioPlayerViewController;
class AudioStreamer;
class OnDemandPlayer;
class myTabeBare;

namespace ui {
class Button;
}

class ShownPlayer {
public:
    explicit ShownPlayer(myTabeBare& tabs) : tabs_(tabs) {}

    OnDemandPlayer* programme() const;
    AudioPlayerViewController* live() const;
    ui::Button* playButton() const;
    AudioStreamer* streamer() const;

    // What a click on the button would start or stop: true when it shows the stop (pause)
    // image, that is, when the player is playing or on its way to, and while the live stream
    // waits to reconnect.
    bool isOn() const;
    // The shown player lost its stream and is waiting to try again (or trying).
    bool isRetrying() const;
    // A click on the player's button, when it is enabled.
    void pressPlayButton() const;
    void turnOn() const;
    void turnOff() const;

    // Only where the programme's own slider may seek.
    bool canSeek() const;
    // Seconds into the programme, and its length (0 where unknown or live).
    double position() const;
    double duration() const;
    // Moves the slider to `seconds` (clamped to the length) as a drag would; nothing where
    // the player cannot seek.
    void seekTo(double seconds) const;

private:
    myTabeBare& tabs_;
};
