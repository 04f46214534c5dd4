#include "screens/AudioPlayerViewController.h"

#include <algorithm>
#include <cmath>

#include "feeds/FetchAd.h"
#include "platform/Log.h"
#include "platform/PercentEscape.h"
#include "platform/ui/URLOpener.h"
#include "screens/ScreenSupport.h"
#include "screens/StationBackdrop.h"
#include "streaming/AudioStreamer.h"

namespace {
// The content area of a tab: the 480-point screen less the 49-point tab bar.
constexpr float kContentHeight = 431;
}  // namespace

AudioPlayerViewController::AudioPlayerViewController(StationAddresses addresses)
    : addresses_(std::move(addresses)) {
    setTitle("Live Radio");
    tabBarItem() = {"Live Radio", "tab_live.png"};
}

AudioPlayerViewController::~AudioPlayerViewController() {
    *alive_ = false;
    reconnect_.cancel();
    controls_.stop();
    removeScreenObservers();
    // The screen goes with its streamer: nobody else can stop it. stop returns only once the
    // streaming thread has ended.
    destroyStreamer();
    // A marquee that never reached the view is still this screen's to delete.
    if (autoScrollLabel1_ && !autoScrollLabel1_->parent()) delete autoScrollLabel1_.data();
    platform::log("Dealloc radio view controller");
}

void AudioPlayerViewController::loadView() {
    auto* root = new StationBackdrop(ui::Rect(0, 0, 320, kContentHeight));
    root->setHeading("Ostra Radio", "Live", 14);
    root->addBand(ui::Rect(0, 386, 320, 27));

    nowPlayingLabel_ = new ui::Label(ui::Rect(10, 62, 300, 18));
    nowPlayingLabel_->setFont(ui::Font::boldSystemFont(13));
    nowPlayingLabel_->setTextColor(ui::Color::white());
    nowPlayingLabel_->setTextAlignment(ui::TextAlignment::Center);
    nowPlayingLabel_->setUserInteractionEnabled(false);
    root->addSubview(nowPlayingLabel_);
    statusLabel_ = screens::addStatusLabel(*root, ui::Rect(10, 82, 300, 16));
    statusLabel_->setText(screens::statusText(nullptr));

    playButton_ = new ui::Button(ui::Rect(100, 104, 120, 120));
    screens::describePlayButton(*playButton_);
    playButton_->setImage(screens::kPlayButtonImage);
    playButton_->setAction([this](ui::Button& sender) { startTheAction(sender); });
    root->addSubview(playButton_);

    downloadButton_ = new ui::Button(ui::Rect(100, 246, 120, 32));
    downloadButton_->setTitle("Podcasts");
    downloadButton_->setTitleFont(ui::Font::boldSystemFont(14));
    downloadButton_->setBackgroundColor(ui::Color::rgb(0.22f, 0.29f, 0.42f));
    downloadButton_->setAction([this](ui::Button&) { download(); });
    root->addSubview(downloadButton_);

    // Filled with the volume control and brought to the front by stratStream.
    valView_ = new ui::View(ui::Rect(0, 300, 320, 46));
    root->addSubview(valView_);

    controls_.setControls(playButton_, valView_);
    setView(root);
}

void AudioPlayerViewController::viewDidLoad() {
    // Both notifications for as long as the screen exists, whichever tab shows. A reload
    //    after an unload replaces the registrations rather than doubling them.
    removeScreenObservers();
    auto& centre = platform::NotificationCenter::defaultCenter();
    songChangedToken_ = centre.addObserver(
        "SongChanged", nullptr, [this](const platform::Notification& n) { SongChanged(n); });
    showControlsToken_ = centre.addObserver(
        "ShowControls", nullptr, [this](const platform::Notification& n) { ShowControl(n); });
    titleToken_ =
        centre.addObserver(ASStreamTitleChangedNotification, nullptr,
                           [this](const platform::Notification& n) { streamTitleChanged(n); });

    // The marquee, added to the view only once it has its text.
    if (autoScrollLabel1_ && !autoScrollLabel1_->parent()) delete autoScrollLabel1_.data();
    autoScrollLabel1_ = new AutoScrollLabel(ui::Rect(0, 390, 320, 19));

    // The stream starts by itself shortly after the screen is built.
    std::weak_ptr<bool> alive = alive_;
    platform::MainQueue::main().postAfter(kStartDelay, [this, alive] {
        if (auto still = alive.lock(); still && *still) stratStream();
    });
}

