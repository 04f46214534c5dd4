#pragma once
// Small pieces every screen shares: the names of the button images, the shared current song
// URL kept by the application delegate, and a new streamer on a URL text.
//
// Main thread only.

#include <memory>
#include <string>

class AudioStreamer;

namespace screens {

inline constexpr const char* kPlayButtonImage = "playbutton.png";
inline constexpr const char* kPauseButtonImage = "pausebutton.png";
inline constexpr const char* kLoadingButtonImage = "loadingbutton.png";
inline constexpr const char* kStopButtonImage = "stopbutton.png";

// The delegate's songURL; empty when no application delegate exists.
std::string currentSongURL();
// Sets the delegate's songURL through its setter; nothing without a delegate.
void setCurrentSongURL(const std::string& url);

// A streamer on the URL text, percent-escaped as UTF-8: characters that may not appear in a
// URL are escaped, reserved characters and existing %XX sequences are kept, so an address the
// feed already escaped plays as it is.
std::shared_ptr<AudioStreamer> makeStreamer(const std::string& urlText);

// A streamer that recorded an error is done for good: started again, its thread ends at once.
// True when `streamer` is idle with such an error, so a play button must replace it.
bool needsReplacement(const AudioStreamer* streamer);

}  // namespace screens
