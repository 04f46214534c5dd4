// The on-demand list inside the real main interface: rows from the feed, the order of a
// selection (songURL, "SongChanged", the pushed player), two players in turn for one row, and
// rows of a feed whose lists are out of step.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ScreensTestSupport.h"
#include "app/MainInterface.h"
#include "app/myTabeBare.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/NavigationController.h"
#include "screens/AudioPlayerViewController.h"
#include "screens/OnDemandPlayer.h"
#include "screens/On_DemandListViewController.h"
#include "streaming/AudioStreamer.h"

namespace {

using screentest::Programme;

class ListScreenTest : public screentest::ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        serveLive("/live");
        delegate->setSongURL(server->url("/live"));
        const std::string programme =
            screentest::readFile(screentest::fixturePath("cbr128-noxing.mp3"));
        for (const char* path :
             {"/programmes/morning.mp3", "/programmes/harbour.mp3", "/programmes/jazz.mp3"}) {
            serveProgramme(path, programme);
        }
        MainInterface main = loadMainInterface(addresses());
        tabs = std::move(main.tabBarController);
        destroyScreens = [this] { tabs.reset(); };
        live = dynamic_cast<AudioPlayerViewController*>(tabs->viewControllerAt(0));
        navigation = dynamic_cast<ui::NavigationController*>(tabs->viewControllerAt(1));
        ASSERT_NE(navigation, nullptr);
        list = dynamic_cast<On_DemandListViewController*>(navigation->viewControllers().front());
        ASSERT_NE(list, nullptr);
        tabs->beginAppearanceTransition(true, false);
        tabs->endAppearanceTransition();
    }

    std::vector<Programme> programmes() const {
        return {{"Morning Show", server->url("/programmes/morning.mp3"), {"Anna Berg"}},
                {"Harbour Talk", server->url("/programmes/harbour.mp3"), {"Olof Lind"}},
                {"Night Jazz", server->url("/programmes/jazz.mp3"), {"Maja Ek"}}};
    }
    void serveFeed(const std::string& feed) {
        server->serve("/dev/feed/", testsupport::Response::bytes(feed));
    }
    // Shows the list tab (the list reloads), then lets the push or pop slide finish.
    void showList() {
        tabs->setSelectedIndex(1);
        advance(0.5);
    }
    std::string rowText(int row) const {
        ui::TableViewCell* cell = list->tableView()->cellForRow({0, row});
        return cell && cell->textLabel().text() ? *cell->textLabel().text() : "<none>";
    }
    OnDemandPlayer* topPlayer() const {
        return dynamic_cast<OnDemandPlayer*>(navigation->topViewController());
    }
    size_t requestsFor(const std::string& path) const {
        size_t count = 0;
        for (const auto& request : server->requests()) count += request.path == path;
        return count;
    }

    int deallocs() const {
        int count = 0;
        for (const std::string& line : logs->lines()) {
            count += line.find("Dealloc radio view controller") != std::string::npos;
        }
        return count;
    }

    std::unique_ptr<myTabeBare> tabs;
    AudioPlayerViewController* live = nullptr;
    ui::NavigationController* navigation = nullptr;
    On_DemandListViewController* list = nullptr;
};

// Before any feed is loaded, or with a feed that names no programme, the table has no rows.
TEST_F(ListScreenTest, NoProgrammesGiveNoRows) {
    showList();
    EXPECT_EQ(list->tableView()->numberOfRows(), 0);
    serveFeed(screentest::rssFeed({}));
    tabs->setSelectedIndex(0);
    showList();
    EXPECT_EQ(list->tableView()->numberOfRows(), 0);
}

// A feed of N programmes gives N rows; row r shows the title r + 2 of the feed (the channel's
// two titles come first) in the rounded font at 15 points, and the authors arrive once the
// list comes from the cached feed.
TEST_F(ListScreenTest, OneRowPerProgrammeShowingItsTitle) {
    serveFeed(screentest::rssFeed(programmes()));
    showList();
    ASSERT_EQ(list->tableView()->numberOfRows(), 3);
    EXPECT_EQ(rowText(0), "Morning Show");
    EXPECT_EQ(rowText(2), "Night Jazz");
    const ui::Font font = list->tableView()->cellForRow({0, 0})->textLabel().font();
    EXPECT_EQ(font, ui::Font::named("Arial Rounded MT Bold", 15));
    EXPECT_TRUE(list->artists().empty());

    tabs->setSelectedIndex(0);
    showList();
    ASSERT_EQ(list->tableView()->numberOfRows(), 3);
    EXPECT_EQ(list->artists(), (std::vector<std::string>{"Anna Berg", "Olof Lind", "Maja Ek"}));
}

