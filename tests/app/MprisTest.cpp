// The media player on the session bus, driven by a real MPRIS client: each test starts a
// private dbus-daemon, the application on Qt's offscreen platform and real loop against a
// loopback station, and `playerctl` as another process on that bus.

#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "UiTestSupport.h"
#include "app/Application.h"
#include "app/MainInterface.h"
#include "app/MprisService.h"
#include "app/myTabeBare.h"
#include "feeds/CatalogueRefresh.h"
#include "platform/Files.h"
#include "platform/audio/sink/CaptureAudioSink.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TableView.h"
#include "platform/ui/VolumeView.h"
#include "screens/AudioPlayerViewController.h"
#include "screens/OnDemandPlayer.h"
#include "screens/On_DemandListViewController.h"
#include "screens/ScreenSupport.h"
#include "screens/StationAddresses.h"
#include "streaming/AudioStreamer.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestHttpServer.h"

namespace {

using testsupport::Response;

constexpr size_t kBytesPerSecond = 16000;  // the fixture's 128 kb/s
constexpr double kProgrammeSeconds = 90;

// Runs Qt's event loop until `done` holds or `seconds` pass.
bool runQtUntil(const std::function<bool()>& done, double seconds = 15) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000) return false;
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

std::string feedWithOneProgramme(const std::string& url) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
           "<title>Ostra Radio</title><link>http://radio.example/</link>"
           "<image><url>http://radio.example/logo.png</url><title>Ostra Radio logo</title></image>"
           "<item><title>Harbour Talk</title>"
           "<enclosure url=\"" +
           url +
           "\" length=\"1\" type=\"audio/mpeg\"/><author>Olof Lind</author></item>"
           "</channel></rss>\n";
}

std::string programmeBytes(size_t bytes) {
    static const std::string frames =
        testsupport::readFile(testsupport::fixturePath("cbr128-noxing.mp3"));
    std::string programme;
    while (programme.size() < bytes) programme += frames.substr(0, bytes - programme.size());
    return programme;
}