void AudioPlayerViewController::stratStream() {
    // The sponsor text, fetched synchronously, into the marquee.
    const std::optional<std::string> text = FetchAd(addresses_.adListURL).getAds();
    ui::View* root = view();
    if (!autoScrollLabel1_) autoScrollLabel1_ = new AutoScrollLabel(ui::Rect(0, 390, 320, 19));
    autoScrollLabel1_->setText(text);
    autoScrollLabel1_->setTextColor(ui::Color::white());
    autoScrollLabel1_->scroll();
    root->addSubview(autoScrollLabel1_);

    // Only the first call on a view builds the stream; later ones refresh the text.
    const std::string songURL = screens::currentSongURL(addresses_);
    if (streamer_) return;

    // A streamer on the escaped URL, observed from itself only.
    streamer_.create(platform::addPercentEscapes(songURL));

    // The button, the volume control on top, the (never started) indicator; then the stream.
    playButton_->setImage(screens::kPlayButtonImage);
    spinner_ = screens::addPlayerControls(*root, *valView_).indicator;
    listening_ = true;
    streamer_->start();
}

void AudioPlayerViewController::destroyStreamer() { streamer_.destroy(); }

void AudioPlayerViewController::removeScreenObservers() {
    auto& centre = platform::NotificationCenter::defaultCenter();
    if (songChangedToken_) centre.removeObserver(songChangedToken_);
    if (showControlsToken_) centre.removeObserver(showControlsToken_);
    if (titleToken_) centre.removeObserver(titleToken_);
    songChangedToken_ = showControlsToken_ = titleToken_ = 0;
}

void AudioPlayerViewController::startTheAction(ui::Button& sender) {
    if (sender.currentImageIs(screens::kPlayButtonImage)) {
        if (isWaitingToReconnect()) {
            // Waiting to try again: try now, in the same listening session.
            reconnect_.attemptNow();
            sender.setImage(screens::kPauseButtonImage);
            return;
        }
        // A new listening session: its first error alerts again.
        listening_ = true;
        reconnect_.reset();
        // A streamer that failed once can never play again; a new one on the same address can.
        streamer_.replaceIfFailed(false);
        if (streamer_) {
            streamer_->setPresentsAlerts(true);
            streamer_->start();
        }
        sender.setImage(screens::kPauseButtonImage);
    } else {
        stopListening();
        sender.setImage(screens::kPlayButtonImage);
    }
}

void AudioPlayerViewController::stopListening() {
    listening_ = false;
    reconnect_.cancel();
    if (streamer_) streamer_->stop();
    showStatus();
}

void AudioPlayerViewController::scheduleReconnect() {
    reconnect_.wait();
    platform::log("Live stream lost; reconnecting in " +
                  std::to_string(int(reconnectDelay(reconnect_.attempts()))) + " s");
    showStatus();
}

void AudioPlayerViewController::reconnect() {
    if (!listening_) return;
    // A failed streamer is replaced; one that just ended starts again.
    streamer_.replaceIfFailed(false);
    if (!streamer_) return;
    streamer_->setPresentsAlerts(false);
    streamer_->start();
    showStatus();
}

void AudioPlayerViewController::showStatus() {
    if (!statusLabel_) return;
    if (isWaitingToReconnect()) {
        statusLabel_->setText(reconnect_.countdownText());
    } else {
        statusLabel_->setText(screens::statusText(streamer_.get()));
    }
}

void AudioPlayerViewController::download() { ui::openURL(addresses_.podcastURL); }

void AudioPlayerViewController::playbackStateChanged(const platform::Notification&) {
    if (autoScrollLabel1_) autoScrollLabel1_->scroll();
    if (streamer_ && streamer_->isPlaying()) reconnect_.reset();
    // An end the listener did not ask for: back on air as soon as the station lets us.
    if (listening_ && streamer_ && streamer_->isIdle() && !isWaitingToReconnect())
        scheduleReconnect();
    showStatus();
    if (!streamer_ || !playButton_) return;
    if (auto image = screens::buttonImageFor(*streamer_.get(), screens::kPlayPauseImages)) {
        playButton_->setImage(*image);
    }
}

void AudioPlayerViewController::streamTitleChanged(const platform::Notification& notification) {
    if (!streamer_ || notification.object != streamer_.get() || !nowPlayingLabel_) return;
    const std::string station = streamer_->stationName();
    const std::string title = streamer_->streamTitle();
    nowPlayingLabel_->setText(station.empty() || title.empty() ? station + title
                                                               : station + ": " + title);
}

void AudioPlayerViewController::SongChanged(const platform::Notification&) {
    // The streamer stays, so the play button can start it again.
    stopListening();
}

void AudioPlayerViewController::ShowControl(const platform::Notification&) {
    controls_.showControls();
}

void AudioPlayerViewController::viewWillAppear(bool) { controls_.restartTimer(); }

void AudioPlayerViewController::viewDidUnload() { destroyStreamer(); }

void AudioPlayerViewController::didReceiveMemoryWarning() {
    ui::ViewController::didReceiveMemoryWarning();
}
