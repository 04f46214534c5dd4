#pragma once
// Small pieces every screen shares: the names of the button images, the current song URL the
// screens are handed, and whether a streamer must be replaced before it can play.
//
// Main thread only.

#include <memory>
#include <string>

class AudioStreamer;
struct StationAddresses;

namespace screens {

inline constexpr const char* kPlayButtonImage = "playbutton.png";
inline constexpr const char* kPauseButtonImage = "pausebutton.png";
inline constexpr const char* kLoadingButtonImage = "loadingbutton.png";
inline constexpr const char* kStopButtonImage = "stopbutton.png";

// The current song's URL; empty when the screen was given no current song.
std::string currentSongURL(const StationAddresses& addresses);
// Sets the current song's URL; nothing without a current song.
void setCurrentSongURL(const StationAddresses& addresses, const std::string& url);

// A streamer that recorded an error is done for good: started again, its thread ends at once.
// True when `streamer` is idle with such an error, so a play button must replace it.
bool needsReplacement(const AudioStreamer* streamer);

}  // namespace screens
