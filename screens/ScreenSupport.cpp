#include "screens/ScreenSupport.h"

#include "app/OstraRadioAppDelegate.h"
#include "platform/PercentEscape.h"
#include "streaming/AudioStreamer.h"

namespace screens {

std::string currentSongURL() {
    OstraRadioAppDelegate* delegate = OstraRadioAppDelegate::sharedDelegate();
    return delegate ? delegate->songURL() : std::string();
}

void setCurrentSongURL(const std::string& url) {
    if (OstraRadioAppDelegate* delegate = OstraRadioAppDelegate::sharedDelegate()) {
        delegate->setSongURL(url);
    }
}

std::shared_ptr<AudioStreamer> makeStreamer(const std::string& urlText) {
    return AudioStreamer::create(platform::addPercentEscapes(urlText));
}

bool needsReplacement(const AudioStreamer* streamer) {
    return streamer && streamer->isIdle() && streamer->errorCode() != AS_NO_ERROR;
}

}  // namespace screens
