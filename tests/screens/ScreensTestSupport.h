#pragma once
// Shared pieces of the screens' tests: a fixture on virtual time with the real streamer, a
// loopback station (advertisement list, feed, programmes, a live stream), a capture sink that
// plays in real time, an alert recorder, the application delegate that holds songURL, and a
// documents folder of the test's own.
//
// The main queue is deterministic: timers, the delayed start and the fades run only when a
// test advances the clock, while the streamer's own threads run for real and hand their state
// changes over through the queue.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "app/OstraRadioAppDelegate.h"
#include "platform/AlertPresenter.h"
#include "platform/Log.h"
#include "platform/audio/sink/CaptureAudioSink.h"
#include "platform/ui/Button.h"
#include "screens/StationAddresses.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestHttpServer.h"

namespace screentest {

struct Programme {
    std::string title;
    std::string url;
    std::vector<std::string> authors;
};

// A real RSS 2.0 channel: the channel's title and its image's title come ahead of the items.
std::string rssFeed(const std::vector<Programme>& programmes);
// An XML property list whose last string is `text`.
std::string adList(const std::string& text);

using testsupport::fixturePath;
using testsupport::readFile;
// A 128 kb/s MP3 programme of `bytes` bytes, about bytes / 16000 seconds long, whose length
// the streamer can tell only from the byte count.
std::string programmeBytes(size_t bytes);

// The name of a button's current image, or "" without one.
std::string imageName(const ui::Button* button);

class ScreenTest : public ui_test::VirtualTimeTest {
protected:
    static constexpr const char* kSponsorText =
        "Ostra Radio is brought to you by the harbour bakery";

    void SetUp() override;
    void TearDown() override;

    // The station's addresses on the test server.
    StationAddresses addresses() const;
    // Serves an endless, unpaced live MP3 stream at `path`.
    void serveLive(const std::string& path);
    // Serves `bytes` as an MP3 programme at `path`, with its length and byte ranges.
    void serveProgramme(const std::string& path, std::string bytes);

    // Sinks from now on play at `speed` times real time (0: at once) and keep what they play.
    void useCapture(double speed);
    std::vector<std::shared_ptr<audio::CaptureAudioSink>> captureSinks() const {
        return captureFactory_->sinks();
    }

    // Launches the whole main interface in a shown window, as the application does, with the
    // live tab on `liveURL`.
    void launchMainInterface(const std::string& liveURL);

    // Drains the main queue (the virtual clock stands still) until `done` holds; false after
    // `seconds` of real time.
    bool runUntil(const std::function<bool()>& done, double seconds = 15);
    // The same, moving the virtual clock on by `step` whenever nothing was posted.
    bool runUntilAdvancing(const std::function<bool()>& done, double step = 0.05,
                           double seconds = 15);

    // Runs at the end of every test before the streams are checked; tests put the screens
    // they made here, so that each stops its streamer before the server goes.
    std::function<void()> destroyScreens;

    std::unique_ptr<testsupport::TestHttpServer> server;
    std::shared_ptr<platform::RecordingAlertPresenter> alerts;
    std::unique_ptr<platform::LogCapture> logs;
    std::unique_ptr<OstraRadioAppDelegate> delegate;
    std::vector<std::string> opened;  // addresses handed to the URL opener

private:
    std::unique_ptr<audio::CaptureAudioSinkFactory> captureFactory_;
    std::unique_ptr<audio::ScopedAudioSinkFactory> scopedFactory_;
    std::filesystem::path documents_;
};

}  // namespace screentest
