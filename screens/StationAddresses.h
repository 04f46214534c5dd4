#pragma once
// The station's web addresses a screen needs: the advertisement list for the marquee, the
// programme feed for the list, and the podcast page the download control opens. The app
// passes the compiled-in ones; tests point them at their own loopback servers. The audio a
// player plays is not here: it comes from the application delegate's songURL.

#include <string>

struct StationAddresses {
    std::string adListURL;
    std::string feedURL;
    std::string podcastURL;
};
