// The main queue on Qt's real event loop: posts from any thread land on the main thread in
// order, delayed calls and timers fire, and alerts never block.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMessageBox>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "UiTestSupport.h"
#include "platform/AlertPresenter.h"
#include "platform/ui/QtAlertPresenter.h"
#include "platform/ui/QtMainQueue.h"

namespace {

// Runs Qt's event loop until `done` holds or 5 s pass.
bool runUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 5000) return false;
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

class QtMainQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::ensureQtApplication();
        queue_ = std::make_shared<ui::QtMainQueue>();
        platform::MainQueue::setMain(queue_);
    }
    void TearDown() override {
        platform::MainQueue::setMain(nullptr);
        queue_.reset();
    }
    std::shared_ptr<ui::QtMainQueue> queue_;
};

// Tasks posted from another thread run later on the main thread, in posting order, and a post
// on the main thread never runs inline.
TEST_F(QtMainQueueTest, PostsRunOnTheMainThreadInOrder) {
    std::vector<int> order;
    std::atomic<bool> allOnMain{true};
    std::thread worker([&] {
        EXPECT_FALSE(queue_->isMainThread());
        for (int i = 0; i < 100; ++i) {
            queue_->post([&, i] {
                allOnMain = allOnMain && queue_->isMainThread();
                order.push_back(i);
            });
        }
    });
    worker.join();
    bool inline_ran = false;
    queue_->post([&] { inline_ran = true; });
    EXPECT_FALSE(inline_ran);
    ASSERT_TRUE(runUntil([&] { return order.size() == 100 && inline_ran; }));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

// A repeating timer fires until its callback invalidates it, and then the queue lets go of
// it; delayed calls come after their delay, also when asked for from another thread.
TEST_F(QtMainQueueTest, TimersAndDelayedCalls) {
    int ticks = 0;
    auto timer = queue_->scheduleTimer(0.01, true, [&](platform::Timer& t) {
        if (++ticks == 5) t.invalidate();
    });
    bool delayed = false;
    const double start = queue_->now();
    double firedAt = 0;
    std::thread([&] {
        queue_->postAfter(0.05, [&] {
            delayed = true;
            firedAt = queue_->now();
        });
    }).join();
    ASSERT_TRUE(runUntil([&] { return ticks == 5 && delayed; }));
    EXPECT_FALSE(timer->isValid());
    EXPECT_GE(firedAt - start, 0.045);
    ASSERT_TRUE(runUntil([&] { return queue_->activeTimerCount() == 0; }));
    EXPECT_EQ(ticks, 5);
}

// An alert shows as an open, non-modal message box, and showing it returns at once.
TEST_F(QtMainQueueTest, AlertsAreNonModalBoxes) {
    auto presenter = std::make_shared<ui::QtAlertPresenter>();
    platform::AlertPresenter::setCurrent(presenter);
    platform::presentAlert("File Error", "Unable to configure network read stream.", "OK");
    ASSERT_TRUE(runUntil([&] { return presenter->openCount() == 1; }));
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->windowTitle() == "File Error") {
            EXPECT_FALSE(w->isModal());
            w->close();
        }
    }
    EXPECT_TRUE(runUntil([&] { return presenter->openCount() == 0; }));
    platform::AlertPresenter::setCurrent(nullptr);
}

// Over an application window the alert is part of the window's own surface, so it is on
// screen the moment the window is: centred, in front, kept centred as the window is resized,
// and closed by its button.
TEST_F(QtMainQueueTest, AlertsAreDrawnInsideTheWindow) {
    QWidget window;
    window.resize(480, 720);
    window.setStyleSheet("background-color: black;");
    window.show();
    auto presenter = std::make_shared<ui::QtAlertPresenter>(&window);
    platform::AlertPresenter::setCurrent(presenter);
    platform::presentAlert("File Error", "Unable to configure network read stream.", "OK");
    ASSERT_TRUE(runUntil([&] { return presenter->openCount() == 1; }));
    QMessageBox* box = window.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->window(), &window);
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(box->geometry().center(), window.rect().center());

    // The window's own picture has the alert in it: mostly its light background, where the
    // window around it is black.
    const QImage drawn = window.grab().toImage();
    const QRect area = box->geometry();
    int light = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            light += drawn.pixelColor(x, y).value() > 128;
    EXPECT_GT(light, area.width() * area.height() / 2);
    EXPECT_EQ(drawn.pixelColor(5, 5), QColor(Qt::black));

    window.resize(800, 900);
    EXPECT_EQ(box->geometry().center(), window.rect().center());
    ASSERT_FALSE(box->buttons().isEmpty());
    box->buttons().front()->click();
    EXPECT_TRUE(runUntil([&] { return presenter->openCount() == 0; }));
    platform::AlertPresenter::setCurrent(nullptr);
}

}  // namespace
