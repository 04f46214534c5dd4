#include "screens/ScreenSupport.h"

#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"
#include "platform/ui/VolumeView.h"
#include "screens/StationAddresses.h"
#include "streaming/AudioStreamer.h"

namespace screens {

std::string currentSongURL(const StationAddresses& addresses) {
    return addresses.currentSong ? addresses.currentSong->url() : std::string();
}

void setCurrentSongURL(const StationAddresses& addresses, const std::string& url) {
    if (addresses.currentSong) addresses.currentSong->setURL(url);
}

ui::Label* addTimeLabel(ui::View& root, const ui::Rect& frame) {
    auto* label = new ui::Label(frame);
    label->setFont(ui::Font::systemFont(16));
    label->setTextColor(ui::Color::white());
    label->setTextAlignment(ui::TextAlignment::Center);
    label->setText("Time Played:");
    root.addSubview(label);
    return label;
}

ui::Label* addStatusLabel(ui::View& root, const ui::Rect& frame) {
    auto* label = new ui::Label(frame);
    label->setFont(ui::Font::systemFont(12));
    label->setTextColor(ui::Color::rgb(0.66f, 0.74f, 0.88f));
    label->setTextAlignment(ui::TextAlignment::Center);
    label->setUserInteractionEnabled(false);
    root.addSubview(label);
    return label;
}

std::string statusText(const AudioStreamer* streamer) {
    if (!streamer) return "Stopped";
    if (streamer->errorCode() != AS_NO_ERROR)
        return AudioStreamer::stringForErrorCode(streamer->errorCode());
    switch (streamer->state()) {
        case AS_STATE_STARTING_THREAD: return "Connecting\u2026";
        case AS_STATE_WAITING_FOR_DATA:
            return streamer->httpHeaders() ? "Buffering\u2026" : "Connecting\u2026";
        case AS_STATE_WAITING_FOR_QUEUE_TO_START:
        case AS_STATE_BUFFERING:
        case AS_STATE_FLUSHING_EOF: return "Buffering\u2026";
        case AS_STATE_PLAYING: return "Playing";
        case AS_STATE_PAUSED: return "Paused";
        case AS_STATE_STOPPING:
        case AS_STATE_STOPPED:
        case AS_STATE_IDLE: break;
    }
    return "Stopped";
}

ui::Slider* addProgressSlider(ui::View& root, const ui::Rect& frame,
                              std::function<void(ui::Slider&)> action) {
    auto* slider = new ui::Slider(frame);
    slider->setRange(0, 100);
    slider->setEnabled(false);
    slider->setAction(std::move(action));
    slider->setAccessibleName("Position");
    root.addSubview(slider);
    return slider;
}

void describePlayButton(ui::Button& button) {
    button.setAccessibleNameForImage(kPlayButtonImage, "Play");
    button.setAccessibleNameForImage(kPauseButtonImage, "Stop");
    button.setAccessibleNameForImage(kStopButtonImage, "Stop");
    button.setAccessibleNameForImage(kLoadingButtonImage, "Loading");
}

PlayerControls addPlayerControls(ui::View& root, ui::View& volumeHolder) {
    auto* volume = new ui::VolumeView(ui::Rect(10, 5, 300, 36));
    volumeHolder.addSubview(volume);
    root.addSubview(&volumeHolder);
    auto* indicator = new ui::ActivityIndicatorView(ui::ActivityIndicatorView::Gray);
    indicator->setCenter({160, 400});
    root.addSubview(indicator);
    return {volume, indicator};
}

bool needsReplacement(const AudioStreamer* streamer) {
    return streamer && streamer->isIdle() && streamer->errorCode() != AS_NO_ERROR;
}

}  // namespace screens
