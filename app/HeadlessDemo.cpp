#include "app/HeadlessDemo.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "app/Application.h"
#include "app/MainInterface.h"
#include "app/OstraRadioAppDelegate.h"
#include "app/myTabeBare.h"
#include "platform/AlertPresenter.h"
#include "platform/ui/NavigationController.h"
#include "screens/AudioPlayerViewController.h"
#include "screens/On_DemandListViewController.h"
#include "streaming/AudioStreamer.h"

namespace {

bool isEmptyOrUnset(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0';
}

// Alerts become report lines: on the offscreen platform a message box would be seen by nobody.
class ReportAlertPresenter : public platform::AlertPresenter {
public:
    explicit ReportAlertPresenter(std::function<void(const std::string&)> say)
        : say_(std::move(say)) {}
    void show(const platform::Alert& alert) override {
        say_("alert: " + alert.title + ": " + alert.message);
    }

private:
    std::function<void(const std::string&)> say_;
};

}  // namespace

std::optional<HeadlessDemoOptions> parseHeadlessDemoOptions(int& argc, char** argv,
                                                            std::string* error) {
    HeadlessDemoOptions options;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= argc) {
                *error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (arg == "--headless") {
            options.requested = true;
        } else if (arg == "--demo-seconds") {
            auto text = value("--demo-seconds");
            if (!text) return std::nullopt;
            char* end = nullptr;
            const double seconds = std::strtod(text->c_str(), &end);
            // A bound keeps a typo from leaving a process running for days.
            if (end == text->c_str() || *end != '\0' || !(seconds > 0) || seconds > 3600) {
                *error = "not a number of seconds between 0 and 3600: " + *text;
                return std::nullopt;
            }
            options.seconds = seconds;
        } else if (arg == "--live-url" || arg == "--feed-url" || arg == "--ad-url") {
            auto url = value(arg.c_str());
            if (!url) return std::nullopt;
            if (url->rfind("http://", 0) != 0 && url->rfind("https://", 0) != 0) {
                *error = "not an http or https URL: " + *url;
                return std::nullopt;
            }
            (arg == "--live-url"   ? options.liveURL
             : arg == "--feed-url" ? options.feedURL
                                   : options.adURL) = *url;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argv[kept] = nullptr;
    argc = kept;
    return options;
}

std::string headlessDemoUsage() {
    return "usage: OstraRadio [--headless] [--demo-seconds S] [--live-url URL] [--feed-url URL]\n"
           "                  [--ad-url URL] [Qt options]\n"
           "  Without a display (or with --headless) the app runs on Qt's offscreen platform for\n"
           "  S seconds (default 20), prints what happened and exits. The URL options replace the\n"
           "  compiled-in station addresses, with or without a window.\n";
}

bool shouldRunHeadless(const HeadlessDemoOptions& options) {
    if (options.requested) return true;
    const char* platformName = std::getenv("QT_QPA_PLATFORM");
    if (platformName && std::strcmp(platformName, "offscreen") == 0) return true;
    return isEmptyOrUnset("DISPLAY") && isEmptyOrUnset("WAYLAND_DISPLAY");
}

StationAddresses headlessDemoAddresses(const HeadlessDemoOptions& options) {
    StationAddresses addresses = compiledInAddresses();
    if (!options.feedURL.empty()) addresses.feedURL = options.feedURL;
    if (!options.adURL.empty()) addresses.adListURL = options.adURL;
    return addresses;
}

HeadlessDemo::HeadlessDemo(OstraRadioAppDelegate& delegate, HeadlessDemoOptions options,
                           std::ostream& out, std::function<void()> quit)
    : delegate_(delegate),
      options_(std::move(options)),
      out_(out),
      quit_(std::move(quit)),
      startedAt_(std::chrono::steady_clock::now()) {}

HeadlessDemo::~HeadlessDemo() {
    if (statusToken_) platform::NotificationCenter::defaultCenter().removeObserver(statusToken_);
    if (titleToken_) platform::NotificationCenter::defaultCenter().removeObserver(titleToken_);
    for (auto* timer : {&pollTimer_, &switchTimer_, &endTimer_}) {
        if (*timer) (*timer)->invalidate();
    }
}

void HeadlessDemo::start() {
    startedAt_ = std::chrono::steady_clock::now();
    say("demo: running headless for " + std::to_string(static_cast<int>(options_.seconds + 0.5)) +
        " s; live stream " + delegate_.songURL());
    // Every streamer's notifications, filtered in the callback: the live screen makes its
    // streamer half a second from now, and makes a new one when an old one failed.
    statusToken_ = platform::NotificationCenter::defaultCenter().addObserver(
        ASStatusChangedNotification, nullptr,
        [this](const platform::Notification& notification) { statusChanged(notification); });
    titleToken_ = platform::NotificationCenter::defaultCenter().addObserver(
        ASStreamTitleChangedNotification, nullptr,
        [this](const platform::Notification& notification) { titleChanged(notification); });
    auto& queue = platform::MainQueue::main();
    pollTimer_ = queue.scheduleTimer(kPollInterval, true, [this](platform::Timer&) { poll(); });
    switchTimer_ = queue.scheduleTimer(options_.seconds * kListSwitchShare, false,
                                       [this](platform::Timer&) { showOnDemandList(); });
    endTimer_ =
        queue.scheduleTimer(options_.seconds, false, [this](platform::Timer&) { finish(); });
}

int HeadlessDemo::exitStatus() const {
    return finished_ && playingAt_ && !lastRows_.empty() ? 0 : 1;
}

// Runs inside the streamer lock: reads the streamer only.
void HeadlessDemo::statusChanged(const platform::Notification& notification) {
    AudioPlayerViewController* live = liveScreen();
    if (!live || notification.object == nullptr || notification.object != live->streamer()) return;
    const AudioStreamer& streamer = *live->streamer();
    const AudioStreamerState state = streamer.state();
    if (notification.object == lastStreamer_ && state == lastState_) return;
    lastStreamer_ = notification.object;
    lastState_ = state;
    std::string line = std::string("live: ") + AudioStreamer::stateName(state);
    if (streamer.errorCode() != AS_NO_ERROR) {
        line += " (" + AudioStreamer::stringForErrorCode(streamer.errorCode()) + ")";
    }
    if (state == AS_STATE_PLAYING && !playingAt_) playingAt_ = elapsed();
    say(line);
}

void HeadlessDemo::titleChanged(const platform::Notification& notification) {
    AudioPlayerViewController* live = liveScreen();
    if (!live || notification.object == nullptr || notification.object != live->streamer()) return;
    const std::string title = live->streamer()->streamTitle();
    if (!titles_.empty() && titles_.back() == title) return;
    titles_.push_back(title);
    const std::string station = live->streamer()->stationName();
    say("now playing: " + (station.empty() ? title : station + ": " + title));
}

void HeadlessDemo::poll() {
    if (AudioPlayerViewController* live = liveScreen()) {
        const bool waiting = live->isWaitingToReconnect();
        if (waiting && !reportedWait_) {
            say("live: reconnecting in " +
                std::to_string(int(std::lround(live->secondsUntilReconnect()))) + " s (attempt " +
                std::to_string(live->reconnectAttempts() + 1) + ")");
            ++reconnects_;
        }
        reportedWait_ = waiting;
    }
    if (AudioPlayerViewController* live = liveScreen(); live && live->autoScrollLabel1()) {
        std::optional<std::string> sponsor = live->autoScrollLabel1()->text();
        if (sponsor && !sponsor->empty() && sponsor != lastSponsor_) {
            say("sponsor: " + *sponsor);
            lastSponsor_ = std::move(sponsor);
        }
    }
    On_DemandListViewController* list = listScreen();
    if (!list || !list->tableView()) return;
    std::vector<std::string> rows;
    const int count = list->numberOfRowsInSection(*list->tableView(), 0);
    for (int row = 0; row < count; ++row) {
        std::string text = list->titleForRow(row);
        const std::string artist = list->artistForRow(row);
        if (!artist.empty()) text += " \xe2\x80\x94 " + artist;
        rows.push_back(std::move(text));
    }
    if (rows == lastRows_) return;
    say("programmes: " + std::to_string(rows.size()) + " rows");
    for (size_t i = 0; i < rows.size(); ++i) {
        say("  " + std::to_string(i + 1) + ". " + rows[i]);
    }
    lastRows_ = std::move(rows);
}

void HeadlessDemo::showOnDemandList() {
    say("demo: switching to the On Demand tab");
    // As a tap on the tab would: the list appears, and loads its catalogue while it does.
    delegate_.tabBarController()->setSelectedIndex(1);
    poll();
}

void HeadlessDemo::finish() {
    if (finished_) return;
    poll();
    finished_ = true;
    std::ostringstream summary;
    summary << "demo: done after " << static_cast<int>(elapsed() + 0.5) << " s: ";
    if (playingAt_) {
        char when[32];
        std::snprintf(when, sizeof when, "%.1f", *playingAt_);
        summary << "the live stream played (PLAYING at " << when << " s)";
    } else {
        summary << "the live stream never played";
    }
    summary << ", sponsor text " << (lastSponsor_ ? "shown" : "not shown") << ", "
            << lastRows_.size() << " programmes listed";
    if (!titles_.empty()) summary << ", " << titles_.size() << " titles on air";
    if (reconnects_ > 0) summary << ", " << reconnects_ << " reconnects";
    say(summary.str());
    pollTimer_->invalidate();
    quit_();
}

void HeadlessDemo::say(const std::string& line) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%7.3f s  ", elapsed());
    // Flushed per line: the run command shows the report as it happens.
    out_ << stamp << line << std::endl;
}

