#pragma once
// What the demo station publishes: its name, its sponsor line and its recorded programmes.
// The audio files named here are made by tools/fixtures/make-station-audio.sh.

#include <string>
#include <vector>

namespace station {

struct Programme {
    std::string file;  // in the audio folder, served under /programmes/
    std::string title;
    std::string author;
    std::string description;
    std::string mimeType;
    std::string pubDate;  // RFC 822, as RSS wants it
};

inline constexpr const char* kStationName = "Ostra Radio";
inline constexpr const char* kLiveLoopFile = "live.mp3";
inline constexpr const char* kArtworkFile = "artwork.png";

const std::vector<Programme>& stationProgrammes();

// The advertisement list's entries; the last one is the sponsor line the players show.
const std::vector<std::string>& sponsorLines();

// Every file the station serves from its audio folder.
std::vector<std::string> stationAudioFiles();

}  // namespace station
