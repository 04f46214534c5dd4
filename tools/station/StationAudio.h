#pragma once
// Makes sure the station's audio folder holds every file it serves, running the generator
// script once when any is missing.
//
// Several stations (or test processes) may start at once on one folder: a lock file in the
// folder lets one of them generate while the others wait, and those then find the files.

#include <filesystem>
#include <string>
#include <vector>

#include "tools/station/StopSignal.h"

namespace station {

struct AudioCheck {
    bool ready = false;      // every file is there
    bool generated = false;  // this call ran the generator
    bool stopped = false;    // a stop was requested while the generator ran; it was ended
    std::string error;
};

// Files of `files` that are absent or empty in `dir`.
std::vector<std::string> missingAudioFiles(const std::filesystem::path& dir,
                                           const std::vector<std::string>& files);

// Runs `bash generator dir` when files are missing, with the generator's output going to
// this process's stderr. A stop request ends the generator and returns with `stopped`.
AudioCheck ensureStationAudio(const std::filesystem::path& dir,
                              const std::filesystem::path& generator,
                              const std::vector<std::string>& files, const StopSignal& stop);

}  // namespace station