double HeadlessDemo::elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt_).count();
}

AudioPlayerViewController* HeadlessDemo::liveScreen() const {
    myTabeBare* tabs = delegate_.tabBarController();
    return tabs ? dynamic_cast<AudioPlayerViewController*>(tabs->viewControllerAt(0)) : nullptr;
}

On_DemandListViewController* HeadlessDemo::listScreen() const {
    myTabeBare* tabs = delegate_.tabBarController();
    auto* navigation =
        tabs ? dynamic_cast<ui::NavigationController*>(tabs->viewControllerAt(1)) : nullptr;
    if (!navigation || navigation->depth() == 0) return nullptr;
    return dynamic_cast<On_DemandListViewController*>(navigation->viewControllers().front());
}

int runHeadlessDemo(int& argc, char** argv, const HeadlessDemoOptions& options) {
    // Before the QApplication exists: the platform plugin is chosen as it is made.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Application application(argc, argv);
    int status = 1;
    {
        HeadlessDemo demo(application.delegate(), options, std::cout, [&] { application.quit(); });
        platform::AlertPresenter::setCurrent(std::make_shared<ReportAlertPresenter>(
            [&demo](const std::string& line) { demo.say(line); }));
        application.launch(headlessDemoAddresses(options));
        // The live screen reads songURL half a second after launch, so a replacement set here
        // is the one it plays.
        if (!options.liveURL.empty()) application.delegate().setSongURL(options.liveURL);
        demo.start();
        application.exec();
        status = demo.exitStatus();
        // Alerts raised while the screens stop must not reach the demo once it is gone.
        platform::AlertPresenter::setCurrent(std::make_shared<platform::StderrAlertPresenter>());
    }
    return status;
}
