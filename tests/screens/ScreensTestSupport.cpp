#include "ScreensTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/MainInterface.h"
#include "app/myTabeBare.h"
#include "feeds/CatalogueRefresh.h"
#include "platform/Files.h"
#include "platform/ui/Image.h"
#include "platform/ui/URLOpener.h"
#include "platform/ui/Window.h"
#include "streaming/AudioStreamer.h"

namespace screentest {

std::string rssFeed(const std::vector<Programme>& programmes) {
    std::string feed =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<rss version=\"2.0\">\n<channel>\n"
        "  <title>Ostra Radio</title>\n"
        "  <link>http://radio.example/</link>\n"
        "  <image>\n    <url>http://radio.example/logo.png</url>\n"
        "    <title>Ostra Radio logo</title>\n  </image>\n";
    for (const Programme& programme : programmes) {
        feed += "  <item>\n    <title>" + programme.title + "</title>\n";
        feed += "    <enclosure url=\"" + programme.url + "\" length=\"1\" type=\"audio/mpeg\"/>\n";
        for (const std::string& author : programme.authors) {
            feed += "    <author>" + author + "</author>\n";
        }
        feed += "  </item>\n";
    }
    return feed + "</channel>\n</rss>\n";
}

std::string adList(const std::string& text) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<plist version=\"1.0\">\n<array>\n"
           "  <string>An older sponsor</string>\n"
           "  <string>" +
           text +
           "</string>\n"
           "</array>\n</plist>\n";
}

std::string programmeBytes(size_t bytes) {
    // Untagged frames without an Info frame, so the streamer knows the length only from the
    // byte count; back-to-back copies are one longer stream of frames.
    static const std::string frames = readFile(fixturePath("cbr128-noxing.mp3"));
    std::string programme;
    programme.reserve(bytes);
    while (programme.size() < bytes) programme += frames.substr(0, bytes - programme.size());
    return programme;
}

std::string imageName(const ui::Button* button) {
    if (!button || !button->currentImage()) return "";
    return button->currentImage()->name();
}

void ScreenTest::useCapture(double speed) {
    audio::CaptureOptions options;
    options.speed = speed;
    options.keepSamples = true;
    scopedFactory_.reset();
    captureFactory_ = std::make_unique<audio::CaptureAudioSinkFactory>(options);
    scopedFactory_ = std::make_unique<audio::ScopedAudioSinkFactory>(captureFactory_->factory());
}

void ScreenTest::SetUp() {
    VirtualTimeTest::SetUp();
    alerts = std::make_shared<platform::RecordingAlertPresenter>();
    platform::AlertPresenter::setCurrent(alerts);
    logs = std::make_unique<platform::LogCapture>();
    server = std::make_unique<testsupport::TestHttpServer>();
    server->serve("/adXML.plist", testsupport::Response::bytes(adList(kSponsorText)));

    // A device-like sink: it plays in real time and keeps no samples.
    audio::CaptureOptions options;
    options.speed = 1.0;
    options.keepSamples = false;
    captureFactory_ = std::make_unique<audio::CaptureAudioSinkFactory>(options);
    scopedFactory_ = std::make_unique<audio::ScopedAudioSinkFactory>(captureFactory_->factory());

    // Each test is a fresh install: its own documents folder, no feed cached, refreshing on.
    char folder[] = "/tmp/ostra-screens-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    documents_ = folder;
    platform::setDocumentsDirectoryOverride(documents_);
    CatalogueRefresh::resetContinueNetForTesting();

    ui::setURLOpenHandler([this](const std::string& url) {
        opened.push_back(url);
        return true;
    });
    delegate = std::make_unique<OstraRadioAppDelegate>();
}

void ScreenTest::TearDown() {
    if (destroyScreens) destroyScreens();
    destroyScreens = nullptr;
    delegate.reset();
    EXPECT_TRUE(AudioStreamer::waitForStreamingThreads(10)) << "a streaming thread is left";
    EXPECT_TRUE(CatalogueRefresh::shared().shutdown());
    queue().drain();
    server.reset();
    scopedFactory_.reset();
    captureFactory_.reset();
    ui::setURLOpenHandler(nullptr);
    logs.reset();
    platform::AlertPresenter::setCurrent(nullptr);
    platform::setDocumentsDirectoryOverride(std::nullopt);
    std::error_code ignored;
    std::filesystem::remove_all(documents_, ignored);
    VirtualTimeTest::TearDown();
}

StationAddresses ScreenTest::addresses() const {
    return {server->url("/adXML.plist"), server->url("/dev/feed/"), server->url("/podcast/"),
            delegate ? delegate->currentSong() : nullptr};
}

void ScreenTest::serveLive(const std::string& path) {
    static const std::string frames = readFile(fixturePath("cbr128-noxing.mp3"));
    server->serve(path, testsupport::Response::live(testsupport::repeating(frames)).icy());
}

void ScreenTest::serveProgramme(const std::string& path, std::string bytes) {
    server->serve(
        path, testsupport::Response::bytes(std::move(bytes)).header("Content-Type", "audio/mpeg"));
}

void ScreenTest::launchMainInterface(const std::string& liveURL) {
    MainInterface main = loadMainInterface(addresses());
    delegate->setWindow(std::move(main.window));
    delegate->setTabBarController(std::move(main.tabBarController));
    delegate->applicationDidFinishLaunching();
    delegate->setSongURL(liveURL);
    delegate->window()->makeKeyAndVisible();
}

bool ScreenTest::runUntil(const std::function<bool()>& done, double seconds) {
    return queue().runUntil(done, std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
}

bool ScreenTest::runUntilAdvancing(const std::function<bool()>& done, double step, double seconds) {
    return queue().runUntilAdvancing(done, step,
                                     std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
}

}  // namespace screentest