// A session bus of the test's own; `timeout` ends it even if the test dies.
class PrivateSessionBus {
public:
    PrivateSessionBus() {
        char folder[] = "/tmp/ostra-bus-XXXXXX";
        if (!mkdtemp(folder)) return;
        folder_ = folder;
        daemon_.start("timeout",
                      {"110", "dbus-daemon", "--session", "--nofork",
                       QString("--address=unix:path=%1/bus").arg(folder), "--print-address=1"});
        if (!daemon_.waitForStarted(5000)) return;
        QElapsedTimer clock;
        clock.start();
        while (!daemon_.canReadLine() && clock.elapsed() < 5000) daemon_.waitForReadyRead(100);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateSessionBus() {
        daemon_.kill();
        daemon_.waitForFinished(2000);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    const QString& address() const { return address_; }

private:
    QProcess daemon_;
    std::filesystem::path folder_;
    QString address_;
};

class MprisTest : public ::testing::Test {
protected:
    // One bus for the process: Qt keeps its session bus connection until the process ends.
    static void SetUpTestSuite() { sharedBus_ = new PrivateSessionBus(); }
    static void TearDownTestSuite() {
        delete sharedBus_;
        sharedBus_ = nullptr;
    }

    void SetUp() override {
        ASSERT_FALSE(bus_.address().isEmpty()) << "dbus-daemon did not start";
        // Before anything in this process opens the session bus.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().toUtf8().constData(), 1);
        char folder[] = "/tmp/ostra-mpris-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        home_ = folder;
        ::setenv("XDG_CACHE_HOME", (home_ / "cache").c_str(), 1);
        platform::setDocumentsDirectoryOverride(home_ / "documents");
        std::filesystem::create_directories(home_ / "documents");
        CatalogueRefresh::resetContinueNetForTesting();

        audio::CaptureOptions options;
        options.speed = 1.0;
        options.keepSamples = false;
        capture_ = std::make_unique<audio::CaptureAudioSinkFactory>(options);
        scopedSink_ = std::make_unique<audio::ScopedAudioSinkFactory>(capture_->factory());

        static const std::string frames =
            testsupport::readFile(testsupport::fixturePath("cbr128-noxing.mp3"));
        server.serve("/live", Response::live(testsupport::repeating(frames)).icy());
        server.serve("/harbour.mp3",
                     Response::bytes(programmeBytes(size_t(kProgrammeSeconds * kBytesPerSecond)))
                         .header("Content-Type", "audio/mpeg"));
        server.serve("/dev/feed/",
                     Response::bytes(feedWithOneProgramme(server.url("/harbour.mp3"))));
        server.serve("/adXML.plist",
                     Response::bytes("<?xml version=\"1.0\"?><plist version=\"1.0\"><array>"
                                     "<string>The harbour bakery</string></array></plist>"));

        ui_test::ensureQtApplication();
        app_ = std::make_unique<Application>(argc_, argv_);
        StationAddresses addresses = compiledInAddresses();
        addresses.adListURL = server.url("/adXML.plist");
        addresses.feedURL = server.url("/dev/feed/");
        addresses.podcastURL = server.url("/podcast/");
        app_->launch(addresses);
        app_->delegate().setSongURL(server.url("/live"));
    }
    void TearDown() override {
        app_.reset();
        CatalogueRefresh::shared().shutdown();
        scopedSink_.reset();
        capture_.reset();
        platform::setDocumentsDirectoryOverride(std::nullopt);
        std::error_code ignored;
        std::filesystem::remove_all(home_, ignored);
    }

    // playerctl's output, trimmed; the event loop runs while it waits for our answers.
    std::string playerctl(const QStringList& args) {
        QProcess client;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", bus_.address());
        client.setProcessEnvironment(environment);
        client.start("playerctl", args);
        if (!client.waitForStarted(5000)) return "<playerctl did not start>";
        runQtUntil([&] { return client.state() == QProcess::NotRunning; }, 10);
        if (client.state() != QProcess::NotRunning) {
            client.kill();
            client.waitForFinished(1000);
            return "<playerctl hung>";
        }
        const QString errors = QString::fromUtf8(client.readAllStandardError()).trimmed();
        if (!errors.isEmpty())
            std::printf("playerctl %s: %s\n", qPrintable(args.join(' ')), qPrintable(errors));
        return QString::fromUtf8(client.readAllStandardOutput()).trimmed().toStdString();
    }
    std::string player(const QStringList& args) {
        return playerctl(QStringList{"--player=OstraRadio"} + args);
    }

    myTabeBare& tabs() { return *app_->delegate().tabBarController(); }
    AudioPlayerViewController* live() {
        return dynamic_cast<AudioPlayerViewController*>(tabs().viewControllerAt(0));
    }
    ui::NavigationController* navigation() {
        return dynamic_cast<ui::NavigationController*>(tabs().viewControllerAt(1));
    }
    OnDemandPlayer* programme() {
        return navigation() ? dynamic_cast<OnDemandPlayer*>(navigation()->topViewController())
                            : nullptr;
    }
    bool livePlaying() { return live()->streamer() && live()->streamer()->isPlaying(); }
    long rangeStart(const std::string& path) {
        for (const auto& request : server.requests()) {
            const std::string range = request.header("range");
            if (request.path == path && range.rfind("bytes=", 0) == 0)
                return std::strtol(range.c_str() + 6, nullptr, 10);
        }
        return -1;
    }
    // Chooses the programme in the list, as a click on its row would.
    OnDemandPlayer* chooseTheProgramme() {
        tabs().setSelectedIndex(1);
        auto* list = dynamic_cast<On_DemandListViewController*>(navigation()->viewControllers()[0]);
        if (!list || !runQtUntil([&] {
                return list->tableView() && list->numberOfRowsInSection(*list->tableView(), 0) > 0;
            }))
            return nullptr;
        // The second showing reads the cached feed, authors included, as in the app.
        tabs().setSelectedIndex(0);
        tabs().setSelectedIndex(1);
        if (!runQtUntil([&] { return !list->artistForRow(0).empty(); })) return nullptr;
        list->tableView()->selectRow({0, 0});
        return programme();
    }

    static inline PrivateSessionBus* sharedBus_ = nullptr;
    PrivateSessionBus& bus_ = *sharedBus_;
    testsupport::TestHttpServer server;
    std::unique_ptr<Application> app_;

private:
    int argc_ = 1;
    char name_[11] = "OstraRadio";
    char* argv_[2] = {name_, nullptr};
    std::filesystem::path home_;
    std::unique_ptr<audio::CaptureAudioSinkFactory> capture_;
    std::unique_ptr<audio::ScopedAudioSinkFactory> scopedSink_;
};

// playerctl finds the player, reads the live stream's state and title, and drives the live
// screen's button both ways; a follower hears each change as it happens (PropertiesChanged).
TEST_F(MprisTest, PlayerctlSeesAndDrivesTheLiveStream) {
    ASSERT_TRUE(app_->mediaControls()->isRegistered());
    EXPECT_EQ(playerctl({"-l"}), "OstraRadio");
    ASSERT_TRUE(runQtUntil([&] { return livePlaying(); }));
    EXPECT_EQ(player({"status"}), "Playing");
    EXPECT_EQ(player({"metadata", "xesam:title"}), "Ostra Radio");
    // playerctl prints an object path in quotes.
    EXPECT_EQ(player({"metadata", "mpris:trackid"}),
              std::string("'") + MprisService::kLiveTrackId + "'");
    EXPECT_NE(player({"metadata", "mpris:artUrl"}).rfind("file:///", 0), std::string::npos);

    QProcess follower;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", bus_.address());
    follower.setProcessEnvironment(environment);
    follower.start("playerctl", {"--player=OstraRadio", "--follow", "status"});
    ASSERT_TRUE(follower.waitForStarted(5000));
    std::string followed;
    auto followerSaw = [&](const std::string& line) {
        return runQtUntil([&] {
            followed += QString::fromUtf8(follower.readAllStandardOutput()).toStdString();
            return followed.find(line) != std::string::npos;
        });
    };
    ASSERT_TRUE(followerSaw("Playing\n"));
    followed.clear();

    player({"play-pause"});
    EXPECT_TRUE(live()->playButton()->currentImageIs(screens::kPlayButtonImage));
    ASSERT_TRUE(runQtUntil([&] { return live()->streamer()->isIdle(); }));
    EXPECT_EQ(player({"status"}), "Stopped");
    EXPECT_TRUE(followerSaw("Stopped\n")) << followed;

    player({"play-pause"});
    // While it connects the button shows play (the design's waiting image); once the stream
    // plays, pause.
    ASSERT_TRUE(runQtUntil([&] { return livePlaying(); }));
    ASSERT_TRUE(runQtUntil(
        [&] { return live()->playButton()->currentImageIs(screens::kPauseButtonImage); }));
    EXPECT_TRUE(followerSaw("Playing\n")) << followed;

    player({"stop"});
    ASSERT_TRUE(runQtUntil([&] { return live()->streamer()->isIdle(); }));
    EXPECT_EQ(player({"status"}), "Stopped");
    player({"play"});
    ASSERT_TRUE(runQtUntil([&] { return livePlaying(); }));
    // The live stream cannot be sought.
    EXPECT_EQ(player({"metadata", "mpris:length"}), "");
    player({"position", "30"});
    EXPECT_EQ(rangeStart("/live"), -1);

    follower.kill();
    follower.waitForFinished(2000);
}

// After a programme is chosen the metadata names it and gives its length; "position 30"
// seeks it there with a ranged request, through the screen's own slider; the volume set on
// the bus is the one the volume control shows.
TEST_F(MprisTest, PlayerctlSeesTheProgrammeAndSeeksIt) {
    ASSERT_TRUE(runQtUntil([&] { return livePlaying(); }));
    OnDemandPlayer* chosen = chooseTheProgramme();
    ASSERT_NE(chosen, nullptr);
    ASSERT_TRUE(runQtUntil([&] { return chosen->progressSlider()->isEnabled(); }, 20));
    EXPECT_EQ(player({"metadata", "xesam:title"}), "Harbour Talk");
    EXPECT_EQ(player({"metadata", "xesam:artist"}), "Olof Lind");
    const long length = std::atol(player({"metadata", "mpris:length"}).c_str());
    EXPECT_NEAR(length / 1e6, kProgrammeSeconds, 1.0);
    EXPECT_EQ(player({"status"}), "Playing");

    player({"position", "30"});
    EXPECT_NEAR(chosen->progressSlider()->value(), 100 * 30 / kProgrammeSeconds, 1.5);
    ASSERT_TRUE(runQtUntil([&] { return rangeStart("/harbour.mp3") >= 0; }));
    EXPECT_NEAR(double(rangeStart("/harbour.mp3")), 30.0 * kBytesPerSecond, 2.0 * kBytesPerSecond);
    ASSERT_TRUE(runQtUntil([&] { return chosen->streamer() && chosen->streamer()->isPlaying(); }));
    EXPECT_NEAR(std::atof(player({"position"}).c_str()), 30, 3);
    // A relative seek, as the media keys' forward does.
    player({"position", "10+"});
    ASSERT_TRUE(runQtUntil([&] { return chosen->streamer() && chosen->streamer()->isPlaying(); }));
    EXPECT_NEAR(std::atof(player({"position"}).c_str()), 40, 3);

    player({"volume", "0.5"});
    EXPECT_FLOAT_EQ(ui::VolumeView::outputVolume(), 0.5f);
    EXPECT_NEAR(std::atof(player({"volume"}).c_str()), 0.5, 0.01);

    // Back to the list: the live screen is the player again.
    chosen->goBack();
    ASSERT_TRUE(runQtUntil([&] { return programme() == nullptr; }));
    EXPECT_TRUE(runQtUntil([&] { return player({"metadata", "xesam:title"}) == "Ostra Radio"; }));
    ui::VolumeView::setOutputVolume(1.0f);
}

// The headless application is on the bus too, and Quit ends it at once.
TEST(MprisProcess, HeadlessAppAnswersAndQuits) {
    PrivateSessionBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    testsupport::TestHttpServer server;
    static const std::string frames =
        testsupport::readFile(testsupport::fixturePath("cbr128-noxing.mp3"));
    server.serve("/live", Response::live(testsupport::repeating(frames)).icy());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    auto run = [&](QProcess& process, const QString& program, const QStringList& args) {
        process.setProcessEnvironment(environment);
        process.start(program, args);
        return process.waitForStarted(5000);
    };
    QProcess app;
    ASSERT_TRUE(run(app, OSTRA_APP_BINARY,
                    {"--headless", "--demo-seconds", "60", "--live-url",
                     QString::fromStdString(server.url("/live")), "--feed-url",
                     QString::fromStdString(server.url("/feed")), "--ad-url",
                     QString::fromStdString(server.url("/ads"))}));
    QElapsedTimer clock;
    clock.start();
    std::string listed;
    while (listed != "OstraRadio" && clock.elapsed() < 15000) {
        QProcess list;
        ASSERT_TRUE(run(list, "playerctl", {"-l"}));
        list.waitForFinished(5000);
        listed = QString::fromUtf8(list.readAllStandardOutput()).trimmed().toStdString();
    }
    EXPECT_EQ(listed, "OstraRadio");
    QProcess title;
    ASSERT_TRUE(run(title, "playerctl", {"--player=OstraRadio", "metadata", "xesam:title"}));
    title.waitForFinished(5000);
    EXPECT_EQ(QString::fromUtf8(title.readAllStandardOutput()).trimmed().toStdString(),
              "Ostra Radio");
    // playerctl has no quit command; dbus-send calls the root interface's Quit.
    QProcess call;
    ASSERT_TRUE(run(call, "dbus-send",
                    {"--session", "--print-reply", "--dest=org.mpris.MediaPlayer2.OstraRadio",
                     "/org/mpris/MediaPlayer2", "org.mpris.MediaPlayer2.Quit"}));
    call.waitForFinished(5000);
    EXPECT_EQ(call.exitCode(), 0) << call.readAllStandardError().toStdString();
    const bool ended = app.waitForFinished(10000);
    if (!ended) app.kill();
    EXPECT_TRUE(ended) << "the app did not quit";
    EXPECT_LT(clock.elapsed(), 30000);
    app.waitForFinished(2000);
}

}  // namespace
