#pragma once
// The station's web addresses a screen needs: the advertisement list for the marquee, the
// programme feed for the list, and the podcast page the download control opens. The app
// passes the compiled-in ones; tests point them at their own loopback servers. With them comes
// the application's current song (the delegate's songURL): the audio the players play.

#include <memory>
#include <string>

#include "screens/CurrentSong.h"

struct StationAddresses {
    std::string adListURL;
    std::string feedURL;
    std::string podcastURL;
    // Shared with the application delegate; a screen without one plays nothing.
    std::shared_ptr<CurrentSong> currentSong;
};
