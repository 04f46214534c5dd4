#include "screens/ScreenSupport.h"

#include "screens/StationAddresses.h"
#include "streaming/AudioStreamer.h"

namespace screens {

std::string currentSongURL(const StationAddresses& addresses) {
    return addresses.currentSong ? addresses.currentSong->url() : std::string();
}

void setCurrentSongURL(const StationAddresses& addresses, const std::string& url) {
    if (addresses.currentSong) addresses.currentSong->setURL(url);
}

bool needsReplacement(const AudioStreamer* streamer) {
    return streamer && streamer->isIdle() && streamer->errorCode() != AS_NO_ERROR;
}

}  // namespace screens
