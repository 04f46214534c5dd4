#include <gtest/gtest.h>

#include "platform/AlertPresenter.h"
#include "platform/DeterministicMainQueue.h"
#include "platform/LocalizedString.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"

using platform::Notification;
using platform::NotificationCenter;

// An observer with an object filter hears only that object; a nil filter hears every poster.
TEST(NotificationCenter, ObjectFilter) {
    NotificationCenter center;
    int a = 0, b = 0;
    int filtered = 0, unfiltered = 0;
    center.addObserver("Changed", &a, [&](const Notification& n) {
        EXPECT_EQ(n.object, &a);
        ++filtered;
    });
    center.addObserver("Changed", nullptr, [&](const Notification&) { ++unfiltered; });
    center.post("Changed", &a);
    center.post("Changed", &b);
    center.post("Changed", nullptr);
    center.post("Other", &a);
    EXPECT_EQ(filtered, 1);
    EXPECT_EQ(unfiltered, 3);
}

// An observer removed by an earlier observer of the same post is not called any more, and
// one that removes itself is called once.
TEST(NotificationCenter, RemovalDuringPost) {
    NotificationCenter center;
    int selfRemoving = 0, victim = 0;
    platform::ObserverToken selfToken = 0, victimToken = 0;
    selfToken = center.addObserver("N", nullptr, [&](const Notification&) {
        ++selfRemoving;
        center.removeObserver(selfToken);
        center.removeObserver(victimToken);
    });
    victimToken = center.addObserver("N", nullptr, [&](const Notification&) { ++victim; });
    center.post("N");
    center.post("N");
    EXPECT_EQ(selfRemoving, 1);
    EXPECT_EQ(victim, 0);
    EXPECT_EQ(center.observerCount(), 0u);
}

// An observer added during a post first hears the next post; posting from inside an
// observer delivers the inner post at once.
TEST(NotificationCenter, AddAndPostDuringPost) {
    NotificationCenter center;
    int late = 0, inner = 0;
    bool added = false;
    center.addObserver("N", nullptr, [&](const Notification&) {
        if (!added) {
            added = true;
            center.addObserver("N", nullptr, [&](const Notification&) { ++late; });
            center.post("Inner");
        }
    });
    center.addObserver("Inner", nullptr, [&](const Notification&) { ++inner; });
    center.post("N");
    EXPECT_EQ(late, 0);
    EXPECT_EQ(inner, 1);
    center.post("N");
    EXPECT_EQ(late, 1);
}

// Alerts are queued to the main thread even when raised there, and the recorder keeps them.
TEST(AlertPresenter, AlertIsShownLaterOnMainQueue) {
    auto queue = std::make_shared<platform::DeterministicMainQueue>();
    platform::MainQueue::setMain(queue);
    auto recorder = std::make_shared<platform::RecordingAlertPresenter>();
    platform::AlertPresenter::setCurrent(recorder);

    platform::presentAlert("File Error", "Unable to configure network read stream.", "OK");
    EXPECT_EQ(recorder->count(), 0u);
    queue->drain();
    ASSERT_EQ(recorder->count(), 1u);
    EXPECT_EQ(recorder->alerts()[0].title, "File Error");
    EXPECT_EQ(recorder->alerts()[0].buttonTitle, "OK");

    platform::AlertPresenter::setCurrent(nullptr);
    platform::MainQueue::setMain(nullptr);
}

// The log writes one line per call into the innermost capture; lookup returns its key.
TEST(PlatformLog, CapturesOneLinePerCall) {
    platform::LogCapture outer;
    {
        platform::LogCapture inner;
        platform::log("first\n");
        platform::logf("%s err: %c%c%c%c %d", "x", 'w', 'h', 'a', 't', 7);
        EXPECT_EQ(inner.lines(), (std::vector<std::string>{"first", "x err: what 7"}));
    }
    platform::log("after");
    EXPECT_EQ(outer.lines(), (std::vector<std::string>{"after"}));
    EXPECT_EQ(platform::localizedString("File Error", "Errors"), "File Error");
}
