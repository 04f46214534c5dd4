#include "screens/OnDemandPlayer.h"

#include <cstdio>

#include "feeds/FetchAd.h"
#include "platform/Log.h"
#include "platform/PercentEscape.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/URLOpener.h"
#include "screens/ScreenSupport.h"
#include "screens/StationBackdrop.h"
#include "streaming/AudioStreamer.h"

namespace {
// The player hides the navigation bar and has its own back control, so it fills the whole
// content area of the tab: the 480-point screen less the 49-point tab bar.
constexpr float kContentHeight = 431;
const ui::Color kBarButtonColor = ui::Color::rgb(0.22f, 0.29f, 0.42f);
}  // namespace

OnDemandPlayer::OnDemandPlayer(StationAddresses addresses) : addresses_(std::move(addresses)) {
    setTitle("Programme");
    // The screen alerts when it gives up, so that a download it resumes alerts nobody.
    streamer_.setStreamerAlerts(false);
}

OnDemandPlayer::~OnDemandPlayer() {
    controls_.stop();
    if (showControlsToken_) {
        platform::NotificationCenter::defaultCenter().removeObserver(showControlsToken_);
    }
    destroyStreamer();
    platform::log("Dealloc radio view controller");
}

std::string OnDemandPlayer::minutesText(double progress, double duration) {
    char text[96];
    std::snprintf(text, sizeof text, "Time Played: %.0f/%.0f minutes", progress / 60,
                  duration / 60);
    return text;
}

void OnDemandPlayer::loadView() {
    auto* root = new StationBackdrop(ui::Rect(0, 0, 320, kContentHeight));
    root->addBand(ui::Rect(0, 38, 320, 23));
    root->addBand(ui::Rect(0, 386, 320, 27));

    backButton_ = new ui::Button(ui::Rect(6, 4, 64, 30));
    backButton_->setTitle("Back");
    backButton_->setTitleFont(ui::Font::boldSystemFont(13));
    backButton_->setBackgroundColor(kBarButtonColor);
    backButton_->setAction([this](ui::Button&) { goBack(); });
    root->addSubview(backButton_);

    auto* heading = new ui::Label(ui::Rect(76, 4, 168, 30));
    heading->setText("On Demand");
    heading->setFont(ui::Font::boldSystemFont(17));
    heading->setTextColor(ui::Color::white());
    heading->setTextAlignment(ui::TextAlignment::Center);
    heading->setUserInteractionEnabled(false);
    root->addSubview(heading);

    downloadButton_ = new ui::Button(ui::Rect(244, 4, 70, 30));
    downloadButton_->setTitle("Podcasts");
    downloadButton_->setTitleFont(ui::Font::boldSystemFont(12));
    downloadButton_->setBackgroundColor(kBarButtonColor);
    downloadButton_->setAction([this](ui::Button&) { dawnload(); });
    root->addSubview(downloadButton_);

    statusLabel_ = screens::addStatusLabel(*root, ui::Rect(10, 64, 300, 16));
    statusLabel_->setText(screens::statusText(nullptr));

    playButton_ = new ui::Button(ui::Rect(110, 84, 100, 100));
    screens::describePlayButton(*playButton_);
    playButton_->setImage(screens::kPlayButtonImage);
    playButton_->setAction([this](ui::Button& sender) { startTheAction(sender); });
    root->addSubview(playButton_);

    lbltime_ = screens::addTimeLabel(*root, ui::Rect(10, 200, 300, 24));
    progressSlider_ = screens::addProgressSlider(
        *root, ui::Rect(20, 232, 280, 30), [this](ui::Slider& slider) { sliderMoved(slider); });

    valView_ = new ui::View(ui::Rect(0, 300, 320, 46));
    root->addSubview(valView_);

    controls_.setControls(playButton_, valView_);
    setView(root);
}

void OnDemandPlayer::viewDidLoad() {
    ui::View* root = view();

    // The two marquees, and the controls back on any touch of the tab bar.
    autoScrollLabel1_ = new AutoScrollLabel(ui::Rect(0, 40, 320, 19));
    autoScrollLabel2_ = new AutoScrollLabel(ui::Rect(0, 390, 320, 19));
    showControlsToken_ = platform::NotificationCenter::defaultCenter().addObserver(
        "ShowControls", nullptr, [this](const platform::Notification& n) { ShowControl(n); });

    // Sponsor text on top, author and title below; long texts scroll by themselves.
    autoScrollLabel1_->setText(FetchAd(addresses_.adListURL).getAds());
    autoScrollLabel2_->setText("Artist: " + artist_ + "    Title: " + songTitle_);
    for (AutoScrollLabel* marquee : {autoScrollLabel1_.data(), autoScrollLabel2_.data()}) {
        marquee->setTextColor(ui::Color::white());
        root->addSubview(marquee);
    }

    // The controls' fade, from a fresh start.
    controls_.startFresh();

    // The programme's own streamer, started at once, with its progress timer.
    const std::string songURL = screens::currentSongURL(addresses_);
    destroyStreamer();
    const std::string escaped = platform::addPercentEscapes(songURL);
    platform::log(escaped);
    listening_ = true;
    streamer_.createAndStart(escaped);

    // The button, the volume control on top, the (never started) indicator.
    playButton_->setImage(screens::kPlayButtonImage);
    const screens::PlayerControls controls = screens::addPlayerControls(*root, *valView_);
    volumeView_ = controls.volume;
    spinner_ = controls.indicator;
}

void OnDemandPlayer::viewWillAppear(bool) {
    // The player brings its own back control; the list shows the bar again.
    if (ui::NavigationController* navigation = navigationController()) {
        navigation->setNavigationBarHidden(true);
    }
    // Already running after viewDidLoad, so this changes nothing then.
    if (streamer_) streamer_->start();
}

