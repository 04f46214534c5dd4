// The application's headless demo, run as the run command runs it where there is no display:
// the real OstraRadio program against the demo station, reporting on stdout what it showed.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "DemoTestSupport.h"
#include "app/HeadlessDemo.h"
#include "screens/StationAddresses.h"

using namespace demotest;

namespace {

std::vector<std::string> demoArguments(const StationChild& station, const std::string& seconds) {
    return {"--headless",
            "--demo-seconds",
            seconds,
            "--live-url",
            station.liveURL(),
            "--feed-url",
            station.webURL("/dev/feed/"),
            "--ad-url",
            station.webURL("/adXML.plist")};
}

// The last <string> of the station's advertisement list: the text the live screen shows.
std::string lastString(const std::string& plist) {
    const size_t end = plist.rfind("</string>");
    const size_t start = plist.rfind("<string>", end);
    if (end == std::string::npos || start == std::string::npos) return {};
    std::string text = plist.substr(start + 8, end - start - 8);
    for (auto [entity, plain] : {std::pair{"&apos;", "'"},
                                 {"&quot;", "\""},
                                 {"&lt;", "<"},
                                 {"&gt;", ">"},
                                 {"&amp;", "&"}}) {
        for (size_t at = text.find(entity); at != std::string::npos;
             at = text.find(entity, at + 1)) {
            text.replace(at, std::strlen(entity), plain);
        }
    }
    return text;
}

}  // namespace

// A short run reaches PLAYING, shows the sponsor line, lists the six programmes after
// switching tabs, and ends by itself with status 0.
TEST(HeadlessDemo, ReportsPlayingSponsorAndProgrammes) {
    StationChild station;
    ASSERT_TRUE(station.waitReady()) << station.log();
    TemporaryFolder data;
    const std::string sponsor = lastString(fetch(station.webURL("/adXML.plist")));
    ASSERT_FALSE(sponsor.empty());

    const ProgramRun run = runProgram(OSTRA_APP_BINARY, demoArguments(station, "8"), 60s,
                                      {"XDG_DATA_HOME=" + data.path().string()});
    EXPECT_EQ(run.exitStatus, std::optional<int>(0)) << run.output;
    EXPECT_NE(run.output.find("live: PLAYING"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("sponsor: " + sponsor), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("programmes: 6 rows"), std::string::npos) << run.output;
    // A first run has the titles only: the authors come with the cached feed.
    for (const char* row :
         {"1. Morning Tide\n", "4. Kitchen Table Sessions\n", "6. Letters from the Coast\n"}) {
        EXPECT_NE(run.output.find(row), std::string::npos) << row << "\n" << run.output;
    }
    EXPECT_NE(run.output.find("demo: done after 8 s"), std::string::npos) << run.output;
    // The catalogue went where a fresh install keeps it.
    EXPECT_TRUE(std::filesystem::exists(data.path() / "OstraRadio" / "SongList.XML"));
}

// The station options are the window's too: the live tab plays the stream it is given.
TEST(HeadlessDemo, TheWindowPlaysTheGivenLiveStream) {
    StationChild station;
    ASSERT_TRUE(station.waitReady()) << station.log();
    // A real display: without one (or on the offscreen platform) the program runs headless.
    XvfbChild display;
    if (!display.waitReady()) GTEST_SKIP() << "Xvfb did not start (scripts/install-deps.sh)";
    TemporaryFolder data;
    std::vector<std::string> arguments = demoArguments(station, "");
    arguments.erase(arguments.begin(), arguments.begin() + 3);  // no --headless, no length
    // A window never ends by itself: it is stopped once it had time to start the stream.
    const ProgramRun run = runProgram(
        OSTRA_APP_BINARY, arguments, 4s,
        {"DISPLAY=" + display.display(), "QT_QPA_PLATFORM=xcb",
         "XDG_DATA_HOME=" + data.path().string(), "XDG_CONFIG_HOME=" + data.path().string(),
         "XDG_CACHE_HOME=" + data.path().string()});
    EXPECT_NE(station.log().find("live from"), std::string::npos) << station.log() << "\n"
                                                                  << run.output;
}

// With no station answering, the demo still ends on time, but says that nothing played and
// fails, so a broken set-up is never reported as a working one.
TEST(HeadlessDemo, FailsWhenTheStationIsAway) {
    // A loopback port that is bound but never listens: every connection is refused.
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t length = sizeof addr;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&addr), &length);
    const std::string base = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

    TemporaryFolder data;
    const ProgramRun run =
        runProgram(OSTRA_APP_BINARY,
                   {"--headless", "--demo-seconds", "3", "--live-url", base + "/", "--feed-url",
                    base + "/dev/feed/", "--ad-url", base + "/adXML.plist"},
                   60s, {"XDG_DATA_HOME=" + data.path().string()});
    ::close(holder);
    EXPECT_EQ(run.exitStatus, std::optional<int>(1)) << run.output;
    EXPECT_NE(run.output.find("the live stream never played"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("0 programmes listed"), std::string::npos) << run.output;
}

// The demo's own options leave Qt's in place, and bad values are refused with a reason.
TEST(HeadlessDemo, OptionsLeaveQtArgumentsAndRefuseBadValues) {
    std::vector<std::string> strings = {
        "OstraRadio",     "-style", "fusion",     "--headless",
        "--demo-seconds", "5",      "--feed-url", "http://127.0.0.1:1/dev/feed/"};
    std::vector<char*> argv;
    for (auto& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(strings.size());
    std::string error;
    auto options = parseHeadlessDemoOptions(argc, argv.data(), &error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->requested);
    EXPECT_EQ(options->seconds, 5);
    EXPECT_EQ(options->feedURL, "http://127.0.0.1:1/dev/feed/");
    ASSERT_EQ(argc, 3);
    EXPECT_STREQ(argv[1], "-style");
    EXPECT_STREQ(argv[2], "fusion");
    EXPECT_EQ(argv[3], nullptr);
    EXPECT_EQ(headlessDemoAddresses(*options).feedURL, "http://127.0.0.1:1/dev/feed/");

    for (std::vector<std::string> bad : {std::vector<std::string>{"x", "--demo-seconds", "0"},
                                         {"x", "--demo-seconds", "abc"},
                                         {"x", "--demo-seconds", "1e9"},
                                         {"x", "--demo-seconds"},
                                         {"x", "--live-url", "file:///etc/passwd"}}) {
        std::vector<char*> badArgv;
        for (auto& s : bad) badArgv.push_back(s.data());
        badArgv.push_back(nullptr);
        int badArgc = static_cast<int>(bad.size());
        error.clear();
        EXPECT_FALSE(parseHeadlessDemoOptions(badArgc, badArgv.data(), &error)) << bad.back();
        EXPECT_FALSE(error.empty());
    }
}
