#pragma once
// The live radio tab. Half a second after its view loads it fetches the sponsor text into a
// marquee and starts one streamer on the application's songURL (the live stream at launch),
// without any user action. The play/stop button follows the streamer's state; the button and
// the volume control fade out on their own and come back on "ShowControls"; "SongChanged"
// (a programme was chosen in the list) stops the live stream, also while another tab shows.
// Under the heading, a line says what is on air when the station says so, and a status line
// what the player is doing.
//
// The streamer is used only through its public interface and observed only for its own
// ASStatusChangedNotification.
//
// Main thread only: view callbacks, timers, the delayed start, button actions and every
// notification. The advertisement fetch in stratStream blocks the main thread while it runs.

#include <QObject>
#include <QPointer>
#include <memory>
#include <string>

#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "screens/AutoScrollLabel.h"
#include "screens/FadingControls.h"
#include "screens/PlayerStreamer.h"
#include "screens/RetrySchedule.h"
#include "screens/StationAddresses.h"

class AudioPlayerViewController : public ui::ViewController {
public:
    // Delay between the view's load and stratStream.
    static constexpr double kStartDelay = 0.5;
    // The wait before reconnect attempt `attempt` (0 first): 1, 2, 4, 8 and 16 s, then every
    // 30 s for as long as the listener has not stopped.
    static double reconnectDelay(int attempt) { return screens::RetrySchedule::delay(attempt); }

    explicit AudioPlayerViewController(StationAddresses addresses);
    ~AudioPlayerViewController() override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidUnload() override;
    void didReceiveMemoryWarning() override;

    // Refreshes the marquee, and when no streamer exists creates and starts one on songURL.
    void stratStream();

    // The live stream ended with an error, or came to an end nobody asked for, while the
    // listener listened: a new attempt on the same URL follows after reconnectDelay. The first
    // error of a listening session alerts as designed; the attempts alert nobody. A press on
    // the button (its play image) tries at once; stopListening, "SongChanged" or a stop of the
    // playing stream end the attempts.
    bool isWaitingToReconnect() const { return reconnect_.isWaiting(); }
    double secondsUntilReconnect() const { return reconnect_.secondsLeft(); }
    int reconnectAttempts() const { return reconnect_.attempts(); }
    void stopListening();
    // Stop observing, invalidate the progress timer, stop, release; in that order.
    void destroyStreamer();

    // Actions.
    void startTheAction(ui::Button& sender);
    void download();

    // Observers and the fade timer.
    void playbackStateChanged(const platform::Notification& notification);
    void SongChanged(const platform::Notification& notification);
    void ShowControl(const platform::Notification& notification);
    // The station named a new title: the now-playing line follows.
    void streamTitleChanged(const platform::Notification& notification);
    void myMethod(platform::Timer& timer) { controls_.myMethod(timer); }

    // What the screen shows, for tests and screenshots.
    ui::Button* playButton() const { return playButton_; }
    ui::View* valView() const { return valView_; }
    AutoScrollLabel* autoScrollLabel1() const { return autoScrollLabel1_; }
    ui::Button* downloadButton() const { return downloadButton_; }
    // What is on air (the station's name and title, as the stream says) and what the player
    // is doing.
    ui::Label* nowPlayingLabel() const { return nowPlayingLabel_; }
    ui::Label* statusLabel() const { return statusLabel_; }
    AudioStreamer* streamer() const { return streamer_.get(); }
    const FadingControls& controls() const { return controls_; }

protected:
    void loadView() override;

private:
    void removeScreenObservers();
    void scheduleReconnect();
    void reconnect();
    void showStatus();

    const StationAddresses addresses_;

    // Views; the view hierarchy owns them, so they are empty after an unload.
    QPointer<ui::Button> playButton_;
    QPointer<ui::ActivityIndicatorView> spinner_;
    QPointer<ui::View> valView_;
    QPointer<ui::Button> downloadButton_;
    QPointer<ui::Label> nowPlayingLabel_;
    QPointer<ui::Label> statusLabel_;
    // Owned; added to the view by stratStream, until then deleted by this screen.
    QPointer<AutoScrollLabel> autoScrollLabel1_;

    FadingControls controls_;
    // The live stream has no progress to show: no progress timer.
    screens::PlayerStreamer streamer_{
        0, [this](const platform::Notification& n) { playbackStateChanged(n); }};

    platform::ObserverToken songChangedToken_ = 0;
    platform::ObserverToken showControlsToken_ = 0;
    platform::ObserverToken titleToken_ = 0;

    // The listener wants to hear the stream: set by the start and by play, cleared by stop and
    // by "SongChanged". While it is set an unasked-for end brings a reconnect.
    bool listening_ = false;
    // The countdown in the status line ticks each second of a wait.
    screens::RetrySchedule reconnect_{[this] { reconnect(); }, [this] { showStatus(); }};
    // Guards the delayed stratStream: it must not run once the screen is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
