#pragma once
// The headless demo: the whole application on Qt's offscreen platform for a fixed time, with a
// plain report on stdout of what a person would have seen. It is what the run command shows on
// a machine without a display (a server, CI), and what the end-to-end test runs.
//
// The report is read from outside the screens: the live streamer's state changes come from its
// ASStatusChangedNotification, the sponsor text and the programme rows from the screens' public
// accessors, polled on a main-queue timer. A few seconds in, the demo switches to the on-demand
// tab as a user would, so that the list loads its catalogue then.
//
// Main thread only: the constructor, start, every callback and the destructor.

#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

class Application;
class AudioPlayerViewController;
class On_DemandListViewController;
class OstraRadioAppDelegate;
struct StationAddresses;

struct HeadlessDemoOptions {
    static constexpr double kDefaultSeconds = 20;

    bool requested = false;  // --headless: even with a display
    double seconds = kDefaultSeconds;
    // Another station than the compiled-in one (tests and benchmarks run theirs on free
    // ports); empty keeps the compiled-in address. Honoured with a window too.
    std::string liveURL;
    std::string feedURL;
    std::string adURL;
};

// Takes the demo's own options out of argv and leaves the rest (Qt's) in place. Nothing, with
// `error` set, for an unknown value.
std::optional<HeadlessDemoOptions> parseHeadlessDemoOptions(int& argc, char** argv,
                                                            std::string* error);
std::string headlessDemoUsage();

// Asked for, or nowhere to show a window: no X11 or Wayland display, or Qt told to draw
// offscreen.
bool shouldRunHeadless(const HeadlessDemoOptions& options);

// The compiled-in addresses with the options' replacements.
StationAddresses headlessDemoAddresses(const HeadlessDemoOptions& options);

class HeadlessDemo {
public:
    // The share of the run after which the demo switches to the on-demand tab.
    static constexpr double kListSwitchShare = 0.4;
    // How often the screens' texts are looked at.
    static constexpr double kPollInterval = 0.25;

    // `quit` ends the event loop; called once, when the time is up.
    HeadlessDemo(OstraRadioAppDelegate& delegate, HeadlessDemoOptions options, std::ostream& out,
                 std::function<void()> quit);
    ~HeadlessDemo();
    HeadlessDemo(const HeadlessDemo&) = delete;
    HeadlessDemo& operator=(const HeadlessDemo&) = delete;

    // After the application launched.
    void start();
    // 0 when the live stream played and the list showed programmes, else 1.
    int exitStatus() const;
    // One line of the report, stamped with the seconds since start.
    void say(const std::string& line);

private:
    void statusChanged(const platform::Notification& notification);
    void titleChanged(const platform::Notification& notification);
    void poll();
    void showOnDemandList();
    void finish();
    double elapsed() const;

    AudioPlayerViewController* liveScreen() const;
    On_DemandListViewController* listScreen() const;

    OstraRadioAppDelegate& delegate_;
    const HeadlessDemoOptions options_;
    std::ostream& out_;
    std::function<void()> quit_;

    std::chrono::steady_clock::time_point startedAt_;
    platform::ObserverToken statusToken_ = 0;
    platform::ObserverToken titleToken_ = 0;
    std::shared_ptr<platform::Timer> pollTimer_;
    std::shared_ptr<platform::Timer> switchTimer_;
    std::shared_ptr<platform::Timer> endTimer_;

    // What has been reported, so that only changes are printed.
    const void* lastStreamer_ = nullptr;
    int lastState_ = -1;
    std::optional<std::string> lastSponsor_;
    std::vector<std::string> lastRows_;
    std::optional<double> playingAt_;
    std::vector<std::string> titles_;
    bool reportedWait_ = false;
    int reconnects_ = 0;
    bool finished_ = false;
};

// The process's headless run: makes the application on the offscreen platform, launches it
// against `options`' station, runs the demo to its end and returns its exit status.
int runHeadlessDemo(int& argc, char** argv, const HeadlessDemoOptions& options);