// Choosing a row stores the URL, then posts "SongChanged" (the live screen stops its stream
// before anything else happens), then pushes a player with the row's title and author, which
// plays the programme.
TEST_F(ListScreenTest, SelectionStoresTheURLThenNotifiesThenPushesAPlayer) {
    serveFeed(screentest::rssFeed(programmes()));
    advance(0.5);
    ASSERT_TRUE(runUntil([&] { return live->streamer() && live->streamer()->isPlaying(); }));
    showList();
    tabs->setSelectedIndex(0);
    showList();  // the second showing reads the cached feed, authors included

    struct AtNotification {
        std::string songURL;
        size_t depth = 0;
        bool liveIdle = false;
    };
    std::vector<AtNotification> notes;
    auto& centre = platform::NotificationCenter::defaultCenter();
    const auto token =
        centre.addObserver("SongChanged", nullptr, [&](const platform::Notification&) {
            notes.push_back({delegate->songURL(), navigation->depth(), live->streamer()->isIdle()});
        });
    list->tableView()->selectRow({0, 1});
    centre.removeObserver(token);

    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].songURL, server->url("/programmes/harbour.mp3"));
    EXPECT_EQ(notes[0].depth, 1u);
    EXPECT_TRUE(notes[0].liveIdle);
    ASSERT_NE(topPlayer(), nullptr);
    EXPECT_EQ(topPlayer()->songTitle(), "Harbour Talk");
    EXPECT_EQ(topPlayer()->artist(), "Olof Lind");
    ASSERT_NE(topPlayer()->streamer(), nullptr);
    EXPECT_EQ(topPlayer()->streamer()->urlString(), server->url("/programmes/harbour.mp3"));
    EXPECT_TRUE(runUntil([&] { return topPlayer()->streamer()->isPlaying(); }));
}

// The same row chosen twice gives two players in turn, each with its own streamer; the first
// has left the stack and is gone before the second arrives.
TEST_F(ListScreenTest, SameRowTwiceGivesTwoPlayersInTurn) {
    serveFeed(screentest::rssFeed(programmes()));
    showList();
    list->tableView()->selectRow({0, 0});
    advance(0.5);
    OnDemandPlayer* first = topPlayer();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(runUntil([&] { return first->streamer() && first->streamer()->isPlaying(); }));

    first->backButton()->sendAction();
    advance(0.5);
    EXPECT_EQ(navigation->topViewController(), list);
    // The popped player is released on the main queue after its slide.
    EXPECT_EQ(deallocs(), 1);

    list->tableView()->selectRow({0, 0});
    advance(0.5);
    OnDemandPlayer* second = topPlayer();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(navigation->depth(), 2u);
    EXPECT_EQ(second->songTitle(), "Morning Show");
    ASSERT_TRUE(runUntil([&] { return second->streamer() && second->streamer()->isPlaying(); }));
    EXPECT_EQ(requestsFor("/programmes/morning.mp3"), 2u);
}

// Lists out of step never read past an end: a programme without its title shows its file name
// in the row and the player, and one without an author gets an empty author.
TEST_F(ListScreenTest, RowsOfAnIrregularFeedStayWithinTheLists) {
    const std::string feed =
        "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel>\n"
        "<title>Ostra Radio</title><image><title>Ostra Radio logo</title></image>\n"
        "<item><title>Morning Show</title><author>Anna Berg</author>"
        "<enclosure url=\"" +
        server->url("/programmes/morning.mp3") +
        "\"/></item>\n"
        "<item><enclosure url=\"" +
        server->url("/programmes/harbour.mp3?from=feed") +
        "\"/></item>\n"
        "</channel></rss>\n";
    serveFeed(feed);
    showList();
    tabs->setSelectedIndex(0);
    showList();
    ASSERT_EQ(list->tableView()->numberOfRows(), 2);
    EXPECT_EQ(list->titls().size(), 3u);
    EXPECT_EQ(list->artists().size(), 1u);
    EXPECT_EQ(rowText(0), "Morning Show");
    EXPECT_EQ(rowText(1), "harbour.mp3");

    list->tableView()->selectRow({0, 1});
    ASSERT_NE(topPlayer(), nullptr);
    EXPECT_EQ(topPlayer()->songTitle(), "harbour.mp3");
    EXPECT_EQ(topPlayer()->artist(), "");
    EXPECT_EQ(topPlayer()->autoScrollLabel2()->text(),
              std::string("Artist:     Title: harbour.mp3"));
}

}  // namespace

namespace {

// A feed URL that is already percent-escaped is played as it is, not escaped a second time.
TEST_F(ListScreenTest, AlreadyEscapedProgrammeURLPlays) {
    serveProgramme("/programmes/night%20jazz.mp3", screentest::programmeBytes(320000));
    serveFeed(
        screentest::rssFeed({{"Night Jazz", server->url("/programmes/night%20jazz.mp3"), {}}}));
    showList();
    list->tableView()->selectRow({0, 0});
    ASSERT_NE(topPlayer(), nullptr);
    EXPECT_EQ(topPlayer()->streamer()->urlString(), server->url("/programmes/night%20jazz.mp3"));
    EXPECT_TRUE(runUntil([&] { return topPlayer()->streamer()->isPlaying(); }));
}

}  // namespace
