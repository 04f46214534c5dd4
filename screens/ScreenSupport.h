#pragma once
// Small pieces every screen shares: the names of the button images, the current song URL the
// screens are handed, and whether a streamer must be replaced before it can play.
//
// Main thread only.

#include <functional>
#include <memory>
#include <string>

class AudioStreamer;
struct StationAddresses;
namespace ui {
class ActivityIndicatorView;
class Button;
class Label;
class Slider;
class View;
class VolumeView;
struct Rect;
}  // namespace ui

namespace screens {

inline constexpr const char* kPlayButtonImage = "playbutton.png";
inline constexpr const char* kPauseButtonImage = "pausebutton.png";
inline constexpr const char* kLoadingButtonImage = "loadingbutton.png";
inline constexpr const char* kStopButtonImage = "stopbutton.png";

// The current song's URL; empty when the screen was given no current song.
std::string currentSongURL(const StationAddresses& addresses);
// Sets the current song's URL; nothing without a current song.
void setCurrentSongURL(const StationAddresses& addresses, const std::string& url);

// A player's "Time Played:" label: white, centred, 16 points.
ui::Label* addTimeLabel(ui::View& root, const ui::Rect& frame);
// A player's position slider, 0 to 100 and disabled: nothing to seek in until a programme with
// a length plays.
ui::Slider* addProgressSlider(ui::View& root, const ui::Rect& frame,
                              std::function<void(ui::Slider&)> action);

// The volume control in `volumeHolder`, which comes to the front of `root`, and the activity
// indicator the live tab and the programme player add below their controls (and never start).
struct PlayerControls {
    ui::VolumeView* volume;
    ui::ActivityIndicatorView* indicator;
};
PlayerControls addPlayerControls(ui::View& root, ui::View& volumeHolder);

// A player's status line: small, centred, in the backdrop's pale blue.
ui::Label* addStatusLabel(ui::View& root, const ui::Rect& frame);
// What the player is doing, in plain words: "Connecting…" until the server answers,
// "Buffering…" until the audio starts (and whenever it runs dry), "Playing", "Paused",
// "Stopped", and after an error the error's own text.
std::string statusText(const AudioStreamer* streamer);

// The names a screen reader gives a player's button for each of its images: what a press does
// ("Play", "Stop"), or "Loading" while the basic player waits.
void describePlayButton(ui::Button& button);

// A streamer that recorded an error is done for good: started again, its thread ends at once.
// True when `streamer` is idle with such an error, so a play button must replace it.
bool needsReplacement(const AudioStreamer* streamer);

}  // namespace screens
