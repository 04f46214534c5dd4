#pragma once
// The station program's command line.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/station/StationServer.h"

namespace station {

struct StationOptions {
    StationConfig config;
    std::filesystem::path generator;
    bool help = false;
};

// Defaults: loopback, ports 8170 and 8171, and the audio folder and generator compiled in.
// Returns nothing with `error` set for an unknown option or a bad value.
std::optional<StationOptions> parseStationOptions(const std::vector<std::string>& args,
                                                  std::string* error);

std::string stationUsage();

}  // namespace station
