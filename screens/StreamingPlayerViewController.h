#pragma once
// The basic player: one screen that plays whatever audio URL the user types. A text field for
// the URL, one button that starts and stops (its image is the screen's state: play, a spinning
// loading image while waiting, stop while playing), the volume control, the time played and a
// slider that shows the position and seeks. It drives one streamer at a time, through its
// public interface only, and observes only that streamer's ASStatusChangedNotification.
//
// Main thread only.

#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>

#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"
#include "screens/PlayerStreamer.h"

class StreamingPlayerViewController : public ui::ViewController {
public:
    static constexpr double kProgressInterval = 0.1;
    // One turn of the loading image takes this long.
    static constexpr double kSpinSeconds = 2.0;

    StreamingPlayerViewController();
    ~StreamingPlayerViewController() override;

    void viewDidLoad() override;

    // Actions and callbacks.
    void buttonPressed(ui::Button& sender);
    void sliderMoved(ui::Slider& slider);
    bool textFieldShouldReturn(ui::TextField& textField);
    void playbackStateChanged(const platform::Notification& notification);
    void updateProgress(platform::Timer& timer);
    void animationDidStop(bool finished);

    void createStreamer();
    // Stop observing, invalidate the progress timer, stop, release; in that order.
    void destroyStreamer();
    // nullopt shows the play image. The loading image spins.
    void setButtonImage(std::optional<std::string> imageName);
    void spinButton();

    // What the screen shows, for tests, screenshots and the tool.
    ui::TextField* downloadSourceField() const { return downloadSourceField_; }
    ui::Label* statusLabel() const { return statusLabel_; }
    ui::Button* button() const { return button_; }
    ui::Label* positionLabel() const { return positionLabel_; }
    ui::Slider* progressSlider() const { return progressSlider_; }
    AudioStreamer* streamer() const { return streamer_.get(); }

protected:
    void loadView() override;

private:
    QPointer<ui::TextField> downloadSourceField_;
    QPointer<ui::Button> button_;
    QPointer<ui::View> volumeSlider_;
    QPointer<ui::Label> positionLabel_;
    QPointer<ui::Label> statusLabel_;
    QPointer<ui::Slider> progressSlider_;
    screens::PlayerStreamer streamer_{
        kProgressInterval, [this](const platform::Notification& n) { playbackStateChanged(n); },
        [this](platform::Timer& timer) { updateProgress(timer); }};
    // The spin's did-stop callback is skipped once this (and so the screen) is gone.
    QObject animationGuard_;
};
