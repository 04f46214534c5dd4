#include "app/ShownPlayer.h"

#include <algorithm>

#include "app/myTabeBare.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Slider.h"
#include "screens/AudioPlayerViewController.h"
#include "screens/OnDemandPlayer.h"
#include "screens/ScreenSupport.h"
#include "streaming/AudioStreamer.h"

namespace {
constexpr size_t kLiveTab = 0;
constexpr size_t kOnDemandTab = 1;
}  // namespace

OnDemandPlayer* ShownPlayer::programme() const {
    auto* navigation =
        dynamic_cast<ui::NavigationController*>(tabs_.viewControllerAt(kOnDemandTab));
    return navigation ? dynamic_cast<OnDemandPlayer*>(navigation->topViewController()) : nullptr;
}

AudioPlayerViewController* ShownPlayer::live() const {
    return dynamic_cast<AudioPlayerViewController*>(tabs_.viewControllerAt(kLiveTab));
}

ui::Button* ShownPlayer::playButton() const {
    if (OnDemandPlayer* player = programme()) return player->playButton();
    if (AudioPlayerViewController* player = live()) return player->playButton();
    return nullptr;
}

AudioStreamer* ShownPlayer::streamer() const {
    if (OnDemandPlayer* player = programme()) return player->streamer();
    if (AudioPlayerViewController* player = live()) return player->streamer();
    return nullptr;
}

bool ShownPlayer::isRetrying() const {
    if (OnDemandPlayer* player = programme()) return player->isResuming();
    return live() && live()->isWaitingToReconnect();
}

bool ShownPlayer::isOn() const {
    if (isRetrying()) return true;
    ui::Button* button = playButton();
    return button && !button->currentImageIs(screens::kPlayButtonImage);
}

void ShownPlayer::pressPlayButton() const {
    ui::Button* button = playButton();
    if (button && button->isEnabled()) button->sendAction();
}

void ShownPlayer::turnOn() const {
    if (!isOn()) pressPlayButton();
}

void ShownPlayer::turnOff() const {
    // Waiting to reconnect or resume, the button shows play (the stream is idle): stopping
    // ends the wait.
    if (isRetrying()) {
        if (OnDemandPlayer* player = programme()) {
            player->stopListening();
        } else {
            live()->stopListening();
        }
        return;
    }
    if (isOn()) pressPlayButton();
}

bool ShownPlayer::canSeek() const {
    OnDemandPlayer* player = programme();
    ui::Slider* slider = player ? player->progressSlider() : nullptr;
    return slider && slider->isEnabled() && player->streamer() &&
           player->streamer()->duration() > 0;
}

double ShownPlayer::position() const {
    OnDemandPlayer* player = programme();
    if (!player || !player->streamer()) return 0;
    // A seek being loaded reports its target.
    return std::max(0.0, player->streamer()->progress());
}

double ShownPlayer::duration() const {
    OnDemandPlayer* player = programme();
    return player && player->streamer() ? std::max(0.0, player->streamer()->duration()) : 0;
}

void ShownPlayer::seekTo(double seconds) const {
    if (!canSeek()) return;
    OnDemandPlayer* player = programme();
    ui::Slider& slider = *player->progressSlider();
    const double length = player->streamer()->duration();
    const double target = std::clamp(seconds, 0.0, length);
    slider.setValue(float(100 * target / length));
    player->sliderMoved(slider);
}
