#include "tools/station/StationCatalogue.h"

namespace station {

const std::vector<Programme>& stationProgrammes() {
    static const std::vector<Programme> programmes = {
        {"morning-tide.mp3", "Morning Tide", "Mara Lind",
         "Slow music for the first coffee, and the tide tables read at the top of the hour.",
         "audio/mpeg", "Mon, 02 Jun 2025 07:00:00 +0000"},
        {"harbour-report.mp3", "The Harbour Report", "Jonas Berg",
         "Ninety seconds of news from the quays: arrivals, departures and the fish prices.",
         "audio/mpeg", "Mon, 02 Jun 2025 12:00:00 +0000"},
        {"slow-lights.mp3", "Slow Lights", "Ilse Vang",
         "Ten minutes of ambient music for the evening walk along the breakwater.", "audio/mpeg",
         "Sun, 01 Jun 2025 21:00:00 +0000"},
        {"kitchen-table-sessions.aac", "Kitchen Table Sessions", "Tomas Reed and Ada Holm",
         "Local players drop by with an instrument and a story; this week, the accordion.",
         "audio/aac", "Sat, 31 May 2025 18:00:00 +0000"},
        {"night-ferry.mp3", "Night Ferry", "L\u00e9a Moreau",
         "Music for the last crossing of the day, with listeners' requests from the deck.",
         "audio/mpeg", "Fri, 30 May 2025 23:00:00 +0000"},
        {"letters-from-the-coast.m4a", "Letters from the Coast", "Ruth Okafor",
         "Listeners' letters read aloud, from the lighthouse keepers to the summer guests.",
         "audio/mp4", "Thu, 29 May 2025 16:00:00 +0000"},
    };
    return programmes;
}

const std::vector<std::string>& sponsorLines() {
    static const std::vector<std::string> lines = {
        "Harbour Bakery",
        "Fresh bread from six every morning",
        "Today's programmes come to you with the Harbour Bakery on Quay Street: fresh bread from "
        "six every morning, cinnamon buns until they run out, and coffee for everyone on the "
        "early ferry. Ostra Radio, the voice of the coast.",
    };
    return lines;
}

std::vector<std::string> stationAudioFiles() {
    std::vector<std::string> files = {kLiveLoopFile, kArtworkFile};
    for (const auto& programme : stationProgrammes()) files.push_back(programme.file);
    return files;
}

}  // namespace station
