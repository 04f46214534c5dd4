#pragma once
// The player of one programme chosen in the on-demand list, pushed on the list's navigation
// stack. As its view loads it starts its own streamer on the application's songURL (which the
// list has just set) and shows the sponsor text and "Artist: ...    Title: ..." in two
// marquees, the time played every 1.5 s, a slider that seeks, and a play/stop button and
// volume control that fade as on the live screen. Leaving it, by its back control or by a
// tab switch, destroys its streamer and takes it off the stack.
//
// The streamer is used only through its public interface and observed only for its own
// ASStatusChangedNotification. A destroyed player is registered for nothing.
//
// Main thread only: view callbacks, both timers, actions and notifications. The
// advertisement fetch in viewDidLoad blocks the main thread while it runs.

#include <QPointer>
#include <memory>
#include <optional>
#include <string>

#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/VolumeView.h"
#include "screens/AutoScrollLabel.h"
#include "screens/FadingControls.h"
#include "screens/PlayerStreamer.h"
#include "screens/RetrySchedule.h"
#include "screens/StationAddresses.h"

class OnDemandPlayer : public ui::ViewController {
public:
    static constexpr double kProgressInterval = 1.5;
    // Programmes this short or shorter (and streams of unknown length) cannot be sought.
    static constexpr double kSeekableDuration = 20.0;
    // Attempts to resume a programme whose download failed part-way, on the live screen's
    // schedule (1, 2, 4, 8, 16 s), before the screen gives up and alerts.
    static constexpr int kResumeAttempts = 5;

    explicit OnDemandPlayer(StationAddresses addresses);
    ~OnDemandPlayer() override;

    void setSongTitle(std::string title) { songTitle_ = std::move(title); }
    const std::string& songTitle() const { return songTitle_; }
    void setArtist(std::string artist) { artist_ = std::move(artist); }
    const std::string& artist() const { return artist_; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidUnload() override;
    void didReceiveMemoryWarning() override;

    // Actions.
    void startTheAction(ui::Button& sender);
    void sliderMoved(ui::Slider& slider);
    void goBack();
    void dawnload();

    // Timers and observers.
    void updateProgress(platform::Timer& timer);
    void myMethod(platform::Timer& timer) { controls_.myMethod(timer); }
    void playbackStateChanged(const platform::Notification& notification);
    void ShowControl(const platform::Notification& notification);

    // Stop observing, invalidate the progress timer, stop, release; in that order.
    void destroyStreamer();

    // A download that fails after the programme has played is resumed where the listener
    // was: a new streamer asks for the bytes from there (a ranged request), and the time shown
    // holds that position meanwhile; no alert. After kResumeAttempts that do not reach play,
    // and for any other failure, the streamer's alert, shown by the screen. A press on the
    // button (its play image) during the wait resumes at once; stop ends the attempts.
    bool isResuming() const { return resumePosition_.has_value(); }
    const screens::RetrySchedule& resumeSchedule() const { return resume_; }
    void stopListening();

    // The display for a position and length: the minutes text and the slider when the
    // programme is longer than kSeekableDuration, else the slider disabled and the text kept.
    void showProgress(double progress, double duration);

    // What the screen shows, for tests and screenshots.
    ui::Button* playButton() const { return playButton_; }
    ui::View* valView() const { return valView_; }
    ui::Slider* progressSlider() const { return progressSlider_; }
    ui::Label* lbltime() const { return lbltime_; }
    ui::Label* statusLabel() const { return statusLabel_; }
    AutoScrollLabel* autoScrollLabel1() const { return autoScrollLabel1_; }
    AutoScrollLabel* autoScrollLabel2() const { return autoScrollLabel2_; }
    ui::Button* backButton() const { return backButton_; }
    AudioStreamer* streamer() const { return streamer_.get(); }
    double newSeekTime() const { return newSeekTime_; }
    const FadingControls& controls() const { return controls_; }

    // "Time Played: %.0f/%.0f minutes" for seconds played and the length in seconds.
    static std::string minutesText(double progress, double duration);

protected:
    void loadView() override;

private:
    void handleFailure();
    void resume();
    void showStatus();

    const StationAddresses addresses_;
    std::string songTitle_;
    std::string artist_;

    // Views; the view hierarchy owns them.
    QPointer<ui::Button> playButton_;
    QPointer<ui::ActivityIndicatorView> spinner_;
    QPointer<AutoScrollLabel> autoScrollLabel1_;
    QPointer<AutoScrollLabel> autoScrollLabel2_;
    QPointer<ui::VolumeView> volumeView_;
    QPointer<ui::View> valView_;
    QPointer<ui::Slider> progressSlider_;
    QPointer<ui::Label> lbltime_;
    QPointer<ui::Label> statusLabel_;
    QPointer<ui::Button> backButton_;
    QPointer<ui::Button> downloadButton_;

    FadingControls controls_;
    screens::PlayerStreamer streamer_{
        kProgressInterval, [this](const platform::Notification& n) { playbackStateChanged(n); },
        [this](platform::Timer& timer) { updateProgress(timer); }};
    double newSeekTime_ = 0;

    // The listener wants the programme to play: set by the start and by play, cleared by stop
    // and when the screen gives up.
    bool listening_ = false;
    std::optional<double> resumePosition_;
    double resumeBitRate_ = 0;
    double resumeDuration_ = 0;
    screens::RetrySchedule resume_{[this] { resume(); }, [this] { showStatus(); }};

    platform::ObserverToken showControlsToken_ = 0;
};
