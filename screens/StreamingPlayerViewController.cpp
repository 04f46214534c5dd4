#include "screens/StreamingPlayerViewController.h"

#include <cstdio>

#include "platform/PercentEscape.h"
#include "platform/ui/Layer.h"
#include "platform/ui/VolumeView.h"
#include "screens/ScreenSupport.h"
#include "screens/StationBackdrop.h"
#include "streaming/AudioStreamer.h"

namespace {
constexpr float kTurn = 6.2831855f;  // one turn, in radians
}

StreamingPlayerViewController::StreamingPlayerViewController() { setTitle("Streaming Player"); }

StreamingPlayerViewController::~StreamingPlayerViewController() {
    destroyStreamer();
    if (button_) button_->layer().removeAllAnimations();
}

void StreamingPlayerViewController::loadView() {
    auto* root = new StationBackdrop(ui::Rect(0, 0, 320, 480));
    root->setHeading("Streaming Player", "Type an audio address and press play", 16);

    downloadSourceField_ = new ui::TextField(ui::Rect(16, 90, 288, 32));
    downloadSourceField_->setPlaceholder("http://");
    downloadSourceField_->setAccessibleName("Stream address");
    downloadSourceField_->setShouldReturn(
        [this](ui::TextField& field) { return textFieldShouldReturn(field); });
    root->addSubview(downloadSourceField_);

    statusLabel_ = screens::addStatusLabel(*root, ui::Rect(16, 126, 288, 16));
    statusLabel_->setText(screens::statusText(nullptr));

    button_ = new ui::Button(ui::Rect(110, 146, 100, 100));
    screens::describePlayButton(*button_);
    button_->setAction([this](ui::Button& sender) { buttonPressed(sender); });
    root->addSubview(button_);

    volumeSlider_ = new ui::View(ui::Rect(20, 270, 280, 36));
    root->addSubview(volumeSlider_);

    positionLabel_ = screens::addTimeLabel(*root, ui::Rect(16, 326, 288, 24));
    progressSlider_ = screens::addProgressSlider(
        *root, ui::Rect(20, 360, 280, 30), [this](ui::Slider& slider) { sliderMoved(slider); });

    setView(root);
}

void StreamingPlayerViewController::viewDidLoad() {
    const ui::Rect placeholder = volumeSlider_->bounds();
    auto* volumeView =
        new ui::VolumeView(ui::Rect(0, 0, placeholder.width(), placeholder.height()));
    volumeSlider_->addSubview(volumeView);
    volumeView->sizeToFit();
    setButtonImage(screens::kPlayButtonImage);
}

void StreamingPlayerViewController::createStreamer() {
    if (streamer_) return;
    streamer_.create(
        platform::addPercentEscapes(downloadSourceField_ ? downloadSourceField_->text() : ""));
}

void StreamingPlayerViewController::destroyStreamer() { streamer_.destroy(); }

void StreamingPlayerViewController::buttonPressed(ui::Button& sender) {
    if (sender.currentImageIs(screens::kPlayButtonImage)) {
        if (downloadSourceField_) downloadSourceField_->resignFirstResponder();
        createStreamer();
        setButtonImage(screens::kLoadingButtonImage);
        streamer_->start();
    } else if (streamer_) {
        // Loading or playing: this stops the one streamer; the idle state then brings back the
        // play image.
        streamer_->stop();
    }
}

bool StreamingPlayerViewController::textFieldShouldReturn(ui::TextField& textField) {
    textField.resignFirstResponder();
    // Keeps an existing streamer and its URL; the user still presses the button to play.
    createStreamer();
    return true;
}

void StreamingPlayerViewController::playbackStateChanged(const platform::Notification&) {
    if (!streamer_) return;
    if (statusLabel_) statusLabel_->setText(screens::statusText(streamer_.get()));
    const auto image = screens::buttonImageFor(*streamer_.get(), screens::kLoadingStopImages);
    if (!image) return;
    // Idle: a new press makes a new streamer. This call may run inside the streamer's own
    // state change, so the object itself goes later.
    if (streamer_->isIdle()) streamer_.destroyFromItsNotification();
    setButtonImage(*image);
}

void StreamingPlayerViewController::setButtonImage(std::optional<std::string> imageName) {
    if (!button_) return;
    button_->layer().removeAllAnimations();
    button_->setImage(imageName.value_or(screens::kPlayButtonImage));
    if (button_->currentImageIs(screens::kLoadingButtonImage)) spinButton();
}

void StreamingPlayerViewController::spinButton() {
    if (!button_) return;
    ui::Layer& layer = button_->layer();
    const ui::Rect frame = button_->frame();

    ui::Transaction::begin();
    ui::Transaction::setDisableActions(true);
    layer.setAnchorPoint({0.5f, 0.5f});
    layer.setPosition({frame.x() + frame.width() / 2, frame.y() + frame.height() / 2});
    ui::Transaction::commit();

    ui::Transaction::begin();
    ui::Transaction::setDisableActions(false);
    ui::Transaction::setAnimationDuration(kSpinSeconds);
    ui::BasicAnimation rotation;
    rotation.keyPath = "transform.rotation.z";
    rotation.fromValue = 0;
    rotation.toValue = kTurn;
    rotation.timingFunction = ui::AnimationCurve::Linear;
    rotation.delegate = &animationGuard_;
    rotation.didStop = [this](bool finished) { animationDidStop(finished); };
    layer.addAnimation(rotation, "rotationAnimation");
    ui::Transaction::commit();
}

void StreamingPlayerViewController::animationDidStop(bool finished) {
    // A finished turn starts the next; a removed one (a new image) ends the spin.
    if (finished) spinButton();
}

void StreamingPlayerViewController::updateProgress(platform::Timer&) {
    if (!streamer_ || !positionLabel_ || !progressSlider_) return;
    if (streamer_->bitRate() == 0) {
        positionLabel_->setText("Time Played:");
        return;
    }
    const double progress = streamer_->progress();
    const double duration = streamer_->duration();
    if (duration > 0) {
        char text[96];
        std::snprintf(text, sizeof text, "Time Played: %.1f/%.1f seconds", progress, duration);
        positionLabel_->setText(std::string(text));
        progressSlider_->setEnabled(true);
        progressSlider_->setValue(static_cast<float>(100 * progress / duration));
    } else {
        // A live stream has no length: nothing to seek in.
        progressSlider_->setEnabled(false);
    }
}

void StreamingPlayerViewController::sliderMoved(ui::Slider& slider) {
    if (!streamer_) return;
    const double duration = streamer_->duration();
    if (duration != 0) streamer_->seekToTime(slider.value() / 100.0f * duration);
}