void OnDemandPlayer::viewWillDisappear(bool) {
    stopListening();
    destroyStreamer();
    // Leaving by a tab switch takes the player off the stack, so the tab shows the list again;
    // leaving by a pop finds only the list left and changes nothing.
    if (ui::NavigationController* navigation = navigationController()) {
        navigation->popViewControllerAnimated(true);
    }
}

void OnDemandPlayer::goBack() {
    stopListening();
    destroyStreamer();
    if (ui::NavigationController* navigation = navigationController()) {
        navigation->popViewControllerAnimated(true);
    }
}

void OnDemandPlayer::destroyStreamer() { streamer_.destroy(); }

void OnDemandPlayer::updateProgress(platform::Timer&) {
    if (!streamer_ || !lbltime_) return;
    // Resuming: the time stays where the listener was until the audio from there plays.
    if (resumePosition_) {
        showProgress(*resumePosition_, resumeDuration_);
        return;
    }
    if (streamer_->bitRate() == 0) {
        lbltime_->setText("Time Played:");
        return;
    }
    const double progress = streamer_->progress();
    const double duration = streamer_->duration();
    showProgress(progress, duration);
}

void OnDemandPlayer::showProgress(double progress, double duration) {
    if (!lbltime_ || !progressSlider_) return;
    if (duration > kSeekableDuration) {
        lbltime_->setText(minutesText(progress, duration));
        progressSlider_->setEnabled(true);
        progressSlider_->setValue(static_cast<float>(progress * 100 / duration));
    } else {
        progressSlider_->setEnabled(false);
    }
}

void OnDemandPlayer::sliderMoved(ui::Slider& slider) {
    const double duration = resumePosition_ ? resumeDuration_
                            : streamer_     ? streamer_->duration()
                                            : 0.0;
    const double fraction = slider.value() / 100.0f;
    // The label shows the target at once, even when no seek follows.
    if (lbltime_) lbltime_->setText(minutesText(fraction * duration, duration));
    if (duration != 0) {
        newSeekTime_ = fraction * duration;
        // While resuming, the new position is where the next attempt starts.
        if (resumePosition_) resumePosition_ = newSeekTime_;
        if (streamer_) streamer_->seekToTime(newSeekTime_);
    }
}

void OnDemandPlayer::startTheAction(ui::Button& sender) {
    if (sender.currentImageIs(screens::kPlayButtonImage)) {
        if (resume_.isWaiting()) {
            resume_.attemptNow();
            sender.setImage(screens::kPauseButtonImage);
            return;
        }
        listening_ = true;
        // A streamer that failed once can never play again; a new one on the same address can.
        if (!streamer_.replaceIfFailed(true) && streamer_) streamer_->start();
        sender.setImage(screens::kPauseButtonImage);
    } else {
        stopListening();
        sender.setImage(screens::kPlayButtonImage);
    }
}

void OnDemandPlayer::stopListening() {
    listening_ = false;
    resume_.cancel();
    resumePosition_.reset();
    if (streamer_) streamer_->stop();
    showStatus();
}

void OnDemandPlayer::handleFailure() {
    AudioStreamer& failed = *streamer_.get();
    const AudioStreamerErrorCode error = failed.errorCode();
    // Lost on the way: the download failed after audio played. Once resuming, any failure
    // of an attempt counts (a station on its way back may answer with an error page).
    const bool networkLoss =
        error == AS_AUDIO_DATA_NOT_FOUND || error == AS_NETWORK_CONNECTION_FAILED;
    const bool lost = resumePosition_.has_value() ||
                      (networkLoss && failed.progress() > 0 && failed.duration() > 0);
    if (lost && !resumePosition_) {
        resumePosition_ = failed.progress();
        resumeBitRate_ = failed.calculatedBitRate();
        resumeDuration_ = failed.duration();
    }
    if (!lost || resume_.attempts() >= kResumeAttempts) {
        listening_ = false;
        resumePosition_.reset();
        resume_.cancel();
        AudioStreamer::presentFailureAlert();
        return;
    }
    platform::log("Programme download lost; resuming in " +
                  std::to_string(int(screens::RetrySchedule::delay(resume_.attempts()))) + " s");
    resume_.wait();
}

void OnDemandPlayer::resume() {
    if (!listening_ || !resumePosition_ || !streamer_) return;
    streamer_.replaceToResumeAt(*resumePosition_, resumeBitRate_);
    showStatus();
}

void OnDemandPlayer::showStatus() {
    if (!statusLabel_) return;
    statusLabel_->setText(resume_.isWaiting() ? resume_.countdownText()
                                              : screens::statusText(streamer_.get()));
}

void OnDemandPlayer::dawnload() { ui::openURL(addresses_.podcastURL); }

void OnDemandPlayer::playbackStateChanged(const platform::Notification&) {
    if (streamer_ && streamer_->isPlaying()) {
        resumePosition_.reset();
        resume_.reset();
    }
    // Several notifications may find the same idle streamer: the first one handles it.
    if (listening_ && streamer_ && streamer_->isIdle() && streamer_->errorCode() != AS_NO_ERROR &&
        !resume_.isWaiting()) {
        handleFailure();
    }
    showStatus();
    if (!streamer_ || !playButton_) return;
    if (auto image = screens::buttonImageFor(*streamer_.get(), screens::kPlayPauseImages)) {
        playButton_->setImage(*image);
    }
}

void OnDemandPlayer::ShowControl(const platform::Notification&) { controls_.showControls(); }

void OnDemandPlayer::viewDidUnload() {
    // The streamer object stays, as the design has it; only its playback ends.
    if (streamer_) streamer_->stop();
}

void OnDemandPlayer::didReceiveMemoryWarning() { ui::ViewController::didReceiveMemoryWarning(); }
