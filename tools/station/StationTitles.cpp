#include "tools/station/StationTitles.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace station {

namespace {
constexpr std::array<const char*, 6> kSegments = {
    "Morning Mix",        "Harbour Talk", "Songs from the Archipelago",
    "The Weather at Sea", "Night Jazz",   "Evening News",
};
// A length byte counts sixteen-byte units.
constexpr size_t kMaxTitleBytes = 255 * 16 - 16;
}  // namespace

std::string segmentTitle(double secondsOnAir, double segmentSeconds) {
    const double length = std::max(1.0, segmentSeconds);
    const auto segment = static_cast<long long>(std::floor(std::max(0.0, secondsOnAir) / length));
    return std::string("Segment ") + std::to_string(segment + 1) + ": " +
           kSegments[static_cast<size_t>(segment) % kSegments.size()];
}

std::string metadataBlock(const std::string& title, const std::string& previous) {
    if (title == previous) return std::string(1, '\0');
    // A quote would end the value early for some players.
    std::string value = title.substr(0, kMaxTitleBytes);
    std::replace(value.begin(), value.end(), '\'', '`');
    std::string text = "StreamTitle='" + value + "';";
    const size_t padded = (text.size() + 15) / 16 * 16;
    text.resize(padded, '\0');
    return std::string(1, static_cast<char>(padded / 16)) + text;
}

}  // namespace station
